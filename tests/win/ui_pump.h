#pragma once
// Helpers for Wine tests that need the user-interface thread's message loop.
#include <windows.h>

#include <chrono>
#include <functional>

// A hidden top-level window that hands WM_SERVER_COMPLETION to the engine, as the
// client's main window and pages do.
class DeliveryWindow {
public:
    DeliveryWindow();
    ~DeliveryWindow();
    DeliveryWindow(const DeliveryWindow&) = delete;
    DeliveryWindow& operator=(const DeliveryWindow&) = delete;
    HWND handle() const { return window_; }

private:
    HWND window_ = nullptr;
};

// Runs the message loop until `done` is true or the timeout passes; returns `done()`.
bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Runs the message loop until every request record is released (its handles closed).
bool requestsReleased(std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the message loop for the given time (for checks that something does NOT happen).
void pumpFor(std::chrono::milliseconds duration);
