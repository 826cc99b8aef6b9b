#pragma once
// Registry settings the Wine tests make: keys and text values, and Wine's own per-program
// settings.
#include <windows.h>

#include <string>

// Opens the key, creating it as needed; nullptr when that fails. The caller closes it.
HKEY createRegistryKey(HKEY root, const std::string& path);
// A REG_SZ value (nullptr: the key's default value); true when it was written.
bool setRegistryText(HKEY key, const char* name, const std::string& value);

// Without a window manager, Wine waits up to two seconds for one whenever a managed window
// closes; the windows of a program it keeps to itself ("Managed"="N") close at once. Wine
// reads the setting when the program starts. True when this call set it (it was not yet).
bool keepWindowsUnmanaged(const std::string& exeName);
