#include "website.h"

#include <ctime>

#include "wire.h"

namespace lobby {

std::string isoUtc(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string formatAge(std::int64_t seconds) {
    if (seconds < 60) return "under a minute";
    std::int64_t minutes = seconds / 60;
    if (minutes < 60) return std::to_string(minutes) + " min";
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

std::string renderWebsite(const std::vector<GameRaces>& games, std::int64_t now,
                          std::string_view clientUrl, const std::vector<WebsiteLink>& downloads) {
    std::size_t total = 0;
    for (const GameRaces& game : games) total += game.races.size();
    // A plain refresh keeps the page current without scripts, which the page's policy forbids.
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta http-equiv=\"refresh\" content=\"30\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>Kestrun lobby</title>\n<style>\n"
        "body{font-family:sans-serif;max-width:46em;margin:2em auto;padding:0 1em;color:#222}\n"
        "table{border-collapse:collapse;width:100%}\n"
        "th,td{text-align:left;padding:.3em .6em;border-bottom:1px solid #ddd}\n"
        "th{background:#f3f3f3}\n.note{color:#555;font-size:.9em}\n</style>\n</head>\n<body>\n"
        "<h1>Kestrun lobby</h1>\n"
        "<p>Races that players have announced for NFS4 and NFS5, newest first.</p>\n";
    if (total == 0)
        html += "<p><strong>Nobody is hosting a race right now.</strong> Announce one with the "
                "Kestrun client, or come back later: this page looks again by itself.</p>\n";
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
    html += "<h2>Joining a race</h2>\n<p>Start the game, choose a multiplayer game over "
            "TCP/IP, choose to join, and type the host address of the race shown above.</p>\n"
            "<h2>Hosting a race</h2>\n<p>Use the Kestrun client for Windows: ";
    if (!downloads.empty()) {
        html += "</p>\n<ul>\n";
        for (const WebsiteLink& link : downloads)
            html += "<li><a href=\"" + escapeHtml(link.href) + "\">" + escapeHtml(link.label) +
                    "</a></li>\n";
        html += "</ul>\n<p>";
        if (!clientUrl.empty())
            html += "More about the client: <a href=\"" + escapeHtml(clientUrl) + "\">" +
                    escapeHtml(clientUrl) + "</a>. ";
    } else if (clientUrl.empty()) {
        html += "ask the people who run this lobby for it. (Host: give the lobby the address "
                "players reach it at with <code>--public-url</code>, or with "
                "<code>LOBBY_PUBLIC_URL</code> in <code>/etc/default/kestrun-lobby</code>, and "
                "this page offers the client for that address.) ";
    } else {
        html += "<a href=\"" + escapeHtml(clientUrl) + "\">get the client here</a>. ";
    }
    html += "Its &ldquo;Website&rdquo; button brings you back to this page.</p>\n"
            "<p class=\"note\">Lists as of " +
            escapeHtml(isoUtc(now).replace(10, 1, " ").replace(19, 1, " UTC")) +
            ". This page refreshes itself every 30 seconds; if it stops changing, the lobby "
            "cannot be reached just now.</p>\n</body>\n</html>\n";
    return html;
}

}  // namespace lobby
