#pragma once
// The tests' one wait: polls a condition until it holds or the timeout passes, running
// `pause` between polls (a short sleep, or a message pump on a user-interface thread).
// Returns the condition's last value.
#include <chrono>
#include <functional>
#include <thread>

inline void shortSleep() { std::this_thread::sleep_for(std::chrono::milliseconds(5)); }

inline bool pollUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(20),
                      const std::function<void()>& pause = shortSleep) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return condition();
        pause();
    }
    return true;
}
