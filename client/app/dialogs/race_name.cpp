#include "app/dialogs/race_name.h"

bool isRaceName(std::string_view name) {
    bool allPass = true;
    for (char c : name) allPass = isRaceNameChar(c) && allPass;  // looks at every character
    return allPass;
}
