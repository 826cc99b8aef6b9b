// The lobby's threads: one list, stopped last started first; a worker's call() runs there.
#include <gtest/gtest.h>

#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "daemon/threads.h"
#include "daemon/worker.h"
#include "poll_until.h"

namespace {

TEST(Threads, StopLastStartedFirstAlsoWhenTheStopCameBeforeRun) {
    std::mutex mutex;
    std::vector<std::string> stopped;
    lobby::Worker notifier, writer, http;
    lobby::Threads threads;
    for (auto [name, worker] : {std::pair{"notifier", &notifier}, {"writer", &writer}, {"http", &http}})
        threads.add(name, [worker = worker] { worker->run(); }, [&, name = name, worker = worker] {
            std::lock_guard lock(mutex);
            stopped.push_back(name);
            worker->stop();
        });
    threads.requestStop();
    threads.run();
    EXPECT_EQ(stopped, (std::vector<std::string>{"http", "writer", "notifier"}));
}

TEST(Worker, CallRunsTheJobOnTheWorkerAndThrowsWhatItThrows) {
    lobby::Worker worker;
    std::thread thread([&] { worker.run(); });
    std::thread::id ranOn;
    EXPECT_TRUE(pollUntil([&] {
        worker.call([&] { ranOn = std::this_thread::get_id(); });
        return ranOn == thread.get_id();
    }));
    EXPECT_THROW(worker.call([] { throw std::runtime_error("no such file"); }), std::runtime_error);
    worker.stop();
    thread.join();
    worker.call([&] { ranOn = std::this_thread::get_id(); });  // stopped: here, not never
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

}  // namespace
