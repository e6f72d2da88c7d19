// Forward-only queries: prepare resolves the alias, rewrites the file-name
// table references, makes the tables' caches current and compiles the SQL;
// open runs it inside one read transaction and reads rows on demand, one
// ahead of the cursor so that move_by can stop on the last row.

#include <climits>
#include <cmath>
#include <cstdio>

#include "database/session_impl.h"
#include "database/sql_rewrite.h"
#include "platform/integer.h"

namespace Mirel::Database {
namespace {

const TCell& null_cell() {
  static const TCell cell;
  return cell;
}

[[noreturn]] void throw_not_open() {
  throw EDatabaseError(u"クエリが開かれていません");
}

UnicodeString text_of(const TCell& c) {
  switch (c.type) {
    case SQLITE_INTEGER:
      return int_to_text(c.integer);
    case SQLITE_FLOAT: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.15g", c.real);
      return from_utf8(buf);
    }
    case SQLITE_TEXT:
    case SQLITE_BLOB:
      return from_utf8(c.text);
    default:
      return {};
  }
}

}  // namespace

// ---- Impl ----

bool TQuery::Impl::fetch(TRow& row) {
  if (statement_done) return false;
  sqlite3_stmt* st = stmt.get();
  if (!stmt.step()) {
    statement_done = true;
    return false;
  }
  const int n = sqlite3_column_count(st);
  row.resize(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    TCell& c = row[static_cast<size_t>(i)];
    c.type = sqlite3_column_type(st, i);
    switch (c.type) {
      case SQLITE_INTEGER:
        c.integer = sqlite3_column_int64(st, i);
        break;
      case SQLITE_FLOAT:
        c.real = sqlite3_column_double(st, i);
        break;
      case SQLITE_TEXT:
      case SQLITE_BLOB: {
        const void* p = c.type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(st, i))
                                              : sqlite3_column_blob(st, i);
        c.text.assign(static_cast<const char*>(p ? p : ""),
                      static_cast<size_t>(sqlite3_column_bytes(st, i)));
        break;
      }
      default:
        break;
    }
  }
  return true;
}

bool TQuery::Impl::peek() {
  if (!ahead.empty()) return true;
  TRow row;
  if (!fetch(row)) return false;
  ahead.push_back(std::move(row));
  return true;
}

void TQuery::Impl::close() {
  if (stmt.get()) stmt.reset();
  if (in_transaction && connection)
    sqlite3_exec(connection->get(), "COMMIT", nullptr, nullptr, nullptr);
  in_transaction = false;
  open = false;
  eof = true;
  statement_done = false;
  current.clear();
  ahead.clear();
  rows_passed = 0;
}

