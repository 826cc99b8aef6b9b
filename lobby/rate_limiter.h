#pragma once
// Requests per client address per minute, in fixed one-minute windows that start with an
// address's first request.
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace lobby {

class RateLimiter {
public:
    // 0 turns the limit off.
    explicit RateLimiter(int perMinute) : perMinute_(perMinute) {}

    // Counts the request; false once the address has used up its minute.
    bool allow(const std::string& key, std::int64_t now);
    // Forgets windows that have ended; keeps the table small.
    void prune(std::int64_t now);
    std::size_t trackedAddresses();

private:
    struct Window {
        std::int64_t start = 0;
        int count = 0;
    };
    static constexpr std::int64_t kWindowSeconds = 60;
    static constexpr std::size_t kPruneAbove = 100000;

    void pruneLocked(std::int64_t now);

    const int perMinute_;
    std::mutex mutex_;
    std::unordered_map<std::string, Window> windows_;
};

}  // namespace lobby
