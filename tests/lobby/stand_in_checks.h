#pragma once
// What a prober would have found, set by a test: one check per host address, the same for
// every game; "Check again" as the prober grants it (once per 10 s per address, and only
// for an address it knows).
#include <map>
#include <mutex>

#include "probe/check.h"

class StandInChecks final : public lobby::Checks {
public:
    void set(std::uint32_t ip, const lobby::Check& check) {
        std::lock_guard lock(mutex_);
        checks_[ip] = check;
    }
    lobby::Check of(int, std::uint32_t ip) const override {
        std::lock_guard lock(mutex_);
        auto found = checks_.find(ip);
        return found == checks_.end() ? lobby::Check{} : found->second;
    }
    bool checkAgain(std::uint32_t ip, std::int64_t now) override {
        std::lock_guard lock(mutex_);
        if (!checks_.count(ip)) return false;
        auto [asked, fresh] = askedAt_.try_emplace(ip, now);
        if (!fresh && now - asked->second < 10) return false;
        asked->second = now;
        checks_[ip].state = lobby::CheckState::Checking;
        return true;
    }

private:
    mutable std::mutex mutex_;
    std::map<std::uint32_t, lobby::Check> checks_;
    std::map<std::uint32_t, std::int64_t> askedAt_;
};

// The states a page shows, as the tests and the browser test's lobby set them.
inline lobby::Check answering(int players, int maxPlayers, bool password, std::int64_t checked) {
    lobby::Check c;
    c.state = lobby::CheckState::Answering;
    c.checked = checked;
    c.session = "Sunday cup";
    c.players = players;
    c.maxPlayers = maxPlayers;
    c.password = password;
    c.gamePort = 2350;
    return c;
}
inline lobby::Check notReachable(lobby::FailedStep step, std::int64_t checked) {
    lobby::Check c;
    c.state = lobby::CheckState::NotReachable;
    c.checked = checked;
    c.failedStep = step;
    if (step == lobby::FailedStep::GamePort) c.gamePort = 2350;
    return c;
}
