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

}  // namespace lobby
