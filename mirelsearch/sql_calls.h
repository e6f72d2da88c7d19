// The SQLite calls shared by the search index's and the sort orders' own
// SQL functions: prepared statements that finalise themselves, steps that
// turn an engine error into the search's exceptions, and the guard that
// keeps an exception from crossing SQLite's C frames.
#pragma once

#include <sqlite3.h>

#include <exception>
#include <memory>
#include <string>
#include <string_view>

#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {

struct TStmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using TStmt = std::unique_ptr<sqlite3_stmt, TStmtDeleter>;

// `what` names the data in error messages ("検索索引").
class TSqlCalls {
 public:
  explicit constexpr TSqlCalls(std::u16string_view what) : what_(what) {}

  TStmt prepare(sqlite3* db, const std::string& sql) const {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
      sqlite3_finalize(stmt);
      throw EMirelSearch(std::u16string(what_) + u"の SQL を準備できません: " +
                         Mirel::from_utf8(sqlite3_errmsg(db)));
    }
    return TStmt(stmt);
  }

  // One step that must not fail; true for a row.
  bool step(sqlite3* db, sqlite3_stmt* stmt) const {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    if (rc == SQLITE_INTERRUPT) throw ESearchTimeout(u"検索が時間内に終わりませんでした");
    throw EMirelSearch(std::u16string(what_) + u"を読み書きできません: " +
                       Mirel::from_utf8(sqlite3_errmsg(db)));
  }

  void run(sqlite3* db, sqlite3_stmt* stmt) const {
    while (step(db, stmt)) {
    }
    sqlite3_reset(stmt);
  }

 private:
  std::u16string_view what_;
};

// Errors inside a function end the SQL statement with the message, never an
// exception through SQLite's C frames; `fallback` for one without a message.
template <typename Body>
void guarded(sqlite3_context* context, const char* fallback, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, fallback, -1);
  }
}

}  // namespace Mirelsearch_tlb::detail
