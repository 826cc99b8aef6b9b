#include "daemon/access_log.h"

#include <cstdio>
#include <utility>

namespace lobby {

void AccessLog::add(const std::string& line) {
    Buffer& mine = buffer();
    std::unique_lock lock(mine.mutex);
    mine.lines.append(line).push_back('\n');
    if (mine.lines.size() < kMaxPending) return;
    std::string full;
    full.swap(mine.lines);
    lock.unlock();
    write(full);
}

void AccessLog::run() {
    std::unique_lock lock(buffersMutex_);
    while (!wake_.wait_for(lock, kInterval, [this] { return stopping_; })) {
        lock.unlock();
        flush();
        lock.lock();
    }
    lock.unlock();
    flush();
}

void AccessLog::stop() {
    {
        std::lock_guard lock(buffersMutex_);
        stopping_ = true;
    }
    wake_.notify_one();
}

AccessLog::Buffer& AccessLog::buffer() {
    thread_local std::pair<AccessLog*, Buffer*> mine{nullptr, nullptr};
    if (mine.first != this) {
        std::lock_guard lock(buffersMutex_);
        buffers_.push_back(std::make_unique<Buffer>());
        mine = {this, buffers_.back().get()};
    }
    return *mine.second;
}

void AccessLog::write(const std::string& lines) {
    std::lock_guard lock(outputMutex_);
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);
}

void AccessLog::flush() {
    std::string all, lines;
    {
        std::lock_guard lock(buffersMutex_);
        for (auto& b : buffers_) {
            {
                std::lock_guard bufferLock(b->mutex);
                lines.swap(b->lines);
            }
            all += lines;
            lines.clear();
        }
    }
    if (!all.empty()) write(all);
}

}  // namespace lobby
