// A read connection over an alias: an in-memory main database with each
// table's cache attached under its schema. SQLite attaches at most ten
// databases, exactly the number of tables of the largest catalogue query.

#include "database/engine.h"

namespace Mirel::Database::detail {
namespace {

constexpr size_t kMaxTables = 10;

}  // namespace

TConnection::TConnection(const TAlias& alias, const std::vector<std::string>& keys)
    : alias_(alias) {
  if (keys.size() > kMaxTables)
    throw EDatabaseError(from_utf8("一つの SQL で使えるテーブルは " + std::to_string(kMaxTables) +
                                   " 個までです (" + std::to_string(keys.size()) + " 個)"));
  // Every table is located before anything is built, so a missing table is
  // reported at once.
  for (const auto& key : keys) sources_.push_back(require_table(alias_, key));
  db_ = TDb(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  // An update in place by another process holds its lock for milliseconds.
  sqlite3_busy_timeout(db_.get(), 10000);
  for (const auto& src : sources_)
    tables_.push_back(attach_current(db_.get(), alias_, src, schema_name(src.key)));
}

bool TConnection::still_current() const {
  for (size_t i = 0; i < sources_.size(); ++i) {
    TTableSource now;
    if (!locate_table(alias_.dir, sources_[i].key, now) || now.dbf_path != sources_[i].dbf_path ||
        !same_signature(source_signature(now), tables_[i].signature))
      return false;
  }
  return true;
}

}  // namespace Mirel::Database::detail
