#include "games/race_list.h"

#include "games/wire_text.h"

namespace {

// The next line of `text` without its line feed and one carriage return before it;
// false if no line feed ends it.
bool takeLine(std::string_view& text, std::string_view& line) {
    auto end = text.find('\n');
    if (end == std::string_view::npos) return false;
    line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    text.remove_prefix(end + 1);
    return true;
}

}  // namespace

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
