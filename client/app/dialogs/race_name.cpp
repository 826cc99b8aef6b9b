#include "app/dialogs/race_name.h"

bool isRaceNameChar(char c) {
    // Compared as signed bytes: everything from 0x80 up is negative and fails.
    const signed char s = static_cast<signed char>(c);
    return (s >= 'a' && s <= 'z') || (s >= 'A' && s <= 'Z') || (s >= '0' && s <= '9') || s == '-' || s == '_' ||
           s == ' ' || s == '\'';
}

bool isRaceName(std::string_view name) {
    bool allPass = true;
    for (char c : name) allPass = isRaceNameChar(c) && allPass;  // looks at every character
    return allPass;
}
