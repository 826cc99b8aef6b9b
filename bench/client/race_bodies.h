#pragma once
// Race list bodies as the lobby sends them, with repeatable pseudo-random races.
#include <cstdint>
#include <random>
#include <string>

inline std::string raceListBody(std::size_t count, std::uint32_t seed) {
    static constexpr char kNameChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 '-_";
    std::mt19937 random(seed);
    std::string body = "OK\n1007000000\n" + std::to_string(count) + "\n";
    body.reserve(body.size() + count * 48);
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t length = 4 + random() % 13;
        for (std::size_t k = 0; k < length; ++k) body += kNameChars[random() % (sizeof kNameChars - 1)];
        body += ',' + std::to_string(random()) + ',' + std::to_string(1000000000u + random() % 10000000u) + '\n';
    }
    return body;
}
