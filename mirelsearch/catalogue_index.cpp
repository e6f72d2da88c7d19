// The search index of master.dbf's cache: its schema, its bulk fill after a
// full build, the triggers that keep it current, and the SQL functions they
// and the search call. The lists of records themselves are posting_index's.
#include "mirelsearch/catalogue_index.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>

#include "database/database.h"
#include "mirelsearch/posting_index.h"
#include "mirelsearch/normalize.h"
#include "mirelsearch/sort_tables.h"
#include "mirelsearch/sql_calls.h"

namespace Mirelsearch_tlb {
namespace detail {
namespace {

constexpr const char* kFunctionFailed = "search index function failed";

// The text of an SQL argument as UTF-16; NULL gives the empty text.
Mirel::UnicodeString argument_text(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  if (text == nullptr) return {};
  int n = sqlite3_value_bytes(value);
  return Mirel::from_utf8(std::string_view(reinterpret_cast<const char*>(text), n));
}

// The kind of field named by an optional SQL argument: 'p' is a publisher.
TFieldKind field_kind(int argc, sqlite3_value** argv, int i) {
  if (i >= argc) return TFieldKind::general;
  const unsigned char* kind = sqlite3_value_text(argv[i]);
  return kind != nullptr && kind[0] == 'p' ? TFieldKind::publisher : TFieldKind::general;
}

// mw_isbn_contains(text, key): 1 when the ISBN key `key` is part of the
// text's ISBN key or of its other form.
void isbn_contains_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, kFunctionFailed, [&] {
    const unsigned char* key = sqlite3_value_text(argv[1]);
    const std::string wanted = key != nullptr ? reinterpret_cast<const char*>(key) : "";
    sqlite3_result_int(context, isbn_contains(isbn_key(argument_text(argv[0])), wanted) ? 1 : 0);
  });
}

// mw_contains(text, word [, kind]): 1 when the normalised text contains
// `word` (which the caller has normalised already).
void contains_function(sqlite3_context* context, int argc, sqlite3_value** argv) {
  guarded(context, kFunctionFailed, [&] {
    Mirel::UnicodeString word = argument_text(argv[1]);
    Mirel::UnicodeString text = normalize_text(argument_text(argv[0]), field_kind(argc, argv, 2));
    sqlite3_result_int(context, contains_normalized(text, word) ? 1 : 0);
  });
}

// mw_page_cache(size): sets the main database's cache_size to `size` (as
// PRAGMA cache_size takes it) and gives the size it had.
void page_cache_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, kFunctionFailed, [&] {
    sqlite3* db = sqlite3_context_db_handle(context);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_int64 before = 0;
    if (sqlite3_prepare_v2(db, "PRAGMA main.cache_size", -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW)
      before = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    const std::string sql =
        "PRAGMA main.cache_size = " + std::to_string(sqlite3_value_int64(argv[0]));
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
      throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_result_int64(context, before);
  });
}

// A copy of one SQL value, kept while the next row is read. Its text or
// blob buffer is reused from row to row.
struct TKeptValue {
  int type = SQLITE_NULL;
  sqlite3_int64 i = 0;
  double r = 0;
  std::string bytes;

  void keep(sqlite3_value* v) {
    type = sqlite3_value_type(v);
    if (type == SQLITE_INTEGER) i = sqlite3_value_int64(v);
    else if (type == SQLITE_FLOAT) r = sqlite3_value_double(v);
    else if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
      const void* p = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_value_text(v))
                                          : sqlite3_value_blob(v);
      bytes.assign(p != nullptr ? static_cast<const char*>(p) : "",
                   static_cast<size_t>(sqlite3_value_bytes(v)));
    }
  }
};

// An integer against a real as SQL compares them: exactly, not by
// converting the integer to a real alone (which rounds past 2^53).
int compare_int_real(sqlite3_int64 i, double r) {
  constexpr double kTwo63 = 9223372036854775808.0;
  if (r < -kTwo63) return 1;
  if (r >= kTwo63) return -1;
  const auto truncated = static_cast<sqlite3_int64>(r);
  if (i != truncated) return i < truncated ? -1 : 1;
  const double fraction = r - static_cast<double>(truncated);
  return fraction > 0 ? -1 : fraction < 0 ? 1 : 0;
}

