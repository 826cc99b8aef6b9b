#pragma once
// What the prober is told at start. Tests in this process shrink the timings; the command
// line keeps them.
#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "probe/dplay.h"
#include "probe/ranges.h"
#include "wire/games.h"

namespace lobby {

struct ProbeTimings {
    using ms = std::chrono::milliseconds;
    ms retry{15000};          // between checks while a race has never answered...
    ms firstWindow{180000};   // ...for this long after its announcement
    ms recheck{60000};        // between checks once it has answered or been found not reachable
    ms replyWindow{5000};     // a check's reply must have come by then
    ms connectTimeout{3000};  // the connect to the game port the reply named
    ms resend{1000};          // between a check's datagrams
    ms addressGap{5000};      // between two checks of one address; also one datagram's worth
    int datagrams = 3;        // at most, per check
    std::size_t maxInFlight = 256;
    std::int64_t checkAgainSeconds = 10;  // between a host's own requests, per address
    ms withdrawSilent{0};  // a race that answered and then failed every check this long goes; 0: never
};

struct ProbeConfig {
    bool enabled = true;
    std::vector<Cidr> allowed;  // special-purpose ranges that are probed all the same
    std::string listenHost = "0.0.0.0";  // where replies come in (TCP)
    int listenPort = 2300;
    std::array<std::optional<dplay::Guid>, kGames.size()> applications{};  // null: any session
    ProbeTimings timings;
};

}  // namespace lobby
