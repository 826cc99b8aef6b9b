#pragma once
// Every refusal the player may see: its reason, the label /metrics counts it under and the
// text the client shows as it stands, in one table.
#include <cstddef>
#include <string>
#include <string_view>

namespace lobby {

enum class Refusal {
    RateLimited, TooLong, Unreadable, UnknownAction, UnknownGame, NeedsIpv4, NoAddress,
    BadRaceData, BadName, NotOwnAddress, NotOwnRace, BlockedAddress, BlockedName, ListFull,
    NoRace, Internal, Count
};

struct RefusalRow {
    Refusal reason;
    std::string_view label;  // kestrun_refusals_total{reason="…"}
    std::string_view text;   // "{}" stands for the detail: an address, a game
};

const RefusalRow& refusalRow(Refusal reason);
std::string refusalText(Refusal reason, std::string_view detail = {});
// "ERROR\n" + text + "\n": what the protocol answers with status 200.
std::string errorBody(std::string_view text);
inline std::string refusalBody(Refusal reason, std::string_view detail = {}) {
    return errorBody(refusalText(reason, detail));
}

}  // namespace lobby
