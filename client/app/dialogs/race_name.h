#pragma once
// The race-name check of the "Add race" dialog; no Windows here, so it is tested natively.
#include <string_view>

#include "wire/text_rules.h"

// True when every character passes isRaceNameChar (an empty name passes too: emptiness is
// checked apart).
bool isRaceName(std::string_view name);
