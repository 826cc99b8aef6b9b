#include "site/races_json.h"

#include <nlohmann/json.hpp>

#include "wire/text_rules.h"

namespace lobby {
namespace {

nlohmann::ordered_json checkJson(const Check& check) {
    nlohmann::ordered_json doc{{"state", checkStateName(check.state)}};
    if (check.checked > 0) {
        doc["checked"] = check.checked;
        doc["checked_utc"] = isoUtc(check.checked);
    }
    if (check.state == CheckState::Answering) {
        doc["session"] = check.session;
        doc["players"] = check.players;
        doc["max_players"] = check.maxPlayers;
        doc["password"] = check.password;
    }
    if (check.state == CheckState::NotReachable && check.failedStep != FailedStep::None)
        doc["failed_step"] = failedStepName(check.failedStep);
    return doc;
}

}  // namespace

std::string renderRacesJson(const std::vector<GameRaces>& games, std::int64_t now,
                            std::string_view event) {
    nlohmann::ordered_json doc;
    if (!event.empty()) doc["event"] = event;
    doc["server_time"] = now;
    doc["server_time_utc"] = isoUtc(now);
    auto& races = doc["races"] = nlohmann::ordered_json::object();
    for (const GameRaces& game : games) {
        auto& list = races[game.game] = nlohmann::ordered_json::array();
        for (std::size_t i = 0; i < game.races.size(); ++i) {
            const Race& race = game.races[i];
            nlohmann::ordered_json entry{{"name", race.name},
                                         {"host", formatIp(race.ip)},
                                         {"created", race.created},
                                         {"created_utc", isoUtc(race.created)}};
            if (i < game.checks.size()) entry["check"] = checkJson(game.checks[i]);
            list.push_back(std::move(entry));
        }
    }
    // A name from an old database or another tool may hold any byte.
    return doc.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

}  // namespace lobby
