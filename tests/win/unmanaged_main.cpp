// main() for Wine tests that open and close many top-level windows: they close at once
// only in a program Wine keeps from the window manager, a setting Wine reads when a process
// starts, so a first run sets it and runs the tests again in a new process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "wine_registry.h"

namespace {

int runAgain() {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string commandLine = GetCommandLineA();
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info))
        return -1;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    return static_cast<int>(code);
}

}  // namespace

int main(int argc, char** argv) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string name = exe;
    name = name.substr(name.find_last_of("\\/") + 1);
    if (keepWindowsUnmanaged(name)) {
        int code = runAgain();
        if (code >= 0) return code;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
