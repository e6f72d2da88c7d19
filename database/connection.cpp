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

  // The usual case, all caches current, in one read transaction: attach
  // each cache, then read what every one of them recorded.
  const size_t n = sources_.size();
  tables_.resize(n);
  std::vector<bool> attached(n), current(n);
  for (size_t i = 0; i < n; ++i) {
    TAttached& t = tables_[i];
    t.key = sources_[i].key;
    t.schema = schema_name(t.key);
    t.signature = source_signature(sources_[i]);
    register_extension_functions(db_.get(), t.key);
    attached[i] = attach_uri(db_.get(), cache_uri(alias_, t.key), t.schema);
  }
  bool all_current = true;
  if (sqlite3_exec(db_.get(), "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK) {
    for (size_t i = 0; i < n; ++i) {
      current[i] = attached[i] && meta_is_current(read_meta(db_.get(), tables_[i].schema),
                                                  build_key(alias_, tables_[i].key),
                                                  tables_[i].signature);
      all_current = all_current && current[i];
    }
    sqlite3_exec(db_.get(), "COMMIT", nullptr, nullptr, nullptr);
  } else {
    all_current = false;
  }
  if (all_current) return;

  // Stale or missing caches are brought up to date one by one.
  for (size_t i = 0; i < n; ++i) {
    if (current[i]) continue;
    if (attached[i]) detach(db_.get(), tables_[i].schema);
    tables_[i] = attach_current(db_.get(), alias_, sources_[i], tables_[i].schema);
  }
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
