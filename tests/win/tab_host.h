#pragma once
// A stand-in for the main window in tests and benchmarks: a visible top-level window
// holding a real tab control (1001) and a status line (1002). It hands the engines'
// completions to deliverServerCompletion, records every status text, and can run
// work on the user-interface thread for a helper thread.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class TabHost {
public:
    TabHost();
    ~TabHost();
    TabHost(const TabHost&) = delete;
    TabHost& operator=(const TabHost&) = delete;

    HWND window() const { return window_; }
    HWND tabControl() const { return tabControl_; }
    HWND status() const { return status_; }
    std::string statusText() const;
    // Every text put into the status line since the last clear, in order.
    const std::vector<std::string>& statusHistory() const { return history_; }
    void clearStatusHistory() { history_.clear(); }
    // Runs `work` on the thread that owns the host (blocks the caller until done).
    void runOnUiThread(const std::function<void()>& work);

private:
    static LRESULT CALLBACK hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK statusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND window_ = nullptr;
    HWND tabControl_ = nullptr;
    HWND status_ = nullptr;
    WNDPROC staticProc_ = nullptr;
    std::vector<std::string> history_;
};

// Initialises the tab control and list view classes once per process.
void initCommonControls();
