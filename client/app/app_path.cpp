#include "app/app_path.h"

#include <windows.h>

#include <cstring>

#include "common/win_handles.h"

std::string appPathKey(std::string_view executable) {
    return "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + std::string(executable);
}

std::string readAppPath(const std::string& keyPath, const std::string& valueName) {
    UniqueRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.empty() ? nullptr : keyPath.c_str(), 0, KEY_QUERY_VALUE,
                      key.put()) != ERROR_SUCCESS)
        return {};
    char buffer[256];
    DWORD size = sizeof buffer;
    LONG result = RegQueryValueExA(key.get(), valueName.empty() ? nullptr : valueName.c_str(), nullptr, nullptr,
                                   reinterpret_cast<BYTE*>(buffer), &size);
    key.reset();
    if (result != ERROR_SUCCESS) return {};
    if (size > sizeof buffer) size = sizeof buffer;
    return std::string(buffer, strnlen(buffer, size));
}
