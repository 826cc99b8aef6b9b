#pragma once
// When people race, from the history: races announced per day and game, and how many races
// were open by weekday and hour, as figures, as a page with SVG pictures and as JSON.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "races/history.h"

namespace lobby {

inline constexpr int kStatsDays = 30;   // the bars: today and the 29 days before, UTC
inline constexpr int kStatsWeeks = 4;   // the heat map: the last four weeks of whole hours

struct RaceStats {
    std::int64_t now = 0;
    std::int64_t firstDay = 0;  // midnight UTC that starts the first bar
    struct Game {
        std::string game;
        std::array<int, kStatsDays> announced{};
    };
    std::vector<Game> games;
    std::int64_t hoursFrom = 0, hoursTo = 0;  // the heat map's window, whole hours
    // Monday first; each the average number of races open in that hour of the week.
    std::array<std::array<double, 24>, 7> open{};
};

// Where the history must be read from for computeStats at `now`.
std::int64_t statsReadFrom(std::int64_t now);
RaceStats computeStats(const std::vector<PastRace>& history,
                       const std::vector<std::string>& games, std::int64_t now);

// "Races are most often open on Saturdays from 20:00 to 21:00 UTC, 2.5 on average."
std::string busiestHourText(const RaceStats& stats);
std::string renderStatsPage(const RaceStats& stats);
std::string renderStatsJson(const RaceStats& stats);

}  // namespace lobby
