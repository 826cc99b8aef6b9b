#pragma once
// Where the games are installed: their App Paths entries under HKEY_LOCAL_MACHINE.
#include <string>
#include <string_view>

// HKLM's App Paths key of a game's executable (kGames' `executable`).
std::string appPathKey(std::string_view executable);

// The value `valueName` (empty: the key's default value) of HKLM\`keyPath`, up to its first
// NUL; the empty string on any failure, including data longer than 256 bytes.
std::string readAppPath(const std::string& keyPath, const std::string& valueName);
