#include "races/history.h"

#include <string>

#include "races/sqlite_db.h"

namespace lobby::history {
namespace {

// A race still listed has no end yet and sorts last: the pictures and the pruning read by end.
const std::string kEndOrStillOpen = "ifnull(closed, 9223372036854775807)";

}  // namespace

void createSchema(sqlite3* db) {
    execSql(db,
            "CREATE TABLE IF NOT EXISTS history ("
            " game TEXT NOT NULL, opened INTEGER NOT NULL, closed INTEGER,"
            " ended TEXT CHECK (ended IN ('withdrawn', 'expired')),"
            " CHECK ((closed IS NULL) = (ended IS NULL)))");
    // Only the races still listed: small, and what a withdrawal or the sweep looks up.
    execSql(db,
            "CREATE INDEX IF NOT EXISTS history_open ON history (opened, game)"
            " WHERE closed IS NULL");
    execSql(db,
            ("CREATE INDEX IF NOT EXISTS history_by_end ON history (" + kEndOrStillOpen + ")").c_str());
}

void recordOpened(sqlite3* db, std::string_view game, std::int64_t at) {
    Statement(db, "INSERT INTO history (game, opened) VALUES (?1, ?2)").bind(1, game).bind(2, at).run();
}

void recordClosed(sqlite3* db, std::string_view game, std::int64_t opened, std::int64_t at,
                  RaceEnd end) {
    Statement(db,
              "UPDATE history SET closed = ?3, ended = ?4 WHERE rowid = (SELECT rowid FROM"
              " history WHERE opened = ?2 AND game = ?1 AND closed IS NULL LIMIT 1)")
        .bind(1, game)
        .bind(2, opened)
        .bind(3, at)
        .bind(4, end == RaceEnd::Withdrawn ? "withdrawn" : "expired")
        .run();
}

void recordExpired(sqlite3* db, const Expiry& expiry, std::int64_t now) {
    Statement(db,
              "UPDATE history SET closed = opened + ?2, ended = 'expired'"
              " WHERE closed IS NULL AND opened <= ?1")
        .bind(1, expiry.cutoff(now))
        .bind(2, expiry.ttl)
        .run();
}

int prune(sqlite3* db, std::int64_t before) {
    Statement(db, ("DELETE FROM history WHERE " + kEndOrStillOpen + " < ?1").c_str())
        .bind(1, before)
        .run();
    return sqlite3_changes(db);
}

std::vector<PastRace> read(sqlite3* db, std::int64_t from) {
    Statement select(db,
                     ("SELECT game, opened, closed FROM history WHERE " + kEndOrStillOpen +
                      " >= ?1 ORDER BY opened")
                         .c_str());
    select.bind(1, from);
    std::vector<PastRace> races;
    while (select.step()) {
        PastRace race{select.text(0), select.integer(1), std::nullopt};
        if (!select.isNull(2)) race.closed = select.integer(2);
        races.push_back(std::move(race));
    }
    return races;
}

}  // namespace lobby::history
