#pragma once
// Display order of a race list: list-view row r shows races[rowOrder[r]]. Sorting only
// rebuilds or reverses this order; the races themselves never move.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "games/race_list.h"

inline constexpr int kRaceColumnCount = 3;  // 0 name, 1 IP, 2 created on

// Where a new key goes among the positions lo..hi-1, which are ordered ascending; keyAt(p)
// gives the key at position p. An equal key goes before the equal key that was probed,
// so equal keys do not keep their arrival order.
template <typename KeyAt, typename Key>
std::size_t insertPosition(const KeyAt& keyAt, std::size_t lo, std::size_t hi, const Key& key) {
    for (;;) {
        if (lo > hi) return 0;
        if (lo == hi) return lo;
        std::size_t mid = lo + (hi - lo) / 2;
        const auto& probed = keyAt(mid);
        if (key == probed) return mid;
        if (key < probed) {
            hi = mid;
        } else {
            if (hi - lo == 1) return hi;
            lo = mid;
        }
    }
}

// Rebuilds rowOrder (resized to races.size()) by binary insertion in server order on the
// column's key, ascending; column 2 then reversed, newest first.
void orderRows(std::span<const RaceEntry> races, int column, std::vector<std::uint32_t>& rowOrder);

void reverseRows(std::span<std::uint32_t> rowOrder);

// A click on a column header. sortColumn is 0 while unsorted, else the sorted column + 1;
// a second click on the sorted column reverses the rows. Returns the new sortColumn.
int sortRowsByColumn(std::span<const RaceEntry> races, std::vector<std::uint32_t>& rowOrder, int sortColumn,
                     int column);
