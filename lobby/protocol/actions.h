#pragma once
// Requests by what was asked: the protocol's actions, then the site's routes, each with the
// name /metrics and the access log know it by.
#include <array>
#include <cstddef>
#include <string_view>

namespace lobby {

enum class Action {
    Getip, Racelist, Raceadd, Racerem, Unknown, Website, RacesJson, Metrics, Download, NotFound,
    Stats, StatsJson, Check, CheckAgain, Count
};

inline constexpr std::array<std::string_view, static_cast<std::size_t>(Action::Count)> kActionNames = {
    "getip",   "racelist",   "raceadd", "racerem",  "unknown",   "website",
    "races_json", "metrics", "download", "not_found", "stats",   "stats_json",
    "check",   "check_again"};

inline constexpr std::string_view actionName(Action action) {
    return kActionNames[static_cast<std::size_t>(action)];
}

// The protocol's action a query's action= names: the rows before Unknown; Unknown otherwise.
inline constexpr Action scriptAction(std::string_view name) {
    for (std::size_t i = 0; i < static_cast<std::size_t>(Action::Unknown); ++i)
        if (kActionNames[i] == name) return static_cast<Action>(i);
    return Action::Unknown;
}

}  // namespace lobby
