#pragma once
// The prober: asks each announced race's host, from the address the announcement came from,
// as a joining game would (EnumSessions to UDP 47624, the reply over TCP, then a connect to
// the game port the reply names). Its own thread and event loop; it never holds up a player's
// answer or a commit. It learns of races only from what the writer committed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "probe/check.h"
#include "probe/probe_config.h"
#include "races/expiry.h"

namespace lobby {

class Prober final : public Checks {
public:
    // withdraw: called on the prober's thread for a race silent for --withdraw-silent; the
    // caller hands the writer its Remove. log: one line, without "kestrun-lobby: ".
    Prober(ProbeConfig config, Expiry expiry, std::function<std::int64_t()> wallClock, ProbeCounters& counters,
           std::function<void(int game, std::uint32_t ip)> withdraw,
           std::function<void(const std::string&)> log);
    ~Prober() override;
    Prober(const Prober&) = delete;
    Prober& operator=(const Prober&) = delete;

    // The prober's thread: returns once stop() was called (also before run()), or at once
    // when probing is off.
    void run();
    void stop();

    // On the writer, as it commits: an announcement (also one that replaces a race) and a
    // race that went (withdrawn or expired).
    void announced(int game, std::uint32_t ip, std::int64_t created);
    void gone(int game, std::uint32_t ip);

    Check of(int game, std::uint32_t ip) const override;
    bool checkAgain(std::uint32_t ip, std::int64_t now) override;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace lobby
