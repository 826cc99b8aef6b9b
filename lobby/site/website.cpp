#include "site/website.h"

#include <ctime>
#include <utility>

#include "site/escaping.h"
#include "wire/games.h"
#include "wire/text_rules.h"

namespace lobby {

std::string utcText(std::int64_t seconds, const char* format) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, format, &tm);
    return text;
}

std::string isoUtc(std::int64_t seconds) { return utcText(seconds, "%Y-%m-%dT%H:%M:%SZ"); }

std::string formatAge(std::int64_t seconds) {
    if (seconds < 60) return "under a minute";
    std::int64_t minutes = seconds / 60;
    if (minutes < 60) return std::to_string(minutes) + " min";
    return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

std::string checkCellHtml(const Check& check, std::int64_t now) {
    std::string html;
    switch (check.state) {
    case CheckState::Answering:
        html = "answering \u00b7 " + std::to_string(check.players) + " of " +
               std::to_string(check.maxPlayers) + " players";
        if (check.password)
            html += " <span role=\"img\" aria-label=\"password required\" "
                    "title=\"password required\">\U0001F512</span>";
        break;
    case CheckState::Checking: html = "checking\u2026"; break;
    case CheckState::NotReachable: html = "not reachable from the internet"; break;
    case CheckState::NotChecked: return "not checked";
    }
    if (check.checked > 0)
        html += "<br><span class=\"note\">checked " +
                formatAge(now > check.checked ? now - check.checked : 0) + " ago</span>";
    return html;
}

std::string pageStart(std::string_view title, std::string_view path, std::string_view script) {
    static constexpr std::pair<std::string_view, std::string_view> kPages[] = {
        {"/", "Races"}, {"/stats", "When people race"}, {"/check", "Can players reach my race?"}};
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
        "<title>" + escapeHtml(title) + "</title>\n<style>\n"
        "body{font-family:sans-serif;max-width:46em;margin:2em auto;padding:0 1em;color:#222}\n"
        "table{border-collapse:collapse;width:100%}\n"
        "th,td{text-align:left;padding:.3em .6em;border-bottom:1px solid #ddd}\n"
        "th{background:#f3f3f3}\n.note{color:#555;font-size:.9em}\n"
        "nav a{margin-right:1em}\nsvg{display:block;width:100%;height:auto}\n"
        "@media (max-width:30em){svg text{font-size:19px}}\n</style>\n";
    if (!script.empty()) html += "<script src=\"" + escapeHtml(script) + "\" defer></script>\n";
    html += "</head>\n<body>\n<header>\n<h1>" + escapeHtml(title) +
            "</h1>\n<nav aria-label=\"Lobby pages\">";
    for (const auto& [href, label] : kPages)
        html += "<a href=\"" + std::string(href) + "\"" +
                (href == path ? " aria-current=\"page\"" : "") + ">" + std::string(label) + "</a>";
    return html + "</nav>\n</header>\n<main>\n";
}

std::string pageEnd(std::string_view footerHtml) {
    return "</main>\n<footer>\n" + std::string(footerHtml) + "\n</footer>\n</body>\n</html>\n";
}

std::string renderWebsite(const std::vector<GameRaces>& games, std::int64_t now,
                          std::string_view clientUrl, const std::vector<WebsiteLink>& downloads) {
    std::size_t total = 0;
    for (const GameRaces& game : games) total += game.races.size();
    // Without scripts the lists are as of loading, and a plain link loads them again.
    std::string html = pageStart("Kestrun lobby", "/", "/site.js") +
        "<p>Races that players have announced for " + gameIds(" and ") + ", newest first.</p>\n"
        "<p><a href=\"/\">Refresh the lists</a> <button type=\"button\" id=\"pause\" hidden>"
        "Pause live updates</button></p>\n"
        "<p id=\"news\" role=\"status\" aria-live=\"polite\"></p>\n"
        "<p id=\"nobody\"" + std::string(total == 0 ? "" : " hidden") +
        "><strong>Nobody is hosting a race right now.</strong> Announce one with the "
        "Kestrun client, or come back later.</p>\n";
    for (const GameRaces& game : games) {
        html += "<section class=\"game\" data-game=\"" + escapeHtml(game.game) + "\">\n<h2>" +
                escapeHtml(game.game) + " (" + std::to_string(game.races.size()) +
                (game.races.size() == 1 ? " race" : " races") + ")</h2>\n";
        if (game.races.empty()) {
            html += "<p>No races at the moment.</p>\n</section>\n";
            continue;
        }
        html += "<table>\n<tr><th>Race name</th><th>Host address</th><th>Age</th>"
                "<th>Can players reach it?</th></tr>\n";
        for (std::size_t i = 0; i < game.races.size(); ++i) {
            const Race& race = game.races[i];
            html += "<tr><td>" + escapeHtml(race.name) + "</td><td>" +
                    escapeHtml(formatIp(race.ip)) + "</td><td>" +
                    escapeHtml(formatAge(now > race.created ? now - race.created : 0)) +
                    "</td><td>" + checkCellHtml(i < game.checks.size() ? game.checks[i] : Check{}, now) +
                    "</td></tr>\n";
        }
        html += "</table>\n</section>\n";
    }
    html += "<h2>Joining a race</h2>\n<p>Start the game, " + std::string(kJoinSteps) +
            ", and type the host address of the race shown above.</p>\n"
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
    html += "Its &ldquo;Website&rdquo; button brings you back to this page.</p>\n";
    return html + pageEnd("<p class=\"note\" id=\"as-of\">Lists as of " +
                          escapeHtml(utcText(now, "%Y-%m-%d %H:%M:%S UTC")) +
                          ". With scripts on, this page brings them up to date by itself.</p>");
}

}  // namespace lobby
