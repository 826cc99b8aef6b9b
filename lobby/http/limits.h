#pragma once
// What the HTTP layer allows each connection and all of them, and what it counted.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "http/peer_address.h"

namespace lobby {

struct HttpLimits {
    int threads = 0;                      // I/O threads; 0: one per core
    std::size_t maxConnections = 20000;   // open at once, all addresses
    std::size_t maxPerAddress = 64;       // open at once from one address (IPv6: one /64)
    std::chrono::milliseconds headTimeout{10000};  // for a whole request head
    std::chrono::milliseconds idleTimeout{5000};   // between requests on a kept-alive connection
    std::chrono::milliseconds writeTimeout{10000};  // for a whole response
    std::size_t maxHead = 16 * 1024;      // request line and headers together
    std::size_t maxHeaders = 100;
    int backlog = 4096;
    std::vector<AddressKey> uncapped;     // not held to maxPerAddress (a trusted proxy)
};

// Why connections were refused or ended early; read from any thread.
struct HttpCounters {
    std::atomic<std::uint64_t> open{0};
    std::atomic<std::uint64_t> accepted{0};
    std::atomic<std::uint64_t> refusedPerAddress{0};  // at maxPerAddress, closed at accept
    std::atomic<std::uint64_t> refusedTotal{0};       // at maxConnections, closed at accept
    std::atomic<std::uint64_t> acceptPaused{0};       // out of file descriptors: paused
    std::atomic<std::uint64_t> headTimeouts{0};
    std::atomic<std::uint64_t> idleTimeouts{0};
    std::atomic<std::uint64_t> writeTimeouts{0};
    std::atomic<std::uint64_t> tooLarge{0};     // 414 or 431
    std::atomic<std::uint64_t> badRequests{0};  // 400: unreadable, a body, two lengths
};

}  // namespace lobby
