#include "wine_registry.h"

HKEY createRegistryKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return key;
}

bool setRegistryText(HKEY key, const char* name, const std::string& value) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool keepWindowsUnmanaged(const std::string& exeName) {
    HKEY key = createRegistryKey(HKEY_CURRENT_USER, "Software\\Wine\\AppDefaults\\" + exeName + "\\X11 Driver");
    if (key == nullptr) return false;
    char value[8] = {};
    DWORD size = sizeof value;
    const bool already = RegQueryValueExA(key, "Managed", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
                             ERROR_SUCCESS &&
                         std::string(value) == "N";
    if (!already) setRegistryText(key, "Managed", "N");
    RegCloseKey(key);
    return !already;
}
