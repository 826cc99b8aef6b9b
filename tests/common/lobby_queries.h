#pragma once
// The lobby script's queries as the client sends them. Names and addresses go in as given:
// a name with blanks must already be percent-encoded, an address is a decimal number.
#include <string>

#include "wire/race_data.h"

// 127.0.M.N as a client's source address, and as the decimal the race data takes.
inline std::string loopbackSource(int third, int fourth) {
    return "127.0." + std::to_string(third) + "." + std::to_string(fourth);
}
inline std::string loopbackDecimal(int third, int fourth) {
    return std::to_string((127u << 24) | (static_cast<unsigned>(third) << 8) | static_cast<unsigned>(fourth));
}

inline std::string raceListQuery(const std::string& game) { return "action=racelist&game=" + game; }

inline std::string raceAddQuery(const std::string& game, const std::string& name, const std::string& ip) {
    return "action=raceadd&game=" + game + "&data=" + raceAddData(name, ip);
}

inline std::string raceRemQuery(const std::string& game, const std::string& ip) {
    return "action=racerem&game=" + game + "&data=" + raceRemData(ip);
}
