// The rate limiter's table without sockets: addresses that share slots, and who makes room.
#include <gtest/gtest.h>

#include <vector>

#include "fake_clock.h"
#include "http/rate_limiter.h"

namespace {

using lobby::AddressKey;
using lobby::RateLimiter;

// kProbe + 1 addresses that all hash to the same slots.
std::vector<AddressKey> sharingSlots() {
    std::vector<AddressKey> keys;
    const std::uint32_t first = 0x7f000001;
    const std::size_t slot = RateLimiter::firstSlot(lobby::keyOf(lobby::ipv4Peer(first)));
    for (std::uint32_t ip = first; keys.size() < RateLimiter::kProbe + 1; ++ip) {
        AddressKey key = lobby::keyOf(lobby::ipv4Peer(ip));
        if (RateLimiter::firstSlot(key) == slot) keys.push_back(key);
    }
    return keys;
}

TEST(RateLimiter, AddressesSharingSlotsCountApartAndTheOldestWindowMakesRoom) {
    RateLimiter limiter(2);
    auto keys = sharingSlots();
    for (std::size_t i = 0; i < RateLimiter::kProbe; ++i) {
        std::int64_t at = kStart + static_cast<std::int64_t>(i);
        EXPECT_TRUE(limiter.allow(keys[i], at)) << i;
        EXPECT_TRUE(limiter.allow(keys[i], at)) << i;
        EXPECT_FALSE(limiter.allow(keys[i], at)) << i;
    }
    const std::int64_t now = kStart + 10;
    EXPECT_EQ(limiter.limitedAddresses(now), RateLimiter::kProbe);
    // Every slot is taken: the newcomer takes the window that started first, keys[0]'s,
    // which then starts afresh in keys[1]'s.
    EXPECT_TRUE(limiter.allow(keys.back(), now));
    EXPECT_TRUE(limiter.allow(keys[0], now));
    EXPECT_TRUE(limiter.allow(keys[1], now));  // in keys[2]'s
    for (std::size_t i = 3; i < RateLimiter::kProbe; ++i) EXPECT_FALSE(limiter.allow(keys[i], now)) << i;
    // A minute after its start a window is over, and the address counts again from one.
    EXPECT_TRUE(limiter.allow(keys[3], kStart + 3 + 60));
    EXPECT_EQ(limiter.limitedAddresses(kStart + 3 + 60), RateLimiter::kProbe - 4);
}

}  // namespace
