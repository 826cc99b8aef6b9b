#pragma once
// The lobby's web page: both games' races, as one small self-contained HTML document.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "race_store.h"

namespace lobby {

struct GameRaces {
    std::string game;
    std::vector<Race> races;  // newest first
};

std::string formatAge(std::int64_t seconds);
// "2026-12-07T23:59:59Z"
std::string isoUtc(std::int64_t seconds);

struct WebsiteLink {
    std::string href;
    std::string label;
};

// downloads: the client builds this lobby serves itself; clientUrl: a page elsewhere. With
// neither, the page tells players to ask the host or build the client.
std::string renderWebsite(const std::vector<GameRaces>& games, std::int64_t now,
                          std::string_view clientUrl, const std::vector<WebsiteLink>& downloads = {});

}  // namespace lobby
