// main() for Wine tests that open and close many top-level windows. Without a window
// manager, Wine waits up to two seconds for one to confirm each window it withdraws;
// windows it does not hand to a window manager ("Managed"="N" for this program) close at
// once. Wine reads that setting when a process starts, so a first run sets it and runs
// the tests again in a new process.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

bool makeUnmanaged(const std::string& exeName) {
    std::string path = "Software\\Wine\\AppDefaults\\" + exeName + "\\X11 Driver";
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    char value[8] = {};
    DWORD size = sizeof value;
    bool already = RegQueryValueExA(key, "Managed", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
                       ERROR_SUCCESS &&
                   std::string(value) == "N";
    if (!already) RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
    RegCloseKey(key);
    return !already;
}

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
    if (makeUnmanaged(name)) {
        int code = runAgain();
        if (code >= 0) return code;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