void TQuery::Impl::unprepare() {
  close();
  stmt.finalize();
  connection.reset();
  columns.clear();
  if (session) {
    auto& qs = session->queries;
    for (size_t i = 0; i < qs.size(); ++i)
      if (qs[i] == this) {
        qs.erase(qs.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
  }
  session = nullptr;
}

void TQuery::Impl::detach_session() {
  session = nullptr;  // the session is clearing its own list
  unprepare();
}

// ---- TQuery ----

TQuery::TQuery() : impl_(std::make_unique<Impl>()) {}

TQuery::~TQuery() {
  try {
    impl_->unprepare();
  } catch (...) {
  }
}

void TQuery::set_unidirectional(bool on) { impl_->unidirectional = on; }
void TQuery::set_calc_fields(bool on) { impl_->calc_fields = on; }
void TQuery::set_param_check(bool on) { impl_->param_check = on; }
const UnicodeString& TQuery::database_name() const { return impl_->database_name; }

void TQuery::set_database_name(const UnicodeString& alias) {
  if (alias != impl_->database_name) impl_->unprepare();
  impl_->database_name = alias;
}

void TQuery::set_session_name(const UnicodeString& name) {
  if (name != impl_->session_name) impl_->unprepare();
  impl_->session_name = name;
}

void TQuery::set_sql(const UnicodeString& sql) {
  impl_->unprepare();
  impl_->sql = sql;
}

void TQuery::prepare() {
  Impl& q = *impl_;
  if (q.connection) return;
  TSession::Impl* session = detail::find_session(q.session_name);
  if (!session) throw EDatabaseError(u"セッション '" + q.session_name + u"' がありません");
  session->open = true;

  const detail::TAlias alias = detail::resolve_alias(q.database_name);
  const std::string original = to_utf8(q.sql);
  const auto rewritten = detail::rewrite_table_names(
      original, detail::schema_name, [&](const std::string& key) {
        detail::TTableSource src;
        return detail::locate_table(alias.dir, key, src);
      });
  auto connection = std::make_unique<detail::TConnection>(alias, rewritten.tables);

  detail::TStmt stmt;
  try {
    stmt = detail::TStmt(connection->get(), rewritten.sql);
  } catch (const EDatabaseError& e) {
    throw EDatabaseError(e.message() + u" [" + q.sql + u"]");
  }
  if (!stmt.get()) throw EDatabaseError(u"SQL が空です");
  // The caches are shared by every process: a query only ever reads.
  if (!sqlite3_stmt_readonly(stmt.get()))
    throw EDatabaseError(u"SQL はデータを読むだけのものに限られます [" + q.sql + u"]");

  const int n = sqlite3_column_count(stmt.get());
  q.columns.clear();
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(stmt.get(), i);
    q.columns.emplace_back(name ? name : "");
  }
  q.connection = std::move(connection);
  q.stmt = std::move(stmt);
  q.session = session;
  session->queries.push_back(&q);
}

void TQuery::open() {
  Impl& q = *impl_;
  if (q.open) return;
  // A query prepared earlier re-checks its tables: a change since then
  // means preparing again on fresh caches.
  if (q.connection && !q.connection->still_current()) q.unprepare();
  prepare();
  try {
    if (sqlite3_exec(q.connection->get(), "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK)
      detail::throw_sqlite(q.connection->get(), "SQL の実行に失敗しました");
    q.in_transaction = true;
    q.statement_done = false;
    q.rows_passed = 0;
    q.eof = !q.fetch(q.current);
    if (q.eof) q.current.clear();
    q.open = true;
  } catch (const EDatabaseError& e) {
    q.close();
    throw EDatabaseError(e.message() + u" [" + q.sql + u"]");
  }
}

void TQuery::close() { impl_->close(); }
void TQuery::unprepare() { impl_->unprepare(); }
bool TQuery::is_open() const { return impl_->open; }

bool TQuery::eof() const { return impl_->eof; }

void TQuery::next() {
  Impl& q = *impl_;
  if (!q.open) throw_not_open();
  if (q.eof) return;
  if (q.peek()) {
    q.current = std::move(q.ahead.front());
    q.ahead.pop_front();
    ++q.rows_passed;
  } else {
    q.eof = true;  // the cursor stays on the last row
  }
}

int32_t TQuery::move_by(int32_t n) {
  Impl& q = *impl_;
  if (!q.open) throw_not_open();
  int32_t passed = 0;
  while (passed < n && !q.eof) {
    if (!q.peek()) {
      q.eof = true;
      break;
    }
    q.current = std::move(q.ahead.front());
    q.ahead.pop_front();
    ++q.rows_passed;
    ++passed;
  }
  return passed;
}

int32_t TQuery::record_count() const {
  Impl& q = *impl_;
  if (!q.open) return 0;
  TRow row;
  while (q.fetch(row)) q.ahead.push_back(std::move(row));
  const int64_t total =
      q.rows_passed + (q.current.empty() ? 0 : 1) + static_cast<int64_t>(q.ahead.size());
  return static_cast<int32_t>(total);
}

namespace {

size_t column_index(const TQuery::Impl& q, const UnicodeString& name) {
  if (!q.connection) throw_not_open();
  const std::string wanted = to_utf8(name);
  for (size_t i = 0; i < q.columns.size(); ++i)
    if (same_text_ascii_ci(q.columns[i], wanted)) return i;
  throw EDatabaseError(u"列 '" + name + u"' は結果にありません");
}

const TCell& cell_at(const TQuery::Impl& q, size_t index) {
  return index < q.current.size() ? q.current[index] : null_cell();
}

}  // namespace

bool TQuery::has_field(const UnicodeString& name) const {
  const std::string wanted = to_utf8(name);
  for (const auto& c : impl_->columns)
    if (same_text_ascii_ci(c, wanted)) return true;
  return false;
}

UnicodeString TQuery::field_as_string(const UnicodeString& name) const {
  return text_of(cell_at(*impl_, column_index(*impl_, name)));
}

int32_t TQuery::field_as_integer(const UnicodeString& name) const {
  const TCell& c = cell_at(*impl_, column_index(*impl_, name));
  auto out_of_range = [&]() -> int32_t {
    throw EDatabaseError(u"列 '" + name + u"' の値 " + text_of(c) + u" は整数として読めません");
  };
  switch (c.type) {
    case SQLITE_NULL:
      return 0;
    case SQLITE_INTEGER:
      if (c.integer < INT32_MIN || c.integer > INT32_MAX) return out_of_range();
      return static_cast<int32_t>(c.integer);
    case SQLITE_FLOAT: {
      const double r = std::round(c.real);
      if (!(r >= INT32_MIN && r <= INT32_MAX)) return out_of_range();
      return static_cast<int32_t>(r);
    }
    default: {
      const auto v = text_to_int(std::string_view(c.text));
      if (!v) return out_of_range();
      return *v;
    }
  }
}

bool TQuery::field_is_null(const UnicodeString& name) const {
  return cell_at(*impl_, column_index(*impl_, name)).type == SQLITE_NULL;
}

int32_t TQuery::column_count() const { return static_cast<int32_t>(impl_->columns.size()); }

UnicodeString TQuery::column_name(int32_t index) const {
  if (index < 0 || static_cast<size_t>(index) >= impl_->columns.size())
    throw EDatabaseError(u"列番号 " + int_to_text(index) + u" は結果にありません");
  return from_utf8(impl_->columns[static_cast<size_t>(index)]);
}

UnicodeString TQuery::column_as_string(int32_t index) const {
  column_name(index);  // bounds
  return text_of(cell_at(*impl_, static_cast<size_t>(index)));
}

bool TQuery::column_is_null(int32_t index) const {
  column_name(index);
  return cell_at(*impl_, static_cast<size_t>(index)).type == SQLITE_NULL;
}

std::optional<size_t> TQuery::column_blob_size(int32_t index) const {
  column_name(index);
  const TCell& c = cell_at(*impl_, static_cast<size_t>(index));
  if (c.type != SQLITE_BLOB) return std::nullopt;
  return c.text.size();
}

}  // namespace Mirel::Database
