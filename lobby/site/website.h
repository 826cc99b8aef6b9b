#pragma once
// The lobby's web pages: both games' races, as one small HTML document that a same-origin
// script (/site.js) keeps current, and the frame they share with the statistics page.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "probe/check.h"
#include "races/race_store.h"

namespace lobby {

struct GameRaces {
    std::string game;
    std::vector<Race> races;    // newest first
    std::vector<Check> checks;  // one a race, in the same order; empty: not told
};

std::string formatAge(std::int64_t seconds);
// strftime's format in UTC, up to 31 characters
std::string utcText(std::int64_t seconds, const char* format);
// "2026-12-07T23:59:59Z"
std::string isoUtc(std::int64_t seconds);

// Every page's policy: no one else's resources, no inline script, no framing.
inline constexpr const char* kPagePolicy =
    "default-src 'none'; style-src 'unsafe-inline'; script-src 'self'; connect-src 'self'; "
    "form-action 'self'; frame-ancestors 'none'";

// The document up to and including the opening of <main>, with the site's navigation;
// `path` marks the current page in it. `script`: the path of a same-origin script, or empty.
std::string pageStart(std::string_view title, std::string_view path, std::string_view script = {});
// Closes <main>, and gives the footer this HTML.
std::string pageEnd(std::string_view footerHtml);

// A race's check in words, as a table cell's HTML: "answering · 3 of 8 players" (a lock
// where a password is required), "checking…", "not reachable from the internet" or "not
// checked", and when it was last checked. site.js writes the same words.
std::string checkCellHtml(const Check& check, std::int64_t now);

struct WebsiteLink {
    std::string href;
    std::string label;
    bool operator==(const WebsiteLink&) const = default;
};

// downloads: the client builds this lobby serves itself; clientUrl: a page elsewhere. With
// neither, the page tells players to ask the host or build the client.
std::string renderWebsite(const std::vector<GameRaces>& games, std::int64_t now,
                          std::string_view clientUrl, const std::vector<WebsiteLink>& downloads = {});

}  // namespace lobby