// The order of SQL's comparison of two values without affinity under the
// BINARY collation: NULL, then numbers, then texts, then blobs.
int rank_of(int type) {
  switch (type) {
    case SQLITE_NULL: return 0;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: return 1;
    case SQLITE_TEXT: return 2;
    default: return 3;
  }
}

int compare_values(const TKeptValue& a, const TKeptValue& b) {
  const int ra = rank_of(a.type), rb = rank_of(b.type);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 0) return 0;
  if (ra == 1) {
    if (a.type == SQLITE_INTEGER && b.type == SQLITE_INTEGER)
      return a.i < b.i ? -1 : a.i > b.i ? 1 : 0;
    if (a.type == SQLITE_FLOAT && b.type == SQLITE_FLOAT)
      return a.r < b.r ? -1 : a.r > b.r ? 1 : 0;
    if (a.type == SQLITE_INTEGER) return compare_int_real(a.i, b.r);
    return -compare_int_real(b.i, a.r);
  }
  const size_t n = std::min(a.bytes.size(), b.bytes.size());
  const int c = n == 0 ? 0 : std::memcmp(a.bytes.data(), b.bytes.data(), n);
  if (c != 0) return c;
  return a.bytes.size() < b.bytes.size() ? -1 : a.bytes.size() > b.bytes.size() ? 1 : 0;
}

// mw_keys_ascend(): 1 when mw_keys's book ids, read in the order of record
// numbers, never descend (ties allowed, NULL first, as ORDER BY sorts), 0
// otherwise. One ordered read of the narrow table, stopping at the first
// descent.
void keys_ascend_function(sqlite3_context* context, int, sqlite3_value**) {
  guarded(context, kFunctionFailed, [&] {
    sqlite3* db = sqlite3_context_db_handle(context);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT bookid FROM main.mw_keys ORDER BY id", -1, &stmt,
                           nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      throw std::runtime_error(sqlite3_errmsg(db));
    }
    TKeptValue previous, current;
    bool first = true, ascending = true;
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      current.keep(sqlite3_column_value(stmt, 0));
      if (!first && compare_values(previous, current) > 0) {
        ascending = false;
        rc = SQLITE_DONE;
        break;
      }
      std::swap(previous, current);
      first = false;
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    sqlite3_result_int(context, ascending ? 1 : 0);
  });
}

}  // namespace

void register_index_functions(sqlite3* db) {
  register_posting_functions(db);
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "mw_isbn_contains", 2, flags, nullptr, isbn_contains_function,
                          nullptr, nullptr);
  sqlite3_create_function(db, "mw_contains", -1, flags, nullptr, contains_function, nullptr,
                          nullptr);
  register_sort_functions(db);
  sqlite3_create_function(db, "mw_keys_ascend", 0, SQLITE_UTF8, nullptr, keys_ascend_function,
                          nullptr, nullptr);
  sqlite3_create_function(db, "mw_page_cache", 1, SQLITE_UTF8, nullptr, page_cache_function,
                          nullptr, nullptr);
}

namespace {

// "old.A IS NOT new.A OR ..." over the indexed columns.
std::string any_changed() {
  std::string out;
  for (const auto& group : index_groups())
    for (const char* column : group.dbf_columns)
      out += std::string("old.") + column + " IS NOT new." + column + " OR ";
  return out + "old.MS_ISBN IS NOT new.MS_ISBN";
}

// True when book id `a` sorts after book id `b` as ORDER BY sorts them
// (NULL first). Both are mw_keys columns, which have no affinity, so the
// comparison converts neither value.
std::string out_of_order(const std::string& a, const std::string& b) {
  return "NOT (" + a + " IS NULL OR (" + b + " IS NOT NULL AND " + a + " <= " + b + "))";
}

// Clears mw_order when the book id of record `id` is out of order with its
// neighbours. A deleted record never breaks the order; once cleared, the
// flag stays so until the next full build.
std::string keep_order(const std::string& id) {
  return "  UPDATE mw_order SET in_order = 0 WHERE in_order AND EXISTS (SELECT 1 FROM mw_keys "
         "AS c WHERE c.id = " + id + " AND (EXISTS (SELECT 1 FROM mw_keys AS p WHERE p.id = "
         "(SELECT max(id) FROM mw_keys WHERE id < c.id) AND " + out_of_order("p.bookid", "c.bookid") +
         ") OR EXISTS (SELECT 1 FROM mw_keys AS q WHERE q.id = (SELECT min(id) FROM mw_keys WHERE "
         "id > c.id) AND " + out_of_order("c.bookid", "q.bookid") + ")));\n";
}

}  // namespace

