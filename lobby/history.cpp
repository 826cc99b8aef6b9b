#include "history.h"

#include "sqlite_db.h"

namespace lobby::history {

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

void recordExpired(sqlite3* db, std::int64_t cutoff, std::int64_t ttl) {
    Statement(db,
              "UPDATE history SET closed = opened + ?2, ended = 'expired'"
              " WHERE closed IS NULL AND opened <= ?1")
        .bind(1, cutoff)
        .bind(2, ttl)
        .run();
}

int prune(sqlite3* db, std::int64_t before) {
    Statement(db, "DELETE FROM history WHERE ifnull(closed, 9223372036854775807) < ?1")
        .bind(1, before)
        .run();
    return sqlite3_changes(db);
}

std::vector<PastRace> read(sqlite3* db, std::int64_t from) {
    Statement select(db,
                     "SELECT game, opened, closed FROM history"
                     " WHERE ifnull(closed, 9223372036854775807) >= ?1 ORDER BY opened");
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
