#pragma once
// The races as JSON, for community sites and chat bots: /races.json and the webhooks' json.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "site/website.h"

namespace lobby {

// {"server_time":…,"server_time_utc":"…","races":{"NFS4":[{"name","host","created",
// "created_utc","check"}…],…}}; bytes that are not UTF-8 become U+FFFD. "check" only where
// the games carry checks: {"state", then what applies: "checked","checked_utc" once checked;
// "session","players","max_players","password" while answering; "failed_step" when not
// reachable}. An event, when given, comes first: {"event":…,"server_time":…}.
std::string renderRacesJson(const std::vector<GameRaces>& games, std::int64_t now,
                            std::string_view event = {});

}  // namespace lobby
