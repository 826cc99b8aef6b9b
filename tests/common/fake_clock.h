#pragma once
// The fake clock's first second: Thursday 2001-11-29, 02:13:20 UTC.
#include <cstdint>

inline constexpr std::int64_t kStart = 1007000000;
