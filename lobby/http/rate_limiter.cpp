#include "http/rate_limiter.h"

namespace lobby {

RateLimiter::RateLimiter(int perMinute)
    : perMinute_(perMinute), slots_(perMinute > 0 ? new Window[kSlots] : nullptr) {}

std::size_t RateLimiter::firstSlot(const AddressKey& key) {
    return (hashOf(key) % (kSlots / kProbe)) * kProbe;
}

bool RateLimiter::allow(const AddressKey& key, std::int64_t now) {
    if (perMinute_ <= 0) return true;
    // An address's slots all lie in one stripe, so one lock covers its whole probe.
    std::size_t first = firstSlot(key);
    std::lock_guard lock(locks_[(first / kProbe) % kStripes]);
    auto ended = [now](const Window& w) {
        return w.count == 0 || now - w.start >= kWindowSeconds || now < w.start;
    };
    Window* mine = nullptr;
    Window* spare = nullptr;
    for (std::size_t i = 0; i < kProbe; ++i) {
        Window& w = slots_[first + i];
        if (w.count > 0 && w.key == key) {
            mine = &w;
            break;
        }
        if (!spare || (!ended(*spare) && (ended(w) || w.start < spare->start))) spare = &w;
    }
    if (!mine) {
        mine = spare;
        *mine = Window{key, now, 0};
    } else if (ended(*mine)) {
        *mine = Window{key, now, 0};
    }
    if (mine->count >= perMinute_) return false;
    ++mine->count;
    return true;
}

std::size_t RateLimiter::limitedAddresses(std::int64_t now) {
    if (perMinute_ <= 0) return 0;
    std::size_t limited = 0;
    for (std::size_t stripe = 0; stripe < kStripes; ++stripe) {
        std::lock_guard lock(locks_[stripe]);
        for (std::size_t group = stripe; group < kSlots / kProbe; group += kStripes)
            for (std::size_t i = 0; i < kProbe; ++i) {
                const Window& w = slots_[group * kProbe + i];
                if (w.count >= perMinute_ && now >= w.start && now - w.start < kWindowSeconds)
                    ++limited;
            }
    }
    return limited;
}

}  // namespace lobby
