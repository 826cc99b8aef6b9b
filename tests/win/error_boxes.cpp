#include "error_boxes.h"

#include "window_driver.h"

namespace {

constexpr int kMessageBoxTextId = 0xFFFF;

BOOL CALLBACK collectDialog(HWND window, LPARAM found) {
    if (windowClass(window) == "#32770" && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

}  // namespace

ErrorBoxWatcher::ErrorBoxWatcher() : uiThread_(GetCurrentThreadId()), thread_([this] { run(); }) {}

ErrorBoxWatcher::~ErrorBoxWatcher() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

std::vector<SeenErrorBox> ErrorBoxWatcher::boxes() const {
    std::lock_guard lock(mutex_);
    return boxes_;
}

std::size_t ErrorBoxWatcher::count() const {
    std::lock_guard lock(mutex_);
    return boxes_.size();
}

void ErrorBoxWatcher::setBeforeDismiss(std::function<void(const SeenErrorBox&)> action) {
    std::lock_guard lock(mutex_);
    beforeDismiss_ = std::move(action);
}

void ErrorBoxWatcher::run() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(15), [this] { return stopping_; })) {
        std::vector<HWND> dialogs;
        EnumThreadWindows(uiThread_, collectDialog, reinterpret_cast<LPARAM>(&dialogs));
        std::erase_if(handled_, [](HWND w) { return !IsWindow(w); });
        for (HWND box : dialogs) {
            if (handled_.count(box) != 0) continue;
            HWND textControl = GetDlgItem(box, kMessageBoxTextId);
            if (textControl == nullptr) continue;  // a dialog, not a message box
            handled_.insert(box);
            auto action = beforeDismiss_;
            lock.unlock();
            // The texts are read with WM_GETTEXT, which the user-interface thread answers
            // from inside the box's modal loop.
            SeenErrorBox seen{windowText(box), windowText(textControl), GetWindow(box, GW_OWNER)};
            if (action) action(seen);
            lock.lock();
            boxes_.push_back(seen);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    }
}
