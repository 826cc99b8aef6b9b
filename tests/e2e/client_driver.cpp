#include "client_driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "res/resource.h"

namespace {

// Seen from another process, Wine hit-tests a group box as if it covered the buttons inside
// it, so the pointer counts as over the target when only a group box stands in between.
bool pointerOver(HWND target, POINT p) {
    HWND under = WindowFromPoint(p);
    if (under == target) return true;
    bool groupBox = lstrcmpiA(windowClass(under).c_str(), "Button") == 0 &&
                    (GetWindowLongA(under, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX;
    RECT r{};
    return groupBox && GetWindowRect(target, &r) && PtInRect(&r, p);
}

}  // namespace

void clickAt(const RECT& r, HWND target, MouseButton button) {
    // Two clicks on the same spot in quick succession would make a double click.
    static POINT last{-1, -1};
    POINT p{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    if (p.x == last.x && p.y == last.y) p.x += std::min<LONG>(8, (r.right - r.left) / 4);
    last = p;
    // Absolute coordinates run from 0 to 65535 across the screen.
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input[3] = {};
    for (INPUT& i : input) {
        i.type = INPUT_MOUSE;
        i.mi.dx = static_cast<LONG>((p.x * 65536LL + 32768) / width);
        i.mi.dy = static_cast<LONG>((p.y * 65536LL + 32768) / height);
    }
    input[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    const bool left = button == MouseButton::Left;
    input[1].mi.dwFlags = (left ? MOUSEEVENTF_LEFTDOWN : MOUSEEVENTF_RIGHTDOWN) | MOUSEEVENTF_ABSOLUTE;
    input[2].mi.dwFlags = (left ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_RIGHTUP) | MOUSEEVENTF_ABSOLUTE;
    // The pointer first, as a hand moves the mouse before pressing; press once it is there.
    SendInput(1, &input[0], sizeof(INPUT));
    pollUntil(
        [&] {
            POINT now{};
            return GetCursorPos(&now) && now.x == p.x && now.y == p.y &&
                   (target == nullptr || pointerOver(target, now));
        },
        5s);
    // A press right behind the move was lost now and then under Wine (1 in 16 through a
    // group box); a hand, too, rests a moment before it presses.
    Sleep(150);
    SendInput(2, &input[1], sizeof(INPUT));
}

// The window the player looks at is the active one: make sure of that before a click.
void bringToFront(HWND window) {
    HWND top = GetAncestor(window, GA_ROOT);
    if (GetForegroundWindow() == top) return;
    SetForegroundWindow(top);
    pollUntil([&] { return GetForegroundWindow() == top; }, 5s);
}

void clickWindow(HWND window) {
    bringToFront(window);
    RECT r{};
    GetWindowRect(window, &r);
    clickAt(r, window);
}

void typeKeys(const std::string& text) {
    for (unsigned char c : text) {
        INPUT input[2] = {};
        input[0].type = INPUT_KEYBOARD;
        input[0].ki.wScan = c;
        input[0].ki.dwFlags = KEYEVENTF_UNICODE;
        input[1] = input[0];
        input[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, input, sizeof(INPUT));
    }
}

void pressVirtualKey(WORD key) {
    INPUT input[2] = {};
    input[0].type = INPUT_KEYBOARD;
    input[0].ki.wVk = key;
    input[1] = input[0];
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}

KestrunClient::KestrunClient(const std::string& exePath) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + exePath + "\"";
    if (!CreateProcessA(exePath.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info_))
        return;
    window_ = waitForTopLevel(info_.dwProcessId, "#32770", "Kestrun", 30s);
}

KestrunClient::~KestrunClient() {
    if (info_.hProcess) {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 1);
            WaitForSingleObject(info_.hProcess, 10000);
        }
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
}

std::string KestrunClient::status() const { return controlText(window_, IDC_STATUS); }

bool KestrunClient::waitForStatus(const std::string& text, std::chrono::milliseconds timeout) const {
    if (pollUntil([&] { return status() == text; }, timeout)) return true;
    std::fprintf(stderr, "status \"%s\" while waiting for \"%s\"; %s\n", status().c_str(), text.c_str(),
                 describeInput().c_str());
    return false;
}

void KestrunClient::click(int controlId) const { clickWindow(GetDlgItem(window_, controlId)); }

template <typename T>
T KestrunClient::remoteCall(HWND target, UINT message, WPARAM wParam, const T& in, std::string* text) const {
    constexpr SIZE_T kTextSize = 512;
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, info_.dwProcessId);
    if (!process) throw std::runtime_error("OpenProcess failed");
    auto* remote = static_cast<char*>(
        VirtualAllocEx(process, nullptr, sizeof(T) + kTextSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    T local = in;
    if constexpr (std::is_same_v<T, LVITEMA>) {
        local.pszText = remote + sizeof(T);
        local.cchTextMax = kTextSize;
    }
    WriteProcessMemory(process, remote, &local, sizeof local, nullptr);
    SendMessageA(target, message, wParam, reinterpret_cast<LPARAM>(remote));
    T out{};
    ReadProcessMemory(process, remote, &out, sizeof out, nullptr);
    if (text) {
        char buffer[kTextSize] = {};
        ReadProcessMemory(process, remote + sizeof(T), buffer, kTextSize - 1, nullptr);
        *text = buffer;
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return out;
}

void KestrunClient::selectTab(int index) const {
    HWND tabs = GetDlgItem(window_, IDC_GAME_TABS);
    bringToFront(tabs);
    RECT r = remoteCall(tabs, TCM_GETITEMRECT, index, RECT{});
    MapWindowPoints(tabs, nullptr, reinterpret_cast<POINT*>(&r), 2);
    clickAt(r, tabs);
}

void KestrunClient::clickColumnHeader(int column) const {
    HWND list = GetDlgItem(page(), IDC_RACE_LIST);
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    bringToFront(header);
    RECT r = remoteCall(header, HDM_GETITEMRECT, column, RECT{});
    MapWindowPoints(header, nullptr, reinterpret_cast<POINT*>(&r), 2);
    clickAt(r, header);
}

bool KestrunClient::chooseFromRowMenu(int row, int item) const {
    HWND list = GetDlgItem(page(), IDC_RACE_LIST);
    bringToFront(list);
    RECT bounds{};
    bounds.left = LVIR_BOUNDS;
    RECT r = remoteCall(list, LVM_GETITEMRECT, row, bounds);
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&r), 2);
    clickAt(r, list, MouseButton::Right);
    if (waitForTopLevel(info_.dwProcessId, "#32768", "", 5s) == nullptr) return false;
    // The first Down selects the first item.
    for (int i = 0; i <= item; ++i) pressVirtualKey(VK_DOWN);
    pressVirtualKey(VK_RETURN);
    return true;
}

namespace {
struct PageSearch {
    HWND found = nullptr;
};
BOOL CALLBACK visiblePage(HWND child, LPARAM param) {
    if (windowClass(child) == "#32770" && IsWindowVisible(child)) {
        reinterpret_cast<PageSearch*>(param)->found = child;
        return FALSE;
    }
    return TRUE;
}
}  // namespace

HWND KestrunClient::page() const {
    PageSearch s;
    EnumChildWindows(GetDlgItem(window_, IDC_GAME_TABS), visiblePage, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

std::string KestrunClient::roomCount() const { return controlText(page(), IDC_ROOM_COUNT); }
std::string KestrunClient::retrievedOn() const { return controlText(page(), IDC_RETRIEVED_ON); }

std::vector<std::vector<std::string>> KestrunClient::rows() const {
    HWND list = GetDlgItem(page(), IDC_RACE_LIST);
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<std::vector<std::string>> result;
    for (int row = 0; row < count; ++row) {
        std::vector<std::string> cells;
        for (int column = 0; column < 3; ++column) {
            LVITEMA item{};
            item.iSubItem = column;
            std::string text;
            remoteCall(list, LVM_GETITEMTEXTA, row, item, &text);
            cells.push_back(text);
        }
        result.push_back(cells);
    }
    return result;
}

HWND KestrunClient::waitForDialog(const std::string& caption, std::chrono::milliseconds timeout) const {
    return waitForTopLevel(info_.dwProcessId, "#32770", caption, timeout);
}

HWND KestrunClient::openDialog(int controlId, const std::string& caption) const {
    click(controlId);
    return waitForDialog(caption);
}

std::string KestrunClient::describeInput() const {
    POINT cursor{};
    GetCursorPos(&cursor);
    HWND under = WindowFromPoint(cursor);
    char text[200];
    std::snprintf(text, sizeof text, "cursor %ld,%ld over control %d \"%s\", foreground %s, main window %s", cursor.x,
                  cursor.y, GetDlgCtrlID(under), windowText(under).c_str(),
                  GetForegroundWindow() == window_ ? "main" : windowText(GetForegroundWindow()).c_str(),
                  IsWindowEnabled(window_) ? "enabled" : "disabled");
    return text;
}

std::string KestrunClient::takeError(std::chrono::milliseconds timeout) const {
    HWND box = waitForDialog("Error", timeout);
    if (!box) return "(no error box; " + describeInput() + ")";
    std::string text = messageBoxText(box);
    clickWindow(GetDlgItem(box, IDOK));
    pollUntil([&] { return windowGone(box); });
    return text;
}

int KestrunClient::errorBoxCount() const {
    return static_cast<int>(topLevelWindows(info_.dwProcessId, "#32770", "Error").size());
}

bool KestrunClient::waitForExit(DWORD& exitCode, std::chrono::milliseconds timeout) const {
    if (WaitForSingleObject(info_.hProcess, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return false;
    return GetExitCodeProcess(info_.hProcess, &exitCode) != 0;
}
