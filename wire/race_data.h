#pragma once
// The data= of a race request, as the client writes it and the lobby reads it:
// "name:" + name + ";ip:" + decimal address for raceadd, "ip:" + decimal address for racerem.
// No Windows and no sockets: every build compiles it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The address goes in as its decimal text, as given (tests also send broken ones).
std::string raceAddData(std::string_view name, std::string_view decimalIp);
std::string raceRemData(std::string_view decimalIp);

// Decimal digits only, 1 to 10 of them, value below 2^32.
std::optional<std::uint32_t> parseDecimalAddress(std::string_view text);

struct RaceAddData {
    std::string name;
    std::uint32_t ip = 0;
};

// The name is returned as given; checking it against the name rule is the caller's separate
// step, so it can say what was wrong.
std::optional<RaceAddData> parseRaceAddData(std::string_view data);
std::optional<std::uint32_t> parseRaceRemData(std::string_view data);
