#include "protocol/refusals.h"

#include <array>

#include "wire/games.h"

namespace lobby {
namespace {

static_assert(kMaxRaceNameLength == 16, "the bad-name text states the limit");

constexpr std::array<RefusalRow, static_cast<std::size_t>(Refusal::Count)> kRefusals = {{
    {Refusal::RateLimited, "rate_limited",
     "Too many requests from your address. Please wait a minute and try again."},
    {Refusal::TooLong, "too_long", "The request is too long."},
    {Refusal::Unreadable, "unreadable", "The lobby could not read this request."},
    {Refusal::UnknownAction, "unknown_action",
     "The lobby does not know this request. Is your Kestrun client up to date?"},
    {Refusal::UnknownGame, "unknown_game", "The lobby keeps race lists for {} only."},
    {Refusal::NeedsIpv4, "needs_ipv4",
     "The lobby needs an IPv4 connection to know your address, and yours is IPv6."},
    {Refusal::NoAddress, "no_address", "The lobby could not tell your address."},
    {Refusal::BadRaceData, "bad_race_data", "The lobby could not read the race data."},
    {Refusal::BadName, "bad_name",
     "A race name must be 1 to 16 letters, digits, blanks, hyphens, underscores or apostrophes."},
    {Refusal::NotOwnAddress, "not_own_address",
     "You can only announce a race for your own address, which the lobby sees as {}."},
    {Refusal::NotOwnRace, "not_own_address",
     "You can only withdraw a race of your own address, which the lobby sees as {}."},
    {Refusal::BlockedAddress, "blocked_address", "Your address may not announce races in this lobby."},
    {Refusal::BlockedName, "blocked_name",
     "This race name is not allowed in this lobby. Please choose another name."},
    {Refusal::ListFull, "list_full", "The {} race list is full. Please try again later."},
    {Refusal::NoRace, "no_race", "You have no race in the {} race list."},
    {Refusal::Internal, "internal", "The lobby could not do this just now. Please try again later."},
}};

constexpr bool inOrder() {
    for (std::size_t i = 0; i < kRefusals.size(); ++i)
        if (kRefusals[i].reason != static_cast<Refusal>(i)) return false;
    return true;
}
static_assert(inOrder(), "one row per reason, in the enum's order");

}  // namespace

const RefusalRow& refusalRow(Refusal reason) { return kRefusals[static_cast<std::size_t>(reason)]; }

std::string refusalText(Refusal reason, std::string_view detail) {
    std::string_view text = refusalRow(reason).text;
    std::size_t mark = text.find("{}");
    if (mark == std::string_view::npos) return std::string(text);
    return std::string(text.substr(0, mark)).append(detail).append(text.substr(mark + 2));
}

std::string errorBody(std::string_view text) { return "ERROR\n" + std::string(text) + "\n"; }

}  // namespace lobby
