#pragma once
// The race list payload (everything after the "OK" line): the retrieval time, the race
// count, then one "name,address,created" line per race, every line ended by a line feed.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct RaceEntry {
    std::string name;
    std::string ipText;       // dotted form of ipAddress
    std::string createdText;  // local date and time of createdOn; filled by the game tab
    std::uint32_t ipAddress = 0;
    std::uint32_t createdOn = 0;
};

// As much of a payload as could be read. A list is good only when `complete` is true;
// otherwise the caller fails with "Invalid server response.".
struct RaceListPayload {
    bool hasRetrievedOn = false;
    std::uint32_t retrievedOn = 0;
    bool hasCount = false;
    std::uint32_t count = 0;
    std::vector<RaceEntry> races;  // the races read, in server order, before anything went wrong
    bool complete = false;
};

// Every record line takes at least three bytes (two commas and its line feed), so a count
// the rest of the payload cannot hold is refused before anything is allocated for it.
inline constexpr std::size_t kMinRecordLineBytes = 3;

RaceListPayload parseRaceListPayload(std::string_view payload);
