#pragma once
// A protocol request's query and data: the three keys, race names, decimal addresses.
// Nothing here touches the network or the database.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "wire/games.h"
#include "wire/race_data.h"
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

}  // namespace lobby
