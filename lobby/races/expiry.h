#pragma once
// How long a race is listed: the one rule, for the store's listing, the sweep, the lists
// filtered in memory and the history's record of when a race ran out.
#include <cstdint>

namespace lobby {

struct Expiry {
    std::int64_t ttl = 0;  // seconds

    std::int64_t deadline(std::int64_t created) const { return created + ttl; }
    bool expired(std::int64_t created, std::int64_t now) const { return now >= deadline(created); }
    // Races created after it are still listed at `now`.
    std::int64_t cutoff(std::int64_t now) const { return now - ttl; }
};

}  // namespace lobby
