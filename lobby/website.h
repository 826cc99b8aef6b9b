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

// clientUrl: where the client can be had; empty gives the build-it-yourself line.
std::string renderWebsite(const std::vector<GameRaces>& games, std::int64_t now,
                          std::string_view clientUrl);

}  // namespace lobby
