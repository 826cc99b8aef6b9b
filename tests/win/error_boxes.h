#pragma once
// Watches one thread's windows for the client's error box ("Error" message boxes), records
// each one's text and owner, and dismisses it with OK, so tests that provoke error boxes
// run without a human and still prove that the real box appeared.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct SeenErrorBox {
    std::string caption;
    std::string text;
    HWND owner = nullptr;
};

class ErrorBoxWatcher {
public:
    // Watches the calling thread (the user-interface thread of the test).
    ErrorBoxWatcher();
    ~ErrorBoxWatcher();
    ErrorBoxWatcher(const ErrorBoxWatcher&) = delete;
    ErrorBoxWatcher& operator=(const ErrorBoxWatcher&) = delete;

    std::vector<SeenErrorBox> boxes() const;
    std::size_t count() const;
    // Runs on the watcher thread after a box was recorded and before OK is pressed.
    void setBeforeDismiss(std::function<void(const SeenErrorBox&)> action);

private:
    void run();

    DWORD uiThread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<SeenErrorBox> boxes_;
    std::set<HWND> handled_;
    std::function<void(const SeenErrorBox&)> beforeDismiss_;
    std::thread thread_;
};
