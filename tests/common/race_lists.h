#pragma once
// Race lists as the lobby answers "racelist": "OK", the retrieval time, the count, then
// one "name,ip,created" line a race (the address as a decimal number).
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

struct ListedRace {
    std::string name;
    std::uint32_t ip = 0;
    std::int64_t created = 0;
};

// Any races with `name`, `ip` and `created` will do.
template <typename Races = std::vector<ListedRace>>
std::string raceListBody(std::int64_t retrievedOn, const Races& races) {
    std::string body = "OK\n" + std::to_string(retrievedOn) + "\n" + std::to_string(std::size(races)) + "\n";
    for (const auto& r : races) body += r.name + ',' + std::to_string(r.ip) + ',' + std::to_string(r.created) + '\n';
    return body;
}

// Repeatable pseudo-random races: names of 4 to 16 characters the client accepts.
inline std::vector<ListedRace> randomRaces(std::size_t count, std::uint32_t seed) {
    static constexpr char kNameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 '-_";
    std::mt19937 random(seed);
    std::vector<ListedRace> races(count);
    for (ListedRace& race : races) {
        const std::size_t length = 4 + random() % 13;
        for (std::size_t k = 0; k < length; ++k) race.name += kNameChars[random() % (sizeof kNameChars - 1)];
        race.ip = static_cast<std::uint32_t>(random());
        race.created = 1000000000 + random() % 10000000;
    }
    return races;
}
