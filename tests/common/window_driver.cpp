#include "window_driver.h"

namespace {

struct Search {
    DWORD processId;
    std::string className;
    std::string caption;
    HWND owner;
    std::vector<HWND> found;
};

BOOL CALLBACK matchTopLevel(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (s.processId != 0 && pid != s.processId) return TRUE;
    if (s.owner != nullptr && GetWindow(window, GW_OWNER) != s.owner) return TRUE;
    if (windowClass(window) != s.className || windowText(window) != s.caption) return TRUE;
    s.found.push_back(window);
    return TRUE;
}

}  // namespace

std::vector<HWND> topLevelWindows(DWORD processId, const std::string& className, const std::string& caption,
                                  HWND owner) {
    Search s{processId, className, caption, owner, {}};
    EnumWindows(matchTopLevel, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND findTopLevel(DWORD processId, const std::string& className, const std::string& caption) {
    auto found = topLevelWindows(processId, className, caption);
    return found.empty() ? nullptr : found.front();
}

HWND waitForTopLevel(DWORD processId, const std::string& className, const std::string& caption,
                     std::chrono::milliseconds timeout) {
    HWND found = nullptr;
    pollUntil([&] { return (found = findTopLevel(processId, className, caption)) != nullptr; }, timeout);
    return found;
}

HWND waitForOwnedDialog(HWND owner, const std::string& caption, std::chrono::milliseconds timeout) {
    HWND top = GetAncestor(owner, GA_ROOT);
    HWND found = nullptr;
    pollUntil(
        [&] {
            auto all = topLevelWindows(0, "#32770", caption, top);
            return (found = all.empty() ? nullptr : all.front()) != nullptr;
        },
        timeout);
    return found;
}

std::string windowText(HWND window) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return {};
    std::vector<char> buffer(length + 1);
    DWORD_PTR copied = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()), SMTO_ABORTIFHUNG,
                        5000, &copied);
    return std::string(buffer.data(), copied);
}

std::string controlText(HWND dialog, int id) { return windowText(GetDlgItem(dialog, id)); }

std::string windowClass(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

std::string messageBoxText(HWND box) { return controlText(box, 0xFFFF); }

void typeText(HWND edit, const std::string& text) {
    for (char c : text) PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(c), 1);
}

void pressKey(HWND window, UINT virtualKey) {
    UINT scan = MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC);
    PostMessageA(window, WM_KEYDOWN, virtualKey, 1 | (scan << 16));
    PostMessageA(window, WM_KEYUP, virtualKey, 1 | (scan << 16) | (3u << 30));
}

void clickButton(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }

bool windowGone(HWND window) { return !IsWindow(window); }
