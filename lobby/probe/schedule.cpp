#include "probe/schedule.h"

#include <algorithm>

namespace lobby {

double ProbeSchedule::credits(AddressProbe& address, Time now) const {
    if (now > address.creditsAt) {
        double earned = std::chrono::duration<double>(now - address.creditsAt) /
                        std::chrono::duration<double>(t_.addressGap);
        address.credits = std::min<double>(t_.datagrams, address.credits + earned);
        address.creditsAt = now;
    }
    return address.credits;
}

void ProbeSchedule::announced(int game, std::uint32_t ip, std::int64_t created, Time now) {
    auto [it, added] = races_.try_emplace({game, ip});
    if (added) {
        auto [address, fresh] = addresses_.try_emplace(ip);
        if (fresh) {
            address->second.credits = t_.datagrams;
            address->second.creditsAt = now;
        }
        ++address->second.races;
    }
    RaceProbe& race = it->second;
    race = RaceProbe{};
    race.announced = race.due = now;
    race.created = created;
    race.order = nextOrder_++;
    race.generation = ++nextGeneration_;  // a check still under way for the old one is dropped
    race.check.state = CheckState::Checking;
}

void ProbeSchedule::withdrawn(int game, std::uint32_t ip) {
    if (races_.erase({game, ip}) == 0) return;
    auto address = addresses_.find(ip);
    if (address != addresses_.end()) --address->second.races;
}

std::vector<ProbeSchedule::Start> ProbeSchedule::due(Time now, std::int64_t wallNow) {
    for (auto it = races_.begin(); it != races_.end();) {
        if (!expiry_.expired(it->second.created, wallNow)) {
            ++it;
            continue;
        }
        --addresses_[it->first.second].races;
        it = races_.erase(it);
    }
    // An address is forgotten once nothing of it is left, not even a spent budget.
    for (auto it = addresses_.begin(); it != addresses_.end();) {
        AddressProbe& a = it->second;
        if (a.races == 0 && !a.busy && credits(a, now) >= t_.datagrams &&
            now - a.lastStart >= t_.addressGap)
            it = addresses_.erase(it);
        else
            ++it;
    }
    std::vector<Start> starts;
    if (inFlight_ >= t_.maxInFlight) return starts;
    std::vector<std::pair<std::uint64_t, const std::pair<int, std::uint32_t>*>> ready;
    for (auto& [key, race] : races_) {
        if (race.withdrawing || race.due > now) continue;
        AddressProbe& a = addresses_[key.second];
        if (a.busy || now - a.lastStart < t_.addressGap || credits(a, now) < 1) continue;
        ready.emplace_back(race.order, &key);
    }
    std::sort(ready.begin(), ready.end());
    for (const auto& [order, key] : ready) {
        if (inFlight_ >= t_.maxInFlight) break;
        AddressProbe& a = addresses_[key->second];
        if (a.busy) continue;  // another game's race of the same address went first
        a.busy = true;
        a.lastStart = now;
        ++inFlight_;
        starts.push_back({key->first, key->second, races_[*key].generation});
    }
    return starts;
}

bool ProbeSchedule::takeDatagram(std::uint32_t ip, Time now) {
    auto it = addresses_.find(ip);
    if (it == addresses_.end() || credits(it->second, now) < 1) return false;
    it->second.credits -= 1;
    return true;
}

bool ProbeSchedule::finished(const Start& start, const Result& result, Time now,
                             std::int64_t wallNow) {
    if (auto address = addresses_.find(start.ip); address != addresses_.end())
        address->second.busy = false;
    if (inFlight_ > 0) --inFlight_;
    auto it = races_.find({start.game, start.ip});
    if (it == races_.end() || it->second.generation != start.generation) return false;
    RaceProbe& race = it->second;
    Check& check = race.check;
    check.checked = wallNow;
    if (result.failed == FailedStep::None) {
        race.answeredEver = true;
        race.failures = 0;
        race.due = now + t_.recheck;
        check.state = CheckState::Answering;
        check.session = result.session.name;
        check.players = static_cast<int>(std::min<std::uint32_t>(result.session.currentPlayers, 1 << 16));
        check.maxPlayers = static_cast<int>(std::min<std::uint32_t>(result.session.maxPlayers, 1 << 16));
        check.password = result.session.passwordRequired();
        check.failedStep = FailedStep::None;
        check.gamePort = result.gamePort;
        return false;
    }
    if (race.failures++ == 0) race.failingSince = now;
    if (result.failed == FailedStep::GamePort) check.gamePort = result.gamePort;
    bool reachableYet = race.answeredEver ? race.failures < 2 : now - race.announced < t_.firstWindow;
    race.due = now + (!race.answeredEver && reachableYet ? t_.retry : t_.recheck);
    if (!reachableYet) {
        check.state = CheckState::NotReachable;
        check.failedStep = result.failed;
    }
    if (race.answeredEver && t_.withdrawSilent.count() > 0 &&
        now - race.failingSince >= t_.withdrawSilent) {
        race.withdrawing = true;
        return true;
    }
    return false;
}

void ProbeSchedule::postpone(const Start& start, Time until) {
    if (auto address = addresses_.find(start.ip); address != addresses_.end())
        address->second.busy = false;
    if (inFlight_ > 0) --inFlight_;
    auto it = races_.find({start.game, start.ip});
    if (it != races_.end() && it->second.generation == start.generation) it->second.due = until;
}

bool ProbeSchedule::checkAgain(std::uint32_t ip, std::int64_t wallNow) {
    auto address = addresses_.find(ip);
    if (address == addresses_.end() || address->second.races == 0 ||
        wallNow - address->second.lastAsked < t_.checkAgainSeconds)
        return false;
    address->second.lastAsked = wallNow;
    for (auto& [key, race] : races_)
        if (key.second == ip && !race.withdrawing) race.due = kLongAgo;
    return true;
}

Check ProbeSchedule::of(int game, std::uint32_t ip) const {
    auto it = races_.find({game, ip});
    return it == races_.end() ? Check{} : it->second.check;
}

}  // namespace lobby
