#pragma once
// The race list's column widths: these at 96 DPI, in proportion on other screens.
#include "games/row_order.h"

inline constexpr int kRaceColumnWidths[kRaceColumnCount] = {110, 95, 125};  // name, IP, created on

// Rounded to the nearest pixel, halves up.
constexpr int scaledColumnWidth(int width, unsigned dpi) {
    return static_cast<int>((static_cast<long long>(width) * dpi + 48) / 96);
}
