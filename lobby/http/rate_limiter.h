#pragma once
// Requests per client address per minute, in fixed one-minute windows that start with an
// address's first request. The table has a fixed size, however many addresses call: an
// address hashes to a few slots, and when all of them are in use the window that started
// longest ago is dropped for the newcomer.
#include <array>
#include <cstdint>
#include <memory>
#include <mutex>

#include "http/http_server.h"

namespace lobby {

class RateLimiter {
public:
    // 0 turns the limit off.
    explicit RateLimiter(int perMinute);

    // Counts the request; false once the address has used up its minute.
    bool allow(const AddressKey& key, std::int64_t now);
    // Addresses refused for the rest of their current minute.
    std::size_t limitedAddresses(std::int64_t now);

    // The kProbe slots an address may take start at this one.
    static constexpr std::size_t kProbe = 8;
    static std::size_t firstSlot(const AddressKey& key);

private:
    struct Window {
        AddressKey key;
        std::int64_t start = 0;
        int count = 0;  // 0: a free slot
    };
    static constexpr std::int64_t kWindowSeconds = 60;
    static constexpr std::size_t kSlots = 1 << 16;  // about 2 MiB
    static constexpr std::size_t kStripes = 64;     // locks, so I/O threads rarely meet

    const int perMinute_;
    std::array<std::mutex, kStripes> locks_;
    std::unique_ptr<Window[]> slots_;
};

}  // namespace lobby
