#pragma once
// A protocol request's query and data: the three keys, race names, decimal addresses.
// Nothing here touches the network or the database.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wire/games.h"
#include "wire/text_rules.h"

namespace lobby {

struct Query {
    std::optional<std::string> action;
    std::optional<std::string> game;
    std::optional<std::string> data;
};

// Splits a raw query (the part after '?') into the three keys the client sends. Values are
// percent-decoded; '+' stays '+'. Nullopt for a broken escape or a key given twice.
// Unknown keys are ignored.
std::optional<Query> parseQuery(std::string_view rawQuery);

using ::percentDecode;

// Letters, digits, blank, hyphen, underscore and apostrophe; 1 to 16 of them.
bool isValidRaceName(std::string_view name);

// Decimal digits only, 1 to 10 of them, value below 2^32.
std::optional<std::uint32_t> parseDecimalAddress(std::string_view text);

struct RaceAddData {
    std::string name;
    std::uint32_t ip = 0;
};

// "name:" + name + ";ip:" + decimal address. The name is returned as given; checking it
// against the name rule is the caller's separate step, so it can say what was wrong.
std::optional<RaceAddData> parseRaceAddData(std::string_view data);

// "ip:" + decimal address.
std::optional<std::uint32_t> parseRaceRemData(std::string_view data);

inline std::string formatDotted(std::uint32_t address) { return formatIp(address); }

}  // namespace lobby
