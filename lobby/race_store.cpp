#include "race_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <string>

namespace lobby {

// A prepared statement that is reset when it goes out of scope.
class RaceStore::Statement {
public:
    Statement(RaceStore& store, const char* sql) : store_(store) {
        if (sqlite3_prepare_v2(store.db_, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            store.fail("prepare");
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::string_view text) {
        check(sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement& bind(int index, std::int64_t value) {
        check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    // True while a row is there.
    bool step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        store_.fail("step");
    }
    void run() {
        while (step()) {
        }
        sqlite3_reset(stmt_);
    }
    std::int64_t integer(int column) { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) {
        auto p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
    }

private:
    void check(int rc) {
        if (rc != SQLITE_OK) store_.fail("bind");
    }
    RaceStore& store_;
    sqlite3_stmt* stmt_ = nullptr;
};

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
            Statement journal(*this, "PRAGMA journal_mode=WAL");
            journal.step();
            if (path != ":memory:" && journal.text(0) != "wal")
                throw StoreError("cannot use write-ahead logging for " + path);
        }
        // FULL: a race confirmed to a player survives even a power cut, not only a crash.
        exec("PRAGMA synchronous=FULL");
        exec("CREATE TABLE IF NOT EXISTS races ("
             " game TEXT NOT NULL, ip INTEGER NOT NULL, name TEXT NOT NULL,"
             " created INTEGER NOT NULL, PRIMARY KEY (game, ip)) WITHOUT ROWID");
        exec("CREATE INDEX IF NOT EXISTS races_by_created ON races (created)");
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

RaceStore::~RaceStore() { sqlite3_close(db_); }

void RaceStore::exec(const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) fail(sql);
}

void RaceStore::fail(const char* what) {
    std::string message = std::string(what) + ": " + sqlite3_errmsg(db_);
    if (!sqlite3_get_autocommit(db_)) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw StoreError(message);
}

AddOutcome RaceStore::add(std::string_view game, const Race& race, std::size_t maxRaces) {
    std::lock_guard lock(mutex_);
    exec("BEGIN IMMEDIATE");
    bool exists = Statement(*this, "SELECT 1 FROM races WHERE game = ?1 AND ip = ?2")
                      .bind(1, game)
                      .bind(2, std::int64_t{race.ip})
                      .step();
    if (!exists) {
        Statement count(*this, "SELECT COUNT(*) FROM races WHERE game = ?1");
        count.bind(1, game).step();
        bool full = static_cast<std::uint64_t>(count.integer(0)) >= maxRaces;
        count.run();
        if (full) {
            exec("ROLLBACK");
            return AddOutcome::Full;
        }
    }
    Statement(*this,
              "INSERT INTO races (game, ip, name, created) VALUES (?1, ?2, ?3, ?4)"
              " ON CONFLICT (game, ip) DO UPDATE SET name = excluded.name,"
              " created = excluded.created")
        .bind(1, game)
        .bind(2, std::int64_t{race.ip})
        .bind(3, race.name)
        .bind(4, race.created)
        .run();
    exec("COMMIT");
    return exists ? AddOutcome::Replaced : AddOutcome::Added;
}

void RaceStore::put(std::string_view game, const std::vector<Race>& races) {
    std::lock_guard lock(mutex_);
    exec("BEGIN IMMEDIATE");
    Statement insert(*this,
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
    exec("COMMIT");
}

bool RaceStore::remove(std::string_view game, std::uint32_t ip) {
    std::lock_guard lock(mutex_);
    Statement(*this, "DELETE FROM races WHERE game = ?1 AND ip = ?2")
        .bind(1, game)
        .bind(2, std::int64_t{ip})
        .run();
    return sqlite3_changes(db_) > 0;
}

std::vector<Race> RaceStore::list(std::string_view game, std::int64_t createdAfter) {
    std::lock_guard lock(mutex_);
    Statement select(*this,
                     "SELECT name, ip, created FROM races WHERE game = ?1 AND created > ?2"
                     " ORDER BY created DESC, ip");
    select.bind(1, game).bind(2, createdAfter);
    std::vector<Race> races;
    while (select.step())
        races.push_back(
            Race{select.text(0), static_cast<std::uint32_t>(select.integer(1)), select.integer(2)});
    return races;
}

int RaceStore::sweep(std::int64_t cutoff) {
    std::lock_guard lock(mutex_);
    Statement(*this, "DELETE FROM races WHERE created <= ?1").bind(1, cutoff).run();
    return sqlite3_changes(db_);
}

std::int64_t RaceStore::dataVersion() {
    std::lock_guard lock(mutex_);
    Statement version(*this, "PRAGMA data_version");
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
