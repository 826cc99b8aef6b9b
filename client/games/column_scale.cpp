// The race list's column widths follow the DPI of the screen the page is on.
#include "games/column_widths.h"
#include "games/game_tab.h"

unsigned windowDpi(HWND window) {
    // GetDpiForWindow exists from Windows 10 1607 on; before that the system DPI holds.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow != nullptr) {
        if (const UINT dpi = getDpiForWindow(window)) return dpi;
    }
    HDC screen = GetDC(window);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) ReleaseDC(window, screen);
    return dpi > 0 ? static_cast<unsigned>(dpi) : 96u;
}

void GameTab::scaleColumns(unsigned dpi) {
    if (listView_ == nullptr) return;
    for (int i = 0; i < kRaceColumnCount; ++i)
        SendMessageA(listView_, LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(i),
                     MAKELPARAM(scaledColumnWidth(kRaceColumnWidths[i], dpi), 0));
}