std::string index_schema_sql() {
  // The lists of records of the index's terms (posting_index.h) stay empty
  // while a full build inserts its rows: they are filled in one pass
  // afterwards (index_after_build_sql), as are the sort tables and mw_keys.
  // mw_keys repeats each record's book id in a narrow table: sorting a hit
  // list by book id then reads a few small pages instead of every wide row.
  // mw_order holds one row: whether record numbers ascend with the book ids
  // (ties allowed), as they do when books are entered in the order of their
  // ids. A hit list read from the index is then already sorted.
  return "CREATE TABLE mw_keys(id INTEGER PRIMARY KEY, bookid);\n"
         "CREATE TABLE mw_order(in_order INTEGER NOT NULL);\n" +
         posting_schema_sql() + sort_schema_sql();
}

std::string index_after_build_sql() {
  return "SELECT mw_build_index('keys');\n" +
         sort_after_build_sql() +
         "INSERT INTO mw_order(in_order) SELECT mw_keys_ascend();\n"
         // The engine indexes MS_UKEIRE itself; this name is the one the
         // search plans ask for by INDEXED BY. Its sort is made with a small
         // page cache: the dirty pages of the build are written out first
         // instead of staying beside the sorted keys (the build's peak
         // memory at a million books).
         "CREATE TEMP TABLE mw_cache_size AS SELECT mw_page_cache(-4096) AS v;\n"
         "CREATE INDEX mw_bookid ON data(MS_BOOKID);\n"
         "SELECT mw_page_cache(v) FROM mw_cache_size;\n"
         "DROP TABLE mw_cache_size;\n";
}

std::string index_update_sql() {
  // TEMP triggers, made only by the connection that changes records in
  // place: kept in the cache file, their text would be parsed again by
  // every request that attaches it (a quarter of a detail page's work).
  return sort_update_sql() +
         "CREATE TEMP TRIGGER IF NOT EXISTS mw_index_insert AFTER INSERT ON main.data BEGIN\n" +
         index_change_sql(false, true) +
         "  INSERT INTO mw_keys(id, bookid) VALUES (new.rowid, new.MS_BOOKID);\n" +
         keep_order("new.rowid") + "END;\n"
         "CREATE TEMP TRIGGER IF NOT EXISTS mw_index_delete AFTER DELETE ON main.data BEGIN\n" +
         index_change_sql(true, false) +
         "  DELETE FROM mw_keys WHERE id = old.rowid;\nEND;\n"
         // A record rewritten without a change to its indexed text (a new
         // location or stocktaking date) has the same terms: leave the index.
         "CREATE TEMP TRIGGER IF NOT EXISTS mw_index_update AFTER UPDATE ON main.data WHEN " +
         any_changed() + " BEGIN\n" + index_change_sql(true, true) + "END;\n"
         "CREATE TEMP TRIGGER IF NOT EXISTS mw_keys_update AFTER UPDATE ON main.data WHEN "
         "old.MS_BOOKID IS NOT new.MS_BOOKID BEGIN\n"
         "  UPDATE mw_keys SET bookid = new.MS_BOOKID WHERE id = new.rowid;\n" +
         keep_order("new.rowid") + "END;\n";
}

}  // namespace detail

void register_search_index() {
  static std::once_flag once;
  std::call_once(once, [] {
    Mirel::Database::TCacheExtension extension;
    extension.table = "master";
    // A new normalisation changes the terms as much as a new layout does.
    extension.version = detail::kIndexVersion * 1000 + detail::kNormalizeVersion;
    extension.register_functions = detail::register_index_functions;
    extension.schema_sql = detail::index_schema_sql();
    extension.after_build_sql = detail::index_after_build_sql();
    extension.update_sql = detail::index_update_sql();
    // The index's changes are written, then the sort orders' moves placed.
    extension.after_update_sql = detail::index_finish_sql() + detail::sort_finish_sql();
    Mirel::Database::register_cache_extension(std::move(extension));
  });
}

}  // namespace Mirelsearch_tlb
