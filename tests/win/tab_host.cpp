#include "tab_host.h"

#include <commctrl.h>

#include "res/resource.h"
#include "server/server_request.h"
#include "window_driver.h"

namespace {

constexpr UINT WM_RUN_WORK = WM_APP + 40;
constexpr const char* kHostClass = "KestrunTestTabHost";
constexpr const char* kHostProperty = "KestrunTabHost";

}  // namespace

void initCommonControls() {
    static const bool done = [] {
        INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES};
        return InitCommonControlsEx(&controls) != FALSE;
    }();
    (void)done;
}

TabHost::TabHost() {
    initCommonControls();
    static const bool registered = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = hostProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kHostClass;
        return RegisterClassA(&wc) != 0;
    }();
    (void)registered;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    window_ = CreateWindowExA(0, kHostClass, "Kestrun test host", WS_OVERLAPPED | WS_CAPTION | WS_CLIPCHILDREN, 20,
                              20, 420, 400, nullptr, nullptr, instance, nullptr);
    SetPropA(window_, kHostProperty, this);
    tabControl_ = CreateWindowExA(0, WC_TABCONTROLA, "GameTabs", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 8, 8, 380,
                                  300, window_, reinterpret_cast<HMENU>(IDC_GAME_TABS), instance, nullptr);
    status_ = CreateWindowExA(0, "STATIC", "Ready...", WS_CHILD | WS_VISIBLE | SS_SUNKEN, 8, 320, 380, 20, window_,
                              reinterpret_cast<HMENU>(IDC_STATUS), instance, nullptr);
    SetPropA(status_, kHostProperty, this);
    staticProc_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(status_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(statusProc)));
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    UpdateWindow(window_);
}

TabHost::~TabHost() {
    if (window_ != nullptr) DestroyWindow(window_);
}

std::string TabHost::statusText() const { return windowText(status_); }

void TabHost::runOnUiThread(const std::function<void()>& work) {
    SendMessageA(window_, WM_RUN_WORK, 0, reinterpret_cast<LPARAM>(&work));
}

LRESULT CALLBACK TabHost::hostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SERVER_COMPLETION: deliverServerCompletion(wParam, lParam); return 0;
    case WM_RUN_WORK: (*reinterpret_cast<const std::function<void()>*>(lParam))(); return 0;
    case WM_DESTROY:
        RemovePropA(window, kHostProperty);
        return 0;
    default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK TabHost::statusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* host = static_cast<TabHost*>(GetPropA(window, kHostProperty));
    if (message == WM_SETTEXT && host != nullptr && lParam != 0)
        host->history_.emplace_back(reinterpret_cast<const char*>(lParam));
    if (message == WM_NCDESTROY) RemovePropA(window, kHostProperty);
    return CallWindowProcA(host != nullptr ? host->staticProc_ : DefWindowProcA, window, message, wParam, lParam);
}
