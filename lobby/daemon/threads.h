#pragma once
// Every thread the lobby runs, from one list: started in order once the socket is bound,
// stopped in the reverse order (as redis's bio.c starts its background jobs). A background
// job joins with one add().
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lobby {

class Threads {
public:
    Threads() = default;
    ~Threads();
    Threads(const Threads&) = delete;
    Threads& operator=(const Threads&) = delete;

    // run: the thread's body, which returns once stop has been called; stop: from any thread.
    // Call before run().
    void add(std::string name, std::function<void()> run, std::function<void()> stop);
    // Starts every thread, waits for requestStop(), then stops and joins them, last first.
    void run();
    // From any thread, also before run(): run() then stops as soon as it has started.
    void requestStop();
    bool isRunning() const;

private:
    struct Job {
        std::string name;
        std::function<void()> run, stop;
        std::thread thread;
    };
    void stopAll();

    std::vector<Job> jobs_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool stopRequested_ = false;
    bool running_ = false;
};

}  // namespace lobby
