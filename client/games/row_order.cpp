#include "games/row_order.h"

#include <algorithm>
#include <string_view>

namespace {

template <typename KeyOf>
void insertAll(std::span<const RaceEntry> races, std::vector<std::uint32_t>& rowOrder, KeyOf keyOf) {
    rowOrder.resize(races.size());
    auto keyAt = [&](std::size_t position) { return keyOf(races[rowOrder[position]]); };
    for (std::size_t i = 0; i < races.size(); ++i) {
        std::size_t p = insertPosition(keyAt, 0, i, keyOf(races[i]));
        std::copy_backward(rowOrder.begin() + static_cast<std::ptrdiff_t>(p),
                           rowOrder.begin() + static_cast<std::ptrdiff_t>(i),
                           rowOrder.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        rowOrder[p] = static_cast<std::uint32_t>(i);
    }
}

}  // namespace

void orderRows(std::span<const RaceEntry> races, int column, std::vector<std::uint32_t>& rowOrder) {
    switch (column) {
    case 0:
        // string_view compares bytes as unsigned values, the shorter name first on a tie.
        insertAll(races, rowOrder, [](const RaceEntry& r) { return std::string_view(r.name); });
        break;
    case 1: insertAll(races, rowOrder, [](const RaceEntry& r) { return r.ipAddress; }); break;
    case 2:
        insertAll(races, rowOrder, [](const RaceEntry& r) { return r.createdOn; });
        reverseRows(rowOrder);
        break;
    default: break;
    }
}

void reverseRows(std::span<std::uint32_t> rowOrder) { std::reverse(rowOrder.begin(), rowOrder.end()); }

int sortRowsByColumn(std::span<const RaceEntry> races, std::vector<std::uint32_t>& rowOrder, int sortColumn,
                     int column) {
    if (column < 0 || column >= kRaceColumnCount) return sortColumn;
    if (column + 1 == sortColumn) {
        reverseRows(rowOrder);
        return sortColumn;
    }
    orderRows(races, column, rowOrder);
    return column + 1;
}
