// Starts a program and reports when its window is shown: for the client, when its first
// race list has rows on screen; for the floor program, when its window is visible.
//   startup_probe run EXE CAPTION list|window   prints "shown_ms N" and "ready", then waits
//                                               for a line on standard input (the caller
//                                               measures memory meanwhile) and closes it
//   startup_probe wait CAPTION SECONDS [DESKTOP]
//                                               waits until a window CAPTION (on the named
//                                               desktop) shows race rows
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

namespace {

constexpr int kListId = 1013;
constexpr int kTabsId = 1001;

struct Search {
    DWORD processId;
    std::string caption;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM param) {
    auto& s = *reinterpret_cast<Search*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if ((s.processId && pid != s.processId) || !IsWindowVisible(window)) return TRUE;
    char text[64] = {};
    GetWindowTextA(window, text, sizeof text);
    if (s.caption != text) return TRUE;
    s.found = window;
    return FALSE;
}

HWND visibleWindow(DWORD processId, const std::string& caption) {
    Search s{processId, caption, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

BOOL CALLBACK listWithRows(HWND child, LPARAM param) {
    if (GetDlgCtrlID(child) == kListId && IsWindowVisible(child) && SendMessageA(child, LVM_GETITEMCOUNT, 0, 0) > 0) {
        *reinterpret_cast<bool*>(param) = true;
        return FALSE;
    }
    return TRUE;
}

bool showsRows(HWND window) {
    bool rows = false;
    EnumChildWindows(GetDlgItem(window, kTabsId), listWithRows, reinterpret_cast<LPARAM>(&rows));
    return rows;
}

bool shown(DWORD processId, const std::string& caption, bool list) {
    HWND window = visibleWindow(processId, caption);
    return window && (!list || showsRows(window));
}

int run(const std::string& exe, const std::string& caption, bool list) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + exe + "\"";
    auto start = std::chrono::steady_clock::now();
    if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::printf("error cannot start %s\n", exe.c_str());
        return 1;
    }
    auto deadline = start + std::chrono::seconds(60);
    while (!shown(info.dwProcessId, caption, list)) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::printf("error not shown within 60 s\n");
            TerminateProcess(info.hProcess, 1);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("shown_ms %.1f\nready\n", ms);
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    PostMessageA(visibleWindow(info.dwProcessId, caption), WM_CLOSE, 0, 0);
    if (WaitForSingleObject(info.hProcess, 20000) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 1);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return 0;
}

int wait(const std::string& caption, int seconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!shown(0, caption, true)) {
        if (std::chrono::steady_clock::now() > deadline) return 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // Painted now, not at the program's next idle moment.
    RedrawWindow(visibleWindow(0, caption), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "run") return run(argv[2], argv[3], std::string(argv[4]) == "list");
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "wait") {
        if (argc == 5) {
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[3]));
            HDESK other = nullptr;
            while (!(other = OpenDesktopA(argv[4], 0, FALSE, GENERIC_ALL))) {
                if (std::chrono::steady_clock::now() > deadline) return 1;
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            // Look from inside that desktop: its windows are this thread's top-level windows.
            SetThreadDesktop(other);
        }
        return wait(argv[2], std::atoi(argv[3]));
    }
    std::fprintf(stderr, "usage: startup_probe run EXE CAPTION list|window | wait CAPTION SECONDS [DESKTOP]\n");
    return 2;
}
