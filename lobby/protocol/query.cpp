#include "protocol/query.h"

#include <limits>

namespace lobby {

std::optional<Query> parseQuery(std::string_view rawQuery) {
    Query query;
    while (!rawQuery.empty()) {
        std::size_t amp = rawQuery.find('&');
        std::string_view pair = rawQuery.substr(0, amp);
        rawQuery = amp == std::string_view::npos ? std::string_view() : rawQuery.substr(amp + 1);
        if (pair.empty()) continue;

        std::size_t eq = pair.find('=');
        auto key = percentDecode(pair.substr(0, eq));
        auto value = percentDecode(eq == std::string_view::npos ? std::string_view()
                                                                : pair.substr(eq + 1));
        if (!key || !value) return std::nullopt;

        std::optional<std::string>* slot = nullptr;
        if (*key == "action") slot = &query.action;
        else if (*key == "game") slot = &query.game;
        else if (*key == "data") slot = &query.data;
        if (!slot) continue;
        if (slot->has_value()) return std::nullopt;
        *slot = std::move(*value);
    }
    return query;
}

bool isValidRaceName(std::string_view name) {
    if (name.empty() || name.size() > kMaxRaceNameLength) return false;
    for (char c : name)
        if (!isRaceNameChar(c)) return false;
    return true;
}

std::optional<std::uint32_t> parseDecimalAddress(std::string_view text) {
    auto value = parseDigits(text, 10);
    if (!value || *value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

std::optional<RaceAddData> parseRaceAddData(std::string_view data) {
    constexpr std::string_view namePrefix = "name:";
    constexpr std::string_view ipMarker = ";ip:";
    if (!data.starts_with(namePrefix)) return std::nullopt;
    // A valid name holds no ';', so the last marker is the real one.
    std::size_t marker = data.rfind(ipMarker);
    if (marker == std::string_view::npos || marker < namePrefix.size()) return std::nullopt;
    auto ip = parseDecimalAddress(data.substr(marker + ipMarker.size()));
    if (!ip) return std::nullopt;
    return RaceAddData{std::string(data.substr(namePrefix.size(), marker - namePrefix.size())),
                       *ip};
}

std::optional<std::uint32_t> parseRaceRemData(std::string_view data) {
    constexpr std::string_view ipPrefix = "ip:";
    if (!data.starts_with(ipPrefix)) return std::nullopt;
    return parseDecimalAddress(data.substr(ipPrefix.size()));
}

}  // namespace lobby
