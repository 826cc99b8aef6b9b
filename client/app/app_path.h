#pragma once
// Where the games are installed: their App Paths entries under HKEY_LOCAL_MACHINE.
#include <string>

extern const std::string nfs4AppPathKey;
extern const std::string nfs5AppPathKey;

// The value `valueName` (empty: the key's default value) of HKLM\`keyPath`, up to its first
// NUL; the empty string on any failure, including data longer than 256 bytes.
std::string readAppPath(const std::string& keyPath, const std::string& valueName);
