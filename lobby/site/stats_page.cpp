#include "site/stats_page.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "site/escaping.h"
#include "site/website.h"

namespace lobby {
namespace {

constexpr std::int64_t kHour = 3600;
constexpr std::int64_t kDay = 24 * kHour;
constexpr const char* kWeekdays[] = {"Monday", "Tuesday", "Wednesday", "Thursday",
                                     "Friday", "Saturday", "Sunday"};
// From no race to the most: light grey, then ever darker blue.
constexpr const char* kShades[] = {"#f0f0f0", "#c6dbef", "#9ecae1", "#6baed6", "#3182bd", "#08519c"};

// 1970-01-01 was a Thursday.
int weekdayOf(std::int64_t t) { return static_cast<int>((t / kDay + 3) % 7); }
int hourOf(std::int64_t t) { return static_cast<int>(t % kDay / kHour); }

// "Dec 5"
std::string shortDay(std::int64_t t) {
    std::string day = utcText(t, "%d");
    return utcText(t, "%b ") + (day[0] == '0' ? day.substr(1) : day);
}

std::string number(double value, const char* format) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Few digits, but never "0.0" for a hour that did have races.
// Rounded half away from zero, as in the JSON.
std::string average(double value) {
    if (value >= 10) return number(std::round(value), "%.0f");
    if (value >= 1) return number(std::round(value * 10) / 10, "%.1f");
    return number(std::round(value * 100) / 100, "%.2f");
}

std::string races(int count) { return std::to_string(count) + (count == 1 ? " race" : " races"); }

struct Busiest {
    int weekday = 0, hour = 0;
    double open = 0;
};

Busiest busiestOf(const RaceStats& stats) {
    Busiest best;
    for (int d = 0; d < 7; ++d)
        for (int h = 0; h < 24; ++h)
            if (stats.open[d][h] > best.open) best = {d, h, stats.open[d][h]};
    return best;
}

std::string hourSpan(int hour) {
    return number(hour, "%02.0f") + ":00 to " + number((hour + 1) % 24, "%02.0f") + ":00";
}

std::string barChart(const RaceStats& stats, const RaceStats::Game& game) {
    constexpr double left = 36, right = 472, top = 16, bottom = 140;
    const double slot = (right - left) / kStatsDays;
    int most = *std::max_element(game.announced.begin(), game.announced.end());
    int total = 0, busiestDay = 0;
    for (int d = 0; d < kStatsDays; ++d) {
        total += game.announced[static_cast<std::size_t>(d)];
        if (game.announced[static_cast<std::size_t>(d)] == most) busiestDay = d;
    }
    const std::string id = "bars-" + escapeHtml(game.game);
    auto dayOf = [&](int d) { return stats.firstDay + d * kDay; };
    std::string summary = escapeHtml(game.game) + ": " + races(total) + " announced in the last " +
                          std::to_string(kStatsDays) + " days";
    if (most > 0)
        summary += ", most on " + shortDay(dayOf(busiestDay)) + " (" + races(most) + ")";
    std::string svg = "<svg role=\"img\" aria-labelledby=\"" + id +
                      "\" viewBox=\"0 0 480 170\" font-size=\"13\" fill=\"#222\">\n<title id=\"" +
                      id + "\">" + summary + ".</title>\n";
    svg += "<text x=\"30\" y=\"" + number(top + 4, "%.0f") + "\" text-anchor=\"end\">" +
           std::to_string(std::max(most, 1)) + "</text>\n<text x=\"30\" y=\"" +
           number(bottom, "%.0f") + "\" text-anchor=\"end\">0</text>\n";
    for (int d = 0; d < kStatsDays; ++d) {
        int count = game.announced[static_cast<std::size_t>(d)];
        double height = (bottom - top) * count / std::max(most, 1);
        svg += "<rect class=\"bar\" data-count=\"" + std::to_string(count) + "\" x=\"" +
               number(left + slot * d + 2, "%.1f") + "\" y=\"" + number(bottom - height, "%.1f") +
               "\" width=\"" + number(slot - 4, "%.1f") + "\" height=\"" +
               number(height, "%.1f") + "\" fill=\"#3182bd\"><title>" +
               utcText(dayOf(d), "%a ") + shortDay(dayOf(d)) + ": " + races(count) + "</title></rect>\n";
    }
    svg += "<line x1=\"" + number(left, "%.0f") + "\" y1=\"140.5\" x2=\"" + number(right, "%.0f") +
           "\" y2=\"140.5\" stroke=\"#767676\"/>\n";
    const std::pair<int, const char*> labels[] = {
        {0, "start"}, {kStatsDays / 2, "middle"}, {kStatsDays - 1, "end"}};
    for (const auto& [d, anchor] : labels)
        svg += "<text x=\"" +
               number(d == 0 ? left : d == kStatsDays - 1 ? right : left + slot * (d + 0.5), "%.1f") +
               "\" y=\"160\" text-anchor=\"" + anchor + "\">" + shortDay(dayOf(d)) +
               "</text>\n";
    return svg + "</svg>\n";
}

std::string heatMap(const RaceStats& stats) {
    constexpr double left = 44, top = 22, width = 18, height = 22;
    double most = busiestOf(stats).open;
    std::string svg =
        "<svg role=\"img\" aria-labelledby=\"heat-title\" viewBox=\"0 0 480 214\" font-size=\"13\""
        " fill=\"#222\">\n<title id=\"heat-title\">Races open by weekday and hour, UTC, on "
        "average over the last four weeks. " + busiestHourText(stats) + "</title>\n";
    for (int h = 0; h < 24; h += 3)
        svg += "<text x=\"" + number(left + width * (h + 0.5), "%.1f") +
               "\" y=\"14\" text-anchor=\"middle\">" + number(h, "%02.0f") + "</text>\n";
    for (int d = 0; d < 7; ++d) {
        double y = top + height * d;
        svg += "<text x=\"0\" y=\"" + number(y + 15, "%.0f") + "\">" +
               std::string(kWeekdays[d], 3) + "</text>\n";
        for (int h = 0; h < 24; ++h) {
            double open = stats.open[static_cast<std::size_t>(d)][static_cast<std::size_t>(h)];
            int shade = open <= 0 ? 0 : std::clamp(static_cast<int>(std::ceil(open / most * 5)), 1, 5);
            svg += "<rect class=\"cell\" data-open=\"" + number(open, "%.2f") + "\" x=\"" +
                   number(left + width * h, "%.0f") + "\" y=\"" + number(y, "%.0f") +
                   "\" width=\"" + number(width - 1, "%.0f") + "\" height=\"" +
                   number(height - 1, "%.0f") + "\" fill=\"" + kShades[shade] + "\"><title>" +
                   kWeekdays[d] + " " + hourSpan(h) + " UTC: " + average(open) +
                   " open on average</title></rect>\n";
        }
    }
    svg += "<text x=\"" + number(left, "%.0f") + "\" y=\"205\">fewer</text>\n";
    for (int s = 0; s < 6; ++s)
        svg += "<rect x=\"" + number(left + 60 + s * width, "%.0f") + "\" y=\"192\" width=\"" +
               number(width - 1, "%.0f") + "\" height=\"17\" fill=\"" + kShades[s] + "\"/>\n";
    svg += "<text x=\"" + number(left + 66 + 6 * width, "%.0f") + "\" y=\"205\">more races open</text>\n";
    return svg + "</svg>\n";
}

std::string figuresTable(const RaceStats& stats) {
    std::string html = "<details>\n<summary>The same figures as a table</summary>\n<table>\n"
                       "<tr><th>Day (UTC)</th>";
    for (const auto& game : stats.games) html += "<th>" + escapeHtml(game.game) + "</th>";
    html += "</tr>\n";
    for (int d = kStatsDays - 1; d >= 0; --d) {
        html += "<tr><td>" + utcText(stats.firstDay + d * kDay, "%Y-%m-%d") + "</td>";
        for (const auto& game : stats.games)
            html += "<td>" + std::to_string(game.announced[static_cast<std::size_t>(d)]) + "</td>";
        html += "</tr>\n";
    }
    return html + "</table>\n</details>\n";
}

}  // namespace

std::int64_t statsReadFrom(std::int64_t now) {
    return std::min(now / kDay * kDay - (kStatsDays - 1) * kDay,
                    now / kHour * kHour - kStatsWeeks * 7 * kDay);
}

RaceStats computeStats(const std::vector<PastRace>& history,
                       const std::vector<std::string>& games, std::int64_t now) {
    RaceStats stats;
    stats.now = now;
    stats.firstDay = now / kDay * kDay - (kStatsDays - 1) * kDay;
    stats.hoursTo = now / kHour * kHour;
    stats.hoursFrom = stats.hoursTo - kStatsWeeks * 7 * kDay;
    for (const std::string& game : games) stats.games.push_back({game, {}});
    for (const PastRace& race : history) {
        for (auto& game : stats.games)
            if (game.game == race.game && race.opened >= stats.firstDay &&
                race.opened < stats.firstDay + kStatsDays * kDay)
                ++game.announced[static_cast<std::size_t>((race.opened - stats.firstDay) / kDay)];
        // Open from its announcement to its end, in whole seconds, split over the hours.
        std::int64_t from = std::max(race.opened, stats.hoursFrom);
        std::int64_t to = std::min(race.closed.value_or(now), stats.hoursTo);
        if (from >= to) continue;
        for (std::int64_t hour = from / kHour * kHour; hour < to; hour += kHour) {
            std::int64_t seconds = std::min(to, hour + kHour) - std::max(from, hour);
            stats.open[static_cast<std::size_t>(weekdayOf(hour))][static_cast<std::size_t>(hourOf(hour))] +=
                static_cast<double>(seconds) / (kHour * kStatsWeeks);
        }
    }
    return stats;
}

std::string busiestHourText(const RaceStats& stats) {
    Busiest best = busiestOf(stats);
    if (best.open <= 0) return "No races were open in the last four weeks.";
    return "Races are most often open on " + std::string(kWeekdays[best.weekday]) + "s from " +
           hourSpan(best.hour) + " UTC: " + average(best.open) +
           " on average over the last four weeks.";
}

std::string renderStatsPage(const RaceStats& stats) {
    std::string html = pageStart("When people race", "/stats") +
                       "<p>From the lobby's history: how many races players announced each day, "
                       "and when races were open. All times are in UTC.</p>\n<p><strong>" +
                       busiestHourText(stats) + "</strong></p>\n<h2>Races announced per day, last " +
                       std::to_string(kStatsDays) + " days (UTC)</h2>\n";
    for (const auto& game : stats.games) {
        int total = 0;
        for (int count : game.announced) total += count;
        html += "<h3>" + escapeHtml(game.game) + ": " + races(total) + "</h3>\n" +
                barChart(stats, game);
    }
    html += figuresTable(stats) +
            "<h2>Races open by weekday and hour (UTC)</h2>\n<p>Each square is the average number "
            "of races open in that hour of the week, over the four weeks from " +
            shortDay(stats.hoursFrom) + utcText(stats.hoursFrom, ", %H:%M") + " to " +
            shortDay(stats.hoursTo) + utcText(stats.hoursTo, ", %H:%M") +
            " UTC. Darker squares: more races open.</p>\n" + heatMap(stats);
    return html + pageEnd("<p class=\"note\">Figures as of " + utcText(stats.now, "%Y-%m-%d %H:%M:%S") +
                          " UTC, made again at most once a minute; for programs: <a "
                          "href=\"/stats.json\">/stats.json</a>. The history keeps when races were "
                          "announced and when they ended, never who hosted them.</p>");
}

std::string renderStatsJson(const RaceStats& stats) {
    nlohmann::ordered_json doc;
    doc["generated"] = stats.now;
    doc["generated_utc"] = isoUtc(stats.now);
    auto& days = doc["days"] = nlohmann::ordered_json::array();
    for (int d = 0; d < kStatsDays; ++d) days.push_back(utcText(stats.firstDay + d * kDay, "%Y-%m-%d"));
    auto& announced = doc["announced"] = nlohmann::ordered_json::object();
    for (const auto& game : stats.games) announced[game.game] = game.announced;
    auto& open = doc["open_by_hour"] = nlohmann::ordered_json::object();
    open["from_utc"] = isoUtc(stats.hoursFrom);
    open["to_utc"] = isoUtc(stats.hoursTo);
    open["weekdays"] = std::vector<std::string>(std::begin(kWeekdays), std::end(kWeekdays));
    auto& averages = open["average_open"] = nlohmann::ordered_json::array();
    for (const auto& day : stats.open) {
        auto& row = averages.emplace_back(nlohmann::ordered_json::array());
        for (double value : day) row.push_back(std::round(value * 100) / 100);
    }
    Busiest best = busiestOf(stats);
    doc["busiest_hour"] = best.open <= 0 ? nlohmann::ordered_json(nullptr)
                                         : nlohmann::ordered_json{{"weekday", kWeekdays[best.weekday]},
                                                                  {"hour", best.hour},
                                                                  {"average_open", std::round(best.open * 100) / 100}};
    return doc.dump() + "\n";
}

}  // namespace lobby
