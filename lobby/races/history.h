#pragma once
// When people race, and nothing about who: one row per race with its game, when it was
// announced and when it was withdrawn or expired. No address and no name is kept. It lives
// in the race database and is written inside the race store's own transactions, so an
// announcement and its history row are one commit.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "races/expiry.h"

struct sqlite3;

namespace lobby {

enum class RaceEnd { Withdrawn, Expired };

struct PastRace {
    std::string game;
    std::int64_t opened = 0;               // seconds since 1970 UTC
    std::optional<std::int64_t> closed;    // empty while the race is listed
};

// Each throws StoreError with SQLite's text; the caller's transaction is left to the caller.
namespace history {

void createSchema(sqlite3* db);
void recordOpened(sqlite3* db, std::string_view game, std::int64_t at);
// Closes one open race of this game announced at `opened`. Races of one game announced in
// the same second can't be told apart here, and need not be.
void recordClosed(sqlite3* db, std::string_view game, std::int64_t opened, std::int64_t at,
                  RaceEnd end);
// Every open race expired at `now` ran out at its deadline.
void recordExpired(sqlite3* db, const Expiry& expiry, std::int64_t now);
// Forgets races announced before `before`; gives how many.
int prune(sqlite3* db, std::int64_t before);
// Races announced at or after `from`, or still open then, oldest first.
std::vector<PastRace> read(sqlite3* db, std::int64_t from);

}  // namespace history
}  // namespace lobby
