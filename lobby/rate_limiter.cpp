#include "rate_limiter.h"

namespace lobby {

bool RateLimiter::allow(const std::string& key, std::int64_t now) {
    if (perMinute_ <= 0) return true;
    std::lock_guard lock(mutex_);
    if (windows_.size() > kPruneAbove) pruneLocked(now);
    Window& window = windows_[key];
    if (window.count == 0 || now - window.start >= kWindowSeconds || now < window.start)
        window = Window{now, 0};
    if (window.count >= perMinute_) return false;
    ++window.count;
    return true;
}

void RateLimiter::prune(std::int64_t now) {
    std::lock_guard lock(mutex_);
    pruneLocked(now);
}

void RateLimiter::pruneLocked(std::int64_t now) {
    std::erase_if(windows_, [now](const auto& entry) {
        return now - entry.second.start >= kWindowSeconds || now < entry.second.start;
    });
}

std::size_t RateLimiter::trackedAddresses() {
    std::lock_guard lock(mutex_);
    return windows_.size();
}

}  // namespace lobby
