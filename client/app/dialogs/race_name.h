#pragma once
// The race-name check of the "Add race" dialog; no Windows here, so it is tested natively.
#include <string_view>

// Letters a-z and A-Z, digits, '-', '_', ' ' and '\''. Bytes of 0x80 and above never pass.
bool isRaceNameChar(char c);

// True when every character passes (an empty name passes too: emptiness is checked apart).
bool isRaceName(std::string_view name);
