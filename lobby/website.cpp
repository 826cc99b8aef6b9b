#include "website.h"

#include "wire.h"

namespace lobby {

std::string formatAge(std::int64_t seconds) {
    if (seconds < 60) return "under a minute";
    std::int64_t minutes = seconds / 60;
    if (minutes < 60) return std::to_string(minutes) + " min";
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

std::string renderWebsite(const std::vector<GameRaces>& games, std::int64_t now,
                          std::string_view clientUrl) {
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Kestrun lobby</title>\n<style>\n"
        "body{font-family:sans-serif;max-width:46em;margin:2em auto;padding:0 1em;color:#222}\n"
        "table{border-collapse:collapse;width:100%}\n"
        "th,td{text-align:left;padding:.3em .6em;border-bottom:1px solid #ddd}\n"
        "th{background:#f3f3f3}\n</style>\n</head>\n<body>\n<h1>Kestrun lobby</h1>\n"
        "<p>Races that players have announced for NFS4 and NFS5, newest first.</p>\n";
    for (const GameRaces& game : games) {
        html += "<h2>" + escapeHtml(game.game) + " (" + std::to_string(game.races.size()) +
                (game.races.size() == 1 ? " race" : " races") + ")</h2>\n";
        if (game.races.empty()) {
            html += "<p>No races at the moment.</p>\n";
            continue;
        }
        html += "<table>\n<tr><th>Race name</th><th>Host address</th><th>Age</th></tr>\n";
        for (const Race& race : game.races) {
            html += "<tr><td>" + escapeHtml(race.name) + "</td><td>" +
                    escapeHtml(formatDotted(race.ip)) + "</td><td>" +
                    escapeHtml(formatAge(now > race.created ? now - race.created : 0)) +
                    "</td></tr>\n";
        }
        html += "</table>\n";
    }
    html += "<p>To join or host a race, use the Kestrun client for Windows: ";
    if (clientUrl.empty()) {
        html += "ask the people who run this lobby for it, or build it from the Kestrun sources "
                "(<code>cmake --preset windows-x64</code>).";
    } else {
        html += "<a href=\"" + escapeHtml(clientUrl) + "\">get the client here</a>.";
    }
    html += " Its &ldquo;Website&rdquo; button brings you back to this page.</p>\n</body>\n</html>\n";
    return html;
}

}  // namespace lobby
