#pragma once
// A shared_ptr that one thread replaces while others take copies of it, as the published race
// lists and pages are. libstdc++ 12's std::atomic<std::shared_ptr> ends a load by releasing
// its lock with relaxed order, so that load's read of the pointer is not ordered before the
// next store's write of it (ThreadSanitizer reports the pair); this lock is released with
// release order. It is held only to copy or swap the pointer, so it spins instead of sleeping.
#include <atomic>
#include <memory>
#include <thread>
#include <utility>

namespace lobby {

template <typename T>
class SharedSlot {
public:
    SharedSlot() = default;
    explicit SharedSlot(std::shared_ptr<T> value) : value_(std::move(value)) {}
    SharedSlot(const SharedSlot&) = delete;
    SharedSlot& operator=(const SharedSlot&) = delete;

    std::shared_ptr<T> load() const {
        Held held(busy_);
        return value_;
    }

    // The value replaced is let go after the lock: the last copy's destructor may be long.
    void store(std::shared_ptr<T> value) {
        Held held(busy_);
        value_.swap(value);
    }

private:
    struct Held {
        explicit Held(std::atomic_flag& flag) : flag_(flag) {
            for (int spins = 0; flag_.test_and_set(std::memory_order_acquire);)
                while (flag_.test(std::memory_order_relaxed)) {
                    // A holder copies one pointer; spins that long mean it was preempted. A
                    // yield sooner would hand this core to another program for a whole slice.
                    if (++spins < kSpinsBeforeYield) pause();
                    else std::this_thread::yield();
                }
        }
        ~Held() { flag_.clear(std::memory_order_release); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;
        std::atomic_flag& flag_;
    };

    static constexpr int kSpinsBeforeYield = 1 << 12;  // some tens of microseconds

    static void pause() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
        asm volatile("yield");
#endif
    }

    mutable std::atomic_flag busy_;  // clear from the start
    std::shared_ptr<T> value_;
};

}  // namespace lobby
