#include "site/races_json.h"

#include <nlohmann/json.hpp>

#include "wire/text_rules.h"

namespace lobby {

std::string renderRacesJson(const std::vector<GameRaces>& games, std::int64_t now,
                            std::string_view event) {
    nlohmann::ordered_json doc;
    if (!event.empty()) doc["event"] = event;
    doc["server_time"] = now;
    doc["server_time_utc"] = isoUtc(now);
    auto& races = doc["races"] = nlohmann::ordered_json::object();
    for (const GameRaces& game : games) {
        auto& list = races[game.game] = nlohmann::ordered_json::array();
        for (const Race& race : game.races)
            list.push_back({{"name", race.name},
                            {"host", formatIp(race.ip)},
                            {"created", race.created},
                            {"created_utc", isoUtc(race.created)}});
    }
    // A name from an old database or another tool may hold any byte.
    return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace lobby
