#include "races/race_lists.h"

#include <algorithm>

namespace lobby {

RaceLists::RaceLists(RaceStore& store, std::shared_ptr<const BlockList> blocks,
                     std::int64_t ttlSeconds, std::int64_t historyDays, std::size_t maxRaces,
                     std::int64_t now)
    : store_(store), expiry_{ttlSeconds}, historyKeep_(historyDays * 24 * 60 * 60),
      maxRaces_(maxRaces), dataVersion_(store.dataVersion()), blocks_(std::move(blocks)) {
    sweep(now);
}

std::shared_ptr<const GameList> RaceLists::published(int game) const {
    return lists_[static_cast<std::size_t>(game)].load();
}

std::shared_ptr<const BlockList> RaceLists::blocks() const { return blocks_.load(); }

// A list past its first expiry is filtered in memory, once a second; the disk is the
// sweep's business.
std::shared_ptr<const RaceLists::Derived> RaceLists::derived(int game, std::int64_t now) const {
    auto index = static_cast<std::size_t>(game);
    auto list = published(game);
    auto cached = derived_[index].load();
    if (cached && cached->at == now && cached->from == list) return cached;
    Derived fresh{now, list, list, nullptr};
    if (now >= list->expiresAt) {
        std::vector<Race> live;
        for (const Race& race : list->races)
            if (!expiry_.expired(race.created, now)) live.push_back(race);
        fresh.shown = makeList(std::move(live));
    }
    fresh.body = std::make_shared<const std::string>(
        "OK\n" + std::to_string(now) + "\n" + std::to_string(fresh.shown->races.size()) + "\n" +
        fresh.shown->lines);
    auto made = std::make_shared<const Derived>(std::move(fresh));
    derived_[index].store(made);
    return made;
}

std::shared_ptr<const GameList> RaceLists::shown(int game, std::int64_t now) const {
    return derived(game, now)->shown;
}

std::shared_ptr<const std::string> RaceLists::raceListBody(int game, std::int64_t now) const {
    return derived(game, now)->body;
}

std::vector<GameRaces> RaceLists::games(std::int64_t now) const {
    std::vector<GameRaces> games;
    for (std::size_t i = 0; i < kGames.size(); ++i)
        games.push_back(GameRaces{std::string(kGames[i].id), shown(static_cast<int>(i), now)->races});
    return games;
}

std::optional<Refusal> RaceLists::commit(const Change& change, std::int64_t now) {
    std::string_view game = kGames[static_cast<std::size_t>(change.game)].id;
    RaceEvent event{RaceEvent::Kind::Announced, change.game, change.race};
    if (change.kind == Change::Kind::Add) {
        event.race.created = now;
        if (store_.add(game, event.race, maxRaces_) == AddOutcome::Full) return Refusal::ListFull;
    } else if (store_.remove(game, change.race.ip, now)) {
        event.kind = RaceEvent::Kind::Withdrawn;
    } else {
        return Refusal::NoRace;
    }
    rebuild(change.game, now);
    if (observer_) observer_(event);
    return std::nullopt;
}

void RaceLists::sweep(std::int64_t now) {
    std::vector<RaceEvent> expired;
    if (observer_)
        for (std::size_t i = 0; i < kGames.size(); ++i)
            for (Race& race : store_.list(kGames[i].id, std::numeric_limits<std::int64_t>::min()))
                if (expiry_.expired(race.created, now))
                    expired.push_back({RaceEvent::Kind::Expired, static_cast<int>(i), std::move(race)});
    // From a whole hour: the heat map's first hour then has all its races.
    store_.sweep(expiry_, now, now / 3600 * 3600 - historyKeep_);
    rebuildAll(now);
    for (const RaceEvent& event : expired) observer_(event);
}

void RaceLists::pollStore(std::int64_t now) {
    std::int64_t version = store_.dataVersion();
    if (version == dataVersion_) return;
    dataVersion_ = version;
    rebuildAll(now);
}

void RaceLists::setBlocks(std::shared_ptr<const BlockList> blocks, std::int64_t now) {
    blocks_.store(std::move(blocks));
    rebuildAll(now);
}

std::shared_ptr<const GameList> RaceLists::makeList(std::vector<Race> races) const {
    auto list = std::make_shared<GameList>();
    list->races = std::move(races);
    for (const Race& race : list->races) {
        list->lines += race.name + ',' + std::to_string(race.ip) + ',' +
                       std::to_string(race.created) + '\n';
        list->expiresAt = std::min(list->expiresAt, expiry_.deadline(race.created));
    }
    return list;
}

void RaceLists::rebuild(int game, std::int64_t now) {
    auto blocked = blocks();
    std::vector<Race> shown;
    for (Race& race : store_.list(kGames[static_cast<std::size_t>(game)].id, expiry_.cutoff(now)))
        if (!blocked->blocksAddress(race.ip)) shown.push_back(std::move(race));
    lists_[static_cast<std::size_t>(game)].store(makeList(std::move(shown)));
}

void RaceLists::rebuildAll(std::int64_t now) {
    for (std::size_t i = 0; i < kGames.size(); ++i) rebuild(static_cast<int>(i), now);
}

}  // namespace lobby
