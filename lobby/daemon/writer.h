#pragma once
// The lobby's one writer: a thread of its own that commits to the store one change at a time
// (a commit waits for the disk, and no I/O thread may wait with it), and that runs the
// daemon's timers and signal handlers, so that everything which changes the lists happens
// here, in order.
#include <chrono>
#include <functional>
#include <memory>

namespace lobby {

class Writer {
public:
    Writer();
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    // From any thread. An exception a job throws is reported on standard error.
    void post(std::function<void()> job);
    // Runs the job every interval from start() on. Call before start().
    void every(std::chrono::milliseconds interval, std::function<void()> job);
    // Runs the job whenever the process gets the signal; caught from this call on, so a
    // signal before start() runs it as soon as the writer starts.
    void onSignal(int number, std::function<void()> job);

    void start();
    // Finishes what is queued, then ends. Also without start().
    void stop();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// "kestrun-lobby: " + what, on standard error.
void reportProblem(const std::string& what);

}  // namespace lobby
