// Small owning wrappers around the SQLite C interface for the engine: a
// connection, a prepared statement, and running SQL with failures turned
// into EDatabaseError carrying SQLite's own message. Internal to database/.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "database/database.h"

namespace Mirel::Database::detail {

// Throws EDatabaseError "<what>: <SQLite's message>".
[[noreturn]] void throw_sqlite(sqlite3* db, const std::string& what);

// An open connection; closed (sqlite3_close_v2) on destruction.
class TDb {
 public:
  TDb() = default;
  // Opens `uri` with `flags` (SQLITE_OPEN_URI is always added). Throws
  // EDatabaseError naming `uri` on failure.
  TDb(const std::string& uri, int flags);
  ~TDb();
  TDb(TDb&& other) noexcept : db_(other.db_) { other.db_ = nullptr; }
  TDb& operator=(TDb&& other) noexcept;
  TDb(const TDb&) = delete;
  TDb& operator=(const TDb&) = delete;

  sqlite3* get() const { return db_; }
  explicit operator bool() const { return db_ != nullptr; }
  void close();
  // Runs one or more statements; throws EDatabaseError on failure.
  void exec(const std::string& sql) const;

 private:
  sqlite3* db_ = nullptr;
};

// A prepared statement; finalized on destruction.
class TStmt {
 public:
  TStmt() = default;
  // Prepares `sql`; throws EDatabaseError with SQLite's message on failure.
  TStmt(sqlite3* db, std::string_view sql);
  ~TStmt();
  TStmt(TStmt&& other) noexcept : st_(other.st_) { other.st_ = nullptr; }
  TStmt& operator=(TStmt&& other) noexcept;
  TStmt(const TStmt&) = delete;
  TStmt& operator=(const TStmt&) = delete;

  sqlite3_stmt* get() const { return st_; }
  // One step: true for a row, false when done; throws EDatabaseError on failure.
  bool step();
  void reset();
  void finalize();

 private:
  sqlite3_stmt* st_ = nullptr;
};

// A file name as an SQLite URI ("file:" and the path with %, ?, # escaped),
// with `query` ("mode=ro") appended when not empty.
std::string file_uri(const std::string& path, const std::string& query = {});

}  // namespace Mirel::Database::detail
