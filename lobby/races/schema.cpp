#include "races/schema.h"

#include <iterator>

namespace lobby {
namespace {

// kMigrations[n] takes version n to n + 1. Version 0 has no schema version: a new file, or
// one of release 1.0.0, which made each table when it was missing; version 1 is 1.0.0's
// tables, made here the same way.
constexpr const char* kMigrations[] = {
    "CREATE TABLE IF NOT EXISTS races ("
    " game TEXT NOT NULL, ip INTEGER NOT NULL, name TEXT NOT NULL,"
    " created INTEGER NOT NULL, PRIMARY KEY (game, ip)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS races_by_created ON races (created);"
    "CREATE TABLE IF NOT EXISTS history ("
    " game TEXT NOT NULL, opened INTEGER NOT NULL, closed INTEGER,"
    " ended TEXT CHECK (ended IN ('withdrawn', 'expired')),"
    " CHECK ((closed IS NULL) = (ended IS NULL)));"
    // Only the races still listed: small, and what a withdrawal or the sweep looks up.
    "CREATE INDEX IF NOT EXISTS history_open ON history (opened, game) WHERE closed IS NULL;"
    // A race still listed sorts last: the pictures and the pruning read by end.
    "CREATE INDEX IF NOT EXISTS history_by_end ON history (ifnull(closed, 9223372036854775807));",
};
static_assert(std::size(kMigrations) == kSchemaVersion);

int schemaVersion(sqlite3* db) {
    Statement version(db, "PRAGMA user_version");
    version.step();
    int found = static_cast<int>(version.integer(0));
    if (found > kSchemaVersion)
        throw StoreError("its schema version " + std::to_string(found) + " is newer than this lobby's (" +
                         std::to_string(kSchemaVersion) +
                         "): a later release wrote it; it is left unchanged");
    return found;
}

}  // namespace

sqlite3* openDatabase(const std::string& path) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close(db);
        throw StoreError(message);
    }
    try {
        sqlite3_busy_timeout(db, 5000);
        // Until the version is known: closing must not checkpoint a newer lobby's log into
        // the file.
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
        int version = schemaVersion(db);
        sqlite3_db_config(db, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
        {
            Statement journal(db, "PRAGMA journal_mode=WAL");
            journal.step();
            if (path != ":memory:" && journal.text(0) != "wal")
                throw StoreError("cannot use write-ahead logging for " + path);
        }
        // FULL: a race confirmed to a player survives even a power cut, not only a crash.
        execSql(db, "PRAGMA synchronous=FULL");
        if (version < kSchemaVersion) {
            Transaction transaction(db);
            // Another process may have migrated it meanwhile.
            for (version = schemaVersion(db); version < kSchemaVersion; ++version)
                execSql(db, kMigrations[version]);
            execSql(db, ("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
            transaction.commit();
        }
    } catch (...) {
        sqlite3_close(db);
        throw;
    }
    return db;
}

}  // namespace lobby
