#pragma once
// When each race's host is asked, and what its checks add up to: pure bookkeeping driven by
// the clock it is given, with the bounds the prober keeps (one check per address at a time,
// a few in flight, a datagram budget per address). Not thread-safe: its owner locks.
#include <chrono>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <utility>
#include <vector>

#include "probe/check.h"
#include "probe/dplay.h"
#include "probe/probe_config.h"
#include "races/expiry.h"

namespace lobby {

class ProbeSchedule {
public:
    using Time = std::chrono::steady_clock::time_point;

    // expiry: the lobby's; a race the writer never reports gone (removed by another process)
    // is forgotten when it would have expired.
    ProbeSchedule(const ProbeTimings& timings, Expiry expiry) : t_(timings), expiry_(expiry) {}

    // A race announced (or announced again, which starts it afresh): checked at once.
    void announced(int game, std::uint32_t ip, std::int64_t created, Time now);
    void withdrawn(int game, std::uint32_t ip);

    struct Start {
        int game = 0;
        std::uint32_t ip = 0;
        std::uint64_t generation = 0;
    };
    // The checks to begin now, oldest announcement first; each counts as in flight until
    // finished() is told its end.
    std::vector<Start> due(Time now, std::int64_t wallNow);
    // Spends one of the address's datagrams; false when its budget is spent.
    bool takeDatagram(std::uint32_t ip, Time now);

    struct Result {
        FailedStep failed = FailedStep::None;
        std::uint16_t gamePort = 0;  // named in the reply, if one came
        dplay::Session session;      // answered only
    };
    // True when the race has now been silent for --withdraw-silent and is to be withdrawn.
    bool finished(const Start& start, const Result& result, Time now, std::int64_t wallNow);

    // The check could not begin (the prober cannot listen): the race waits, unchanged.
    void postpone(const Start& start, Time until);

    // A host's own request: its races are checked as soon as the bounds let them.
    bool checkAgain(std::uint32_t ip, std::int64_t wallNow);

    Check of(int game, std::uint32_t ip) const;
    std::size_t inFlight() const { return inFlight_; }
    std::size_t races() const { return races_.size(); }
    std::size_t addresses() const { return addresses_.size(); }

private:
    static constexpr Time kLongAgo = Time{} - std::chrono::hours(24 * 365);
    struct RaceProbe {
        Time announced{}, due{}, failingSince{};
        std::int64_t created = 0;
        std::uint64_t order = 0, generation = 0;
        bool answeredEver = false, withdrawing = false;
        int failures = 0;  // in a row
        Check check;
    };
    struct AddressProbe {
        bool busy = false;
        int races = 0;
        Time lastStart = kLongAgo;
        double credits = 0;
        Time creditsAt{};
        std::int64_t lastAsked = -(std::int64_t{1} << 62);
    };
    double credits(AddressProbe& address, Time now) const;

    ProbeTimings t_;
    Expiry expiry_;
    std::map<std::pair<int, std::uint32_t>, RaceProbe> races_;
    std::unordered_map<std::uint32_t, AddressProbe> addresses_;
    std::uint64_t nextOrder_ = 0, nextGeneration_ = 0;
    std::size_t inFlight_ = 0;
};

}  // namespace lobby
