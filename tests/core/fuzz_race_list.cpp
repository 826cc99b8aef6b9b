// Fuzzes the race list parser and the row order with arbitrary payloads.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <numeric>
#include <string_view>
#include <vector>

#include "games/race_list.h"
#include "games/row_order.h"
#include "games/wire_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view payload(reinterpret_cast<const char*>(data), size);
    RaceListPayload list = parseRaceListPayload(payload);

    if (list.hasCount && !list.hasRetrievedOn) std::abort();
    if (list.races.size() > list.count) std::abort();
    if (list.races.size() * kMinRecordLineBytes > size) std::abort();
    if (list.complete != (list.hasCount && list.races.size() == list.count)) std::abort();
    for (const RaceEntry& race : list.races) {
        if (race.ipText != formatIp(race.ipAddress)) std::abort();
        if (race.name.find('\n') != std::string::npos || race.name.find(',') != std::string::npos) std::abort();
    }

    std::vector<std::uint32_t> identity(list.races.size());
    std::iota(identity.begin(), identity.end(), 0u);
    for (int column = 0; column < kRaceColumnCount; ++column) {
        std::vector<std::uint32_t> order;
        int sortColumn = sortRowsByColumn(list.races, order, 0, column);
        if (sortColumn != column + 1) std::abort();
        std::vector<std::uint32_t> check = order;
        std::sort(check.begin(), check.end());
        if (check != identity) std::abort();
        std::vector<std::uint32_t> reversed = order;
        sortRowsByColumn(list.races, reversed, sortColumn, column);
        if (!std::equal(order.begin(), order.end(), reversed.rbegin())) std::abort();
    }
    return 0;
}
