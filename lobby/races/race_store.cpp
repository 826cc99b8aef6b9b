#include "races/race_store.h"

#include <algorithm>
#include <optional>
#include <string>

namespace lobby {

RaceStore::RaceStore(const std::string& path) {
    int rc = sqlite3_open_v2(path.c_str(), &db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        throw StoreError(message);
    }
    try {
        sqlite3_busy_timeout(db_, 5000);
        {
            Statement journal(db_, "PRAGMA journal_mode=WAL");
            journal.step();
            if (path != ":memory:" && journal.text(0) != "wal")
                throw StoreError("cannot use write-ahead logging for " + path);
        }
        // FULL: a race confirmed to a player survives even a power cut, not only a crash.
        execSql(db_, "PRAGMA synchronous=FULL");
        execSql(db_,
                "CREATE TABLE IF NOT EXISTS races ("
                " game TEXT NOT NULL, ip INTEGER NOT NULL, name TEXT NOT NULL,"
                " created INTEGER NOT NULL, PRIMARY KEY (game, ip)) WITHOUT ROWID");
        execSql(db_, "CREATE INDEX IF NOT EXISTS races_by_created ON races (created)");
        history::createSchema(db_);
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

RaceStore::~RaceStore() { sqlite3_close(db_); }

AddOutcome RaceStore::add(std::string_view game, const Race& race, std::size_t maxRaces) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    std::optional<std::int64_t> replaced;
    {
        Statement existing(db_, "SELECT created FROM races WHERE game = ?1 AND ip = ?2");
        if (existing.bind(1, game).bind(2, std::int64_t{race.ip}).step())
            replaced = existing.integer(0);
    }
    if (!replaced) {
        Statement count(db_, "SELECT COUNT(*) FROM races WHERE game = ?1");
        count.bind(1, game).step();
        if (static_cast<std::uint64_t>(count.integer(0)) >= maxRaces) return AddOutcome::Full;
    }
    Statement(db_,
              "INSERT INTO races (game, ip, name, created) VALUES (?1, ?2, ?3, ?4)"
              " ON CONFLICT (game, ip) DO UPDATE SET name = excluded.name,"
              " created = excluded.created")
        .bind(1, game)
        .bind(2, std::int64_t{race.ip})
        .bind(3, race.name)
        .bind(4, race.created)
        .run();
    if (replaced) history::recordClosed(db_, game, *replaced, race.created, RaceEnd::Withdrawn);
    history::recordOpened(db_, game, race.created);
    transaction.commit();
    return replaced ? AddOutcome::Replaced : AddOutcome::Added;
}

void RaceStore::put(std::string_view game, const std::vector<Race>& races) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement insert(db_,
                     "INSERT INTO races (game, ip, name, created) VALUES (?1, ?2, ?3, ?4)"
                     " ON CONFLICT (game, ip) DO UPDATE SET name = excluded.name,"
                     " created = excluded.created");
    for (const Race& race : races) {
        insert.bind(1, game)
            .bind(2, std::int64_t{race.ip})
            .bind(3, race.name)
            .bind(4, race.created)
            .run();
    }
    transaction.commit();
}

bool RaceStore::remove(std::string_view game, std::uint32_t ip, std::int64_t now) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement removed(db_, "DELETE FROM races WHERE game = ?1 AND ip = ?2 RETURNING created");
    removed.bind(1, game).bind(2, std::int64_t{ip});
    if (!removed.step()) return false;
    std::int64_t created = removed.integer(0);
    removed.run();
    history::recordClosed(db_, game, created, now, RaceEnd::Withdrawn);
    transaction.commit();
    return true;
}

std::vector<Race> RaceStore::list(std::string_view game, std::int64_t createdAfter) {
    std::lock_guard lock(mutex_);
    Statement select(db_,
                     "SELECT name, ip, created FROM races WHERE game = ?1 AND created > ?2"
                     " ORDER BY created DESC, ip");
    select.bind(1, game).bind(2, createdAfter);
    std::vector<Race> races;
    while (select.step())
        races.push_back(
            Race{select.text(0), static_cast<std::uint32_t>(select.integer(1)), select.integer(2)});
    return races;
}

int RaceStore::sweep(const Expiry& expiry, std::int64_t now, std::int64_t historyBefore) {
    std::lock_guard lock(mutex_);
    Transaction transaction(db_);
    Statement(db_, "DELETE FROM races WHERE created <= ?1").bind(1, expiry.cutoff(now)).run();
    int swept = sqlite3_changes(db_);
    history::recordExpired(db_, expiry, now);
    history::prune(db_, historyBefore);
    transaction.commit();
    return swept;
}

std::vector<PastRace> RaceStore::history(std::int64_t from) {
    std::lock_guard lock(mutex_);
    return history::read(db_, from);
}

std::int64_t RaceStore::dataVersion() {
    std::lock_guard lock(mutex_);
    Statement version(db_, "PRAGMA data_version");
    version.step();
    return version.integer(0);
}

std::vector<Race> demoRaces(int count, std::int64_t now) {
    static constexpr std::uint32_t blocks[] = {0xC0000200u, 0xC6336400u, 0xCB007100u};
    count = std::clamp(count, 0, kMaxDemoRaces);
    std::vector<Race> races;
    for (int i = 0; i < count; ++i) {
        std::uint32_t ip = blocks[i / 254] + static_cast<std::uint32_t>(i % 254) + 1;
        races.push_back(Race{"Demo race " + std::to_string(i + 1), ip, now - (i * 37) % 1800});
    }
    return races;
}

}  // namespace lobby
