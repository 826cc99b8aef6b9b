#pragma once
// The access log on standard output, written a batch at a time by a thread of its own: an I/O
// thread neither waits for the journal nor sleeps on a lock another I/O thread holds while it
// writes. Each thread adds to a buffer of its own; one that grows past a bound (the output is
// stuck) writes itself, as every line once did.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace lobby {

class AccessLog {
public:
    AccessLog() = default;
    ~AccessLog() { flush(); }  // what came after stop()
    AccessLog(const AccessLog&) = delete;
    AccessLog& operator=(const AccessLog&) = delete;

    // From any thread: one line, without LF.
    void add(const std::string& line);
    // The writing thread's body, one of the lobby's threads: returns once stop() was called.
    void run();
    void stop();

private:
    struct Buffer {
        std::mutex mutex;
        std::string lines;
    };
    static constexpr std::size_t kMaxPending = 1 << 20;
    static constexpr std::chrono::milliseconds kInterval{50};

    Buffer& buffer();
    void write(const std::string& lines);
    void flush();

    std::mutex buffersMutex_;
    std::vector<std::unique_ptr<Buffer>> buffers_;
    std::mutex outputMutex_;
    bool stopping_ = false;
    std::condition_variable wake_;
};

}  // namespace lobby
