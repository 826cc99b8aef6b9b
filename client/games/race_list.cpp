#include "games/race_list.h"

#include "games/wire_text.h"

RaceListPayload parseRaceListPayload(std::string_view payload) {
    RaceListPayload list;
    std::string_view line;
    if (!takeLine(payload, line)) return list;
    list.retrievedOn = parseDecimal(line);
    list.hasRetrievedOn = true;
    if (!takeLine(payload, line)) return list;
    list.count = parseDecimal(line);
    list.hasCount = true;

    if (list.count > payload.size() / kMinRecordLineBytes) return list;
    list.races.reserve(list.count);
    while (list.races.size() < list.count && takeLine(payload, line)) {
        auto a = line.find(',');
        if (a == std::string_view::npos) return list;
        auto b = line.find(',', a + 1);
        if (b == std::string_view::npos) return list;
        RaceEntry& race = list.races.emplace_back();
        race.name = line.substr(0, a);
        race.ipAddress = parseDecimal(line.substr(a + 1, b - a - 1));
        race.createdOn = parseDecimal(line.substr(b + 1));
        race.ipText = formatIp(race.ipAddress);
    }
    list.complete = list.races.size() == list.count;
    return list;
}
