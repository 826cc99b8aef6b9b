#pragma once
// The races, kept in SQLite (WAL). One connection, guarded by the store's own mutex, so
// every method may be called from any thread.
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace lobby {

struct Race {
    std::string name;
    std::uint32_t ip = 0;
    std::int64_t created = 0;  // seconds since 1970 UTC
};

// Carries SQLite's own text; meant for the operator's log, never for a player.
class StoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
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
    // refused once the game holds maxRaces races. Committed before it returns.
    AddOutcome add(std::string_view game, const Race& race, std::size_t maxRaces);
    // Adds or replaces all of them in one transaction, without a limit.
    void put(std::string_view game, const std::vector<Race>& races);
    bool remove(std::string_view game, std::uint32_t ip);
    // Races created after `createdAfter`, newest first.
    std::vector<Race> list(std::string_view game, std::int64_t createdAfter);
    // Deletes every race created at or before `cutoff`; gives how many went.
    int sweep(std::int64_t cutoff);
    // Changes whenever another connection (another process) commits to the database.
    std::int64_t dataVersion();

private:
    class Statement;
    void exec(const char* sql);
    [[noreturn]] void fail(const char* what);

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

// Races for the documentation address blocks (192.0.2.0/24, 198.51.100.0/24,
// 203.0.113.0/24), which belong to no one, so seeding claims nobody's address.
// At most kMaxDemoRaces; created within the last half hour before `now`.
inline constexpr int kMaxDemoRaces = 3 * 254;
std::vector<Race> demoRaces(int count, std::int64_t now);

}  // namespace lobby
