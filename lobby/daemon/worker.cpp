#include "daemon/worker.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include <cstdio>
#include <exception>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lobby {
namespace net = boost::asio;
using boost::system::error_code;

void reportProblem(const std::string& what) {
    std::fprintf(stderr, "kestrun-lobby: %s\n", what.c_str());
    std::fflush(stderr);
}

namespace {

void runReporting(const std::function<void()>& job) {
    try {
        job();
    } catch (const std::exception& e) {
        reportProblem(e.what());
    }
}

}  // namespace

struct Worker::Impl {
    struct Timer {
        Timer(net::io_context& ioc, std::chrono::milliseconds i, std::function<void()> j)
            : timer(ioc), interval(i), job(std::move(j)) {}
        net::steady_timer timer;
        std::chrono::milliseconds interval;
        std::function<void()> job;
    };

    net::io_context ioc{1};
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work{
        net::make_work_guard(ioc)};
    std::vector<std::unique_ptr<Timer>> timers;
    std::optional<net::signal_set> signals;
    std::vector<std::pair<int, std::function<void()>>> signalJobs;
    std::mutex mutex;
    bool running = false;  // mutex
    std::thread::id thread;  // mutex
    bool stopping = false;  // on the worker: a wait that completed before its cancel ends too

    void arm(Timer& t) {
        t.timer.expires_after(t.interval);
        t.timer.async_wait([this, &t](error_code ec) {
            if (ec || stopping) return;
            runReporting(t.job);
            arm(t);
        });
    }

    void waitForSignals() {
        signals->async_wait([this](error_code ec, int number) {
            if (ec || stopping) return;
            for (const auto& [n, job] : signalJobs)
                if (n == number) runReporting(job);
            waitForSignals();
        });
    }
};

Worker::Worker() : impl_(std::make_unique<Impl>()) {}

Worker::~Worker() { stop(); }

void Worker::post(std::function<void()> job) {
    net::post(impl_->ioc, [job = std::move(job)] { runReporting(job); });
}

void Worker::call(const std::function<void()>& job) {
    Impl& d = *impl_;
    std::unique_lock lock(d.mutex);
    if (!d.running || d.thread == std::this_thread::get_id()) {
        lock.unlock();
        return job();
    }
    std::promise<void> done;
    net::post(d.ioc, [&job, &done] {
        try {
            job();
            done.set_value();
        } catch (...) {
            done.set_exception(std::current_exception());
        }
    });
    lock.unlock();
    done.get_future().get();
}

void Worker::every(std::chrono::milliseconds interval, std::function<void()> job) {
    impl_->timers.push_back(std::make_unique<Impl::Timer>(impl_->ioc, interval, std::move(job)));
}

void Worker::onSignal(int number, std::function<void()> job) {
    Impl& d = *impl_;
    d.signalJobs.emplace_back(number, std::move(job));
    if (d.signals) {
        d.signals->add(number);
        return;
    }
    d.signals.emplace(d.ioc, number);
    d.waitForSignals();
}

void Worker::run() {
    Impl& d = *impl_;
    {
        std::lock_guard lock(d.mutex);
        d.running = true;
        d.thread = std::this_thread::get_id();
    }
    for (auto& timer : d.timers) d.arm(*timer);
    d.ioc.run();
    {
        std::lock_guard lock(d.mutex);
        d.running = false;
    }
    // What call() posted while the queue ran dry.
    d.ioc.restart();
    d.ioc.poll();
}

void Worker::stop() {
    Impl& d = *impl_;
    std::lock_guard lock(d.mutex);
    if (!d.work) return;
    // Behind every job already posted: the timers and signals end, the queue runs dry.
    net::post(d.ioc, [&d] {
        d.stopping = true;
        for (auto& timer : d.timers) timer->timer.cancel();
        if (d.signals) d.signals->cancel();
    });
    d.work.reset();
}

}  // namespace lobby
