#include "ui_pump.h"

#include "poll_until.h"
#include "server/server_request.h"

namespace {

LRESULT CALLBACK deliveryProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SERVER_COMPLETION) {
        deliverServerCompletion(wParam, lParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

const char* registerClass() {
    static const char* name = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = deliveryProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "KestrunTestDelivery";
        RegisterClassA(&wc);
        return "KestrunTestDelivery";
    }();
    return name;
}

void pumpOnce(DWORD waitMs) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, waitMs, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

}  // namespace

DeliveryWindow::DeliveryWindow() {
    window_ = CreateWindowExA(0, registerClass(), "", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
}

DeliveryWindow::~DeliveryWindow() {
    if (window_) DestroyWindow(window_);
}

bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return pollUntil(done, timeout, [] { pumpOnce(10); });
}

bool requestsReleased(std::chrono::milliseconds timeout) {
    return pumpUntil([] { return ServerRequest::requestsAlive() == 0; }, timeout);
}

void pumpFor(std::chrono::milliseconds duration) {
    auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) pumpOnce(10);
}
