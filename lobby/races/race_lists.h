#pragma once
// The races each game's list shows, and the texts made from them. The writer alone changes
// them (commits, sweeps, block-list reloads, changes another process made to the database);
// any thread reads them. A race is listed while it is younger than the lobby's time to live:
// that one rule decides what the store keeps, what the sweep deletes and what a list shows.
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/refusals.h"
#include "races/block_list.h"
#include "races/race_store.h"
#include "system/shared_slot.h"
#include "site/website.h"
#include "wire/games.h"

namespace lobby {

// One game's races as the race list carries them, newest first.
struct GameList {
    std::vector<Race> races;
    std::string lines;                                                  // "name,ip,created\n" each
    std::int64_t expiresAt = std::numeric_limits<std::int64_t>::max();  // the oldest goes then
};

// What a request asks the writer to commit.
struct Change {
    enum class Kind { Add, Remove } kind = Kind::Add;
    int game = 0;  // index in kGames
    Race race;     // Add: name and address, created when committed; Remove: the address
};

// What became of a race, as the writer saw it committed.
struct RaceEvent {
    enum class Kind { Announced, Withdrawn, Expired } kind;
    int game;   // index in kGames
    Race race;  // Withdrawn: the address only
};

class RaceLists {
public:
    // Sweeps the store and lists what is left; throws StoreError.
    // historyDays: how long the store's history keeps a race after it ended.
    RaceLists(RaceStore& store, std::shared_ptr<const BlockList> blocks, std::int64_t ttlSeconds,
              std::int64_t historyDays, std::size_t maxRaces, std::int64_t now);

    // From any thread.
    std::shared_ptr<const GameList> shown(int game, std::int64_t now) const;
    // "OK\n" + now + "\n" + count + "\n" + the lines: one body per second and list, shared.
    std::shared_ptr<const std::string> raceListBody(int game, std::int64_t now) const;
    std::vector<GameRaces> games(std::int64_t now) const;
    std::shared_ptr<const BlockList> blocks() const;

    // Called on the writer once a change is committed and listed: an announcement (also one
    // that replaces the address's race), a withdrawal, each race the sweep deleted. Set
    // before serving.
    void onEvent(std::function<void(const RaceEvent&)> observer) { observer_ = std::move(observer); }

    // On the writer only. Each gives the change's refusal (ListFull, NoRace), if any.
    std::optional<Refusal> commit(const Change& change, std::int64_t now);
    // Deletes what has expired from the store and lists the rest again.
    void sweep(std::int64_t now);
    // Lists the store again if another connection (another process) changed it.
    void pollStore(std::int64_t now);
    // Hides the newly blocked addresses' races and shows the others again.
    void setBlocks(std::shared_ptr<const BlockList> blocks, std::int64_t now);

private:
    struct Derived {
        std::int64_t at = 0;
        std::shared_ptr<const GameList> from, shown;
        std::shared_ptr<const std::string> body;
    };

    std::shared_ptr<const GameList> makeList(std::vector<Race> races) const;
    std::shared_ptr<const GameList> published(int game) const;
    std::shared_ptr<const Derived> derived(int game, std::int64_t now) const;
    void rebuild(int game, std::int64_t now);
    void rebuildAll(std::int64_t now);

    RaceStore& store_;
    const Expiry expiry_;
    const std::int64_t historyKeep_;  // seconds
    const std::size_t maxRaces_;
    std::int64_t dataVersion_ = 0;  // the writer's
    std::function<void(const RaceEvent&)> observer_;

    // Read by every I/O thread for every list it answers: swapped whole, locked only to copy
    // the pointer.
    std::array<SharedSlot<const GameList>, kGames.size()> lists_;
    SharedSlot<const BlockList> blocks_;

    // The texts derived from the lists, per second.
    mutable std::array<SharedSlot<const Derived>, kGames.size()> derived_;
};

}  // namespace lobby
