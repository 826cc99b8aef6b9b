#include "games/time_text.h"

#include <cstring>

#include "common/error_text.h"

namespace {
constexpr int kTextCapacity = 16;  // 15 visible characters and the terminating NUL
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;
}  // namespace

std::string formatDate(const SYSTEMTIME& time) {
    char text[kTextCapacity] = {};
    if (GetDateFormatA(LOCALE_SYSTEM_DEFAULT, DATE_SHORTDATE, &time, nullptr, text, kTextCapacity) == 0)
        throw ErrorText("Error converting systemtime to date.");
    return std::string(text, strnlen(text, kTextCapacity));
}

std::string formatTime(const SYSTEMTIME& time) {
    char text[kTextCapacity] = {};
    if (GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, TIME_NOSECONDS, &time, nullptr, text, kTextCapacity) == 0)
        throw ErrorText("Error converting systemtime to time.");
    return std::string(text, strnlen(text, kTextCapacity));
}

std::string formatTimestamp(std::uint32_t seconds) {
    const std::int64_t signedSeconds = static_cast<std::int32_t>(seconds);
    const auto ticks = static_cast<std::uint64_t>((signedSeconds + kSecondsFrom1601To1970) * 10000000);
    FILETIME utc;
    utc.dwLowDateTime = static_cast<DWORD>(ticks);
    utc.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    FILETIME local;
    if (!FileTimeToLocalFileTime(&utc, &local)) throw ErrorText("Error converting filetime to local filetime.");
    SYSTEMTIME calendar;
    if (!FileTimeToSystemTime(&local, &calendar)) throw ErrorText("Error converting filetime to systemtime.");
    std::string date = formatDate(calendar);
    std::string time = formatTime(calendar);
    return date + " - " + time;
}
