#pragma once
// The race database's schema, versioned by PRAGMA user_version: one migration per version,
// each taking it from the one before, never changed once released.
#include <string>

#include "races/sqlite_db.h"

namespace lobby {

inline constexpr int kSchemaVersion = 1;

// Opens or creates the database (":memory:" too) and migrates it to kSchemaVersion in one
// transaction. Throws StoreError; a database of a newer version is refused before anything
// is written to it, and left byte for byte as it was.
sqlite3* openDatabase(const std::string& path);

}  // namespace lobby
