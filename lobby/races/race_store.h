#pragma once
// The races, kept in SQLite (WAL), and their history (history.h). One connection, guarded by
// the store's own mutex, so every method may be called from any thread.
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "races/history.h"
#include "races/sqlite_db.h"

namespace lobby {

struct Race {
    std::string name;
    std::uint32_t ip = 0;
    std::int64_t created = 0;  // seconds since 1970 UTC
};

enum class AddOutcome { Added, Replaced, Full };

class RaceStore {
public:
    // Opens or creates the database; ":memory:" gives a private in-memory one.
    explicit RaceStore(const std::string& path);
    ~RaceStore();
    RaceStore(const RaceStore&) = delete;
    RaceStore& operator=(const RaceStore&) = delete;

    // One race per address and game: a second add replaces the first. A new address is
    // refused once the game holds maxRaces races. Committed before it returns, with its
    // history: a replaced race counts as withdrawn and the new one as announced.
    AddOutcome add(std::string_view game, const Race& race, std::size_t maxRaces);
    // Adds or replaces all of them in one transaction, without a limit and without history:
    // demonstration races were never announced.
    void put(std::string_view game, const std::vector<Race>& races);
    // Withdraws the race, recorded in the history as of `now`.
    bool remove(std::string_view game, std::uint32_t ip, std::int64_t now);
    // Races created after `createdAfter`, newest first.
    std::vector<Race> list(std::string_view game, std::int64_t createdAfter);
    // Deletes every race expired at `now`, recorded as expired at its deadline, and forgets
    // the history of races that ended before `historyBefore`; gives how many races went.
    int sweep(const Expiry& expiry, std::int64_t now, std::int64_t historyBefore);
    // The history of races announced at or after `from`, or still open then.
    std::vector<PastRace> history(std::int64_t from);
    // Changes whenever another connection (another process) commits to the database.
    std::int64_t dataVersion();

private:
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

// Races for the documentation address blocks (192.0.2.0/24, 198.51.100.0/24,
// 203.0.113.0/24), which belong to no one, so seeding claims nobody's address.
// At most kMaxDemoRaces; created within the last half hour before `now`.
inline constexpr int kMaxDemoRaces = 3 * 254;
std::vector<Race> demoRaces(int count, std::int64_t now);

}  // namespace lobby
