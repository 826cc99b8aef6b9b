#pragma once
// What the prober last found out about each race's host, as the website and /metrics read it.
// The prober (probe/prober.h) writes it; any thread reads it.
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace lobby {

enum class CheckState { NotChecked, Checking, Answering, NotReachable };
enum class FailedStep { None, Udp47624, GamePort };

// The names /races.json uses.
constexpr std::string_view checkStateName(CheckState state) {
    switch (state) {
    case CheckState::Checking: return "checking";
    case CheckState::Answering: return "answering";
    case CheckState::NotReachable: return "not_reachable";
    case CheckState::NotChecked: break;
    }
    return "not_checked";
}
constexpr std::string_view failedStepName(FailedStep step) {
    switch (step) {
    case FailedStep::Udp47624: return "udp_47624";
    case FailedStep::GamePort: return "game_port";
    case FailedStep::None: break;
    }
    return "";
}

struct Check {
    CheckState state = CheckState::NotChecked;
    std::int64_t checked = 0;  // when the last check ended, s since 1970 UTC; 0: never
    // Answering: from the host's last answer. NotReachable after answering: kept from then.
    std::string session;       // UTF-8
    int players = 0, maxPlayers = 0;
    bool password = false;
    FailedStep failedStep = FailedStep::None;  // NotReachable only
    std::uint16_t gamePort = 0;                // the port the host named; 0: none yet
};

class Checks {
public:
    virtual ~Checks() = default;
    // From any thread: the check of the race of `game` (index in kGames) announced from `ip`
    // (host order, as Race::ip). NotChecked for a race the prober does not know.
    virtual Check of(int game, std::uint32_t ip) const = 0;
    // A host's "Check again" from the website: false when refused (at most once per 10 s per
    // address, or the address is not probed).
    virtual bool checkAgain(std::uint32_t ip, std::int64_t now) = 0;
};

// Totals since start, for /metrics; written by the prober, read from any thread.
struct ProbeCounters {
    std::atomic<std::uint64_t> sent{0};            // checks begun (each up to 3 datagrams)
    std::atomic<std::uint64_t> datagrams{0};       // EnumSessions datagrams sent
    std::atomic<std::uint64_t> answered{0};        // checks that ended with both steps done
    std::atomic<std::uint64_t> failedUdp47624{0};  // no valid reply to EnumSessions
    std::atomic<std::uint64_t> failedGamePort{0};  // replied, but the game port refused or silent
    std::atomic<std::uint64_t> inFlight{0};        // a gauge: checks under way now
    std::atomic<std::uint64_t> refusedByRange{0};  // announcements whose address is not probed
    std::atomic<std::uint64_t> badReplies{0};      // replies ignored: garbage, oversized, late
    std::atomic<std::uint64_t> strangerReplies{0}; // replies from an address with no probe pending
    std::atomic<std::uint64_t> withdrawnSilent{0}; // races withdrawn by --withdraw-silent
};

}  // namespace lobby
