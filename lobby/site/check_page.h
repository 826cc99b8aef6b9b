#pragma once
// /check, the page for hosts: the visitor's address as the lobby sees it, each race announced
// from it with its last check, what to mend for the step that failed, and "Check again".
#include <cstdint>
#include <string>
#include <vector>

#include "http/peer_address.h"
#include "probe/check.h"
#include "races/race_store.h"

namespace lobby {

struct HostRace {
    std::string game;
    Race race;
    Check check;
};

// What became of a "Check again" (POST /check), if one was asked.
enum class CheckAgain { NotAsked, Started, Refused };

// probing: whether this lobby checks races at all.
std::string renderCheckPage(const PeerAddress& visitor, const std::vector<HostRace>& races,
                            bool probing, CheckAgain asked, std::int64_t now);

}  // namespace lobby
