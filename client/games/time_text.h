#pragma once
// Local date and time texts for the lobby's time stamps, in the system locale's forms.
#include <windows.h>

#include <cstdint>
#include <string>

// "date - time" of a time stamp in seconds since 1970 UTC, read as a signed 32-bit number.
std::string formatTimestamp(std::uint32_t seconds);
std::string formatDate(const SYSTEMTIME& time);
std::string formatTime(const SYSTEMTIME& time);
