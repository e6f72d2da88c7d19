// The sort tables of master.dbf's cache: their schema, their fill after a
// full build, the triggers that keep them current, and the sort key.
#include "mirelsearch/sort_tables.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "mirelsearch/posting_index.h"

namespace Mirelsearch_tlb::detail {
namespace {

// Errors inside a function end the SQL statement with the message, never an
// exception through SQLite's C frames.
template <typename Body>
void guarded(sqlite3_context* context, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, "sort table function failed", -1);
  }
}

// mw_sort_key(value): sort_key as a blob.
void sort_key_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, [&] {
    const std::string key = sort_key(argv[0]);
    sqlite3_result_blob(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  });
}

// mw_fill_sort(column): fills the empty sort table of `column` from "data"
// and gives the number of rows. The keys are sorted here and appended in
// order: every insert lands on the last page of the table.
void fill_sort_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, [&] {
    const unsigned char* name = sqlite3_value_text(argv[0]);
    const std::string column = name != nullptr ? reinterpret_cast<const char*>(name) : "";
    const std::string table = sort_index_name(column);
    if (table.empty()) throw std::runtime_error("mw_fill_sort: no sort table for " + column);
    sqlite3* db = sqlite3_context_db_handle(context);
    auto prepare = [db](const std::string& sql) {
      sqlite3_stmt* stmt = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        sqlite3_finalize(stmt);
        throw std::runtime_error(sqlite3_errmsg(db));
      }
      return std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>(stmt, sqlite3_finalize);
    };
    // Reading the rows in order and appending in order need few pages in
    // memory: the page cache gives its room to the keys meanwhile, so that
    // the build's peak memory does not grow by them.
    TSmallPageCache cache_size(db);
    // The keys one after another in blocks of a few megabytes: a string per
    // row would double the memory of a million rows, and one growing buffer
    // would need twice its size whenever it moves.
    // Blocks below the C library's threshold for mapping memory of its own
    // come from the heap, where the page cache has just given memory back.
    constexpr size_t kBlock = size_t{64} << 10;
    struct TEntry {  // 16 bytes: a million of them are the fill's largest part
      const char* key;
      uint32_t size;
      uint32_t id;  // record numbers of a .dbf fit in 32 bits
    };
    std::vector<TEntry> entries;
    std::vector<std::unique_ptr<char[]>> blocks, large;
    size_t used = kBlock;
    {
      auto count = prepare("SELECT count(*) FROM data");
      if (sqlite3_step(count.get()) == SQLITE_ROW)
        entries.reserve(static_cast<size_t>(sqlite3_column_int64(count.get(), 0)));
      auto read = prepare("SELECT rowid, " + column + " FROM data");
      int rc;
      while ((rc = sqlite3_step(read.get())) == SQLITE_ROW) {
        const std::string key = sort_key(sqlite3_column_value(read.get(), 1));
        char* at;
        if (key.size() > kBlock / 4) {  // a block of its own
          large.push_back(std::make_unique<char[]>(key.size()));
          at = large.back().get();
        } else {
          if (used + key.size() > kBlock) {
            blocks.push_back(std::make_unique<char[]>(kBlock));
            used = 0;
          }
          at = blocks.back().get() + used;
          used += key.size();
        }
        std::memcpy(at, key.data(), key.size());
        const sqlite3_int64 id = sqlite3_column_int64(read.get(), 0);
        if (id < 0 || id > INT64_C(0xFFFFFFFF)) throw std::runtime_error("mw_fill_sort: record number out of range");
        entries.push_back({at, static_cast<uint32_t>(key.size()), static_cast<uint32_t>(id)});
      }
      if (rc != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
    }
    auto key_of = [](const TEntry& e) { return std::string_view(e.key, e.size); };
    std::sort(entries.begin(), entries.end(), [&](const TEntry& a, const TEntry& b) {
      const int c = key_of(a).compare(key_of(b));
      return c != 0 ? c < 0 : a.id < b.id;
    });
    auto insert = prepare("INSERT INTO " + table + "(k, id) VALUES(?1, ?2)");
    for (const TEntry& e : entries) {
      const std::string_view key = key_of(e);
      sqlite3_bind_blob(insert.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
      sqlite3_bind_int64(insert.get(), 2, e.id);
      if (sqlite3_step(insert.get()) != SQLITE_DONE) throw std::runtime_error(sqlite3_errmsg(db));
      sqlite3_reset(insert.get());
    }
    sqlite3_result_int64(context, static_cast<sqlite3_int64>(entries.size()));
  });
}

// The sort tables: the key first, so a table is read in the order of its
// column; the record number makes each row unique.
std::string sort_tables_sql() {
  std::string sql;
  for (const char* column : sort_columns())
    sql += "CREATE TABLE " + sort_index_name(column) +
           "(k BLOB NOT NULL, id INTEGER NOT NULL, PRIMARY KEY(k, id)) WITHOUT ROWID;\n";
  return sql;
}

// A record's row leaving (its old values) and entering (its new values)
// the sort table of `column`, in a trigger.
std::string sort_rows_out(const char* column) {
  return "  DELETE FROM " + sort_index_name(column) + " WHERE k = mw_sort_key(old." + column +
         ") AND id = old.rowid;\n";
}
std::string sort_rows_in(const char* column) {
  return "  INSERT INTO " + sort_index_name(column) + "(k, id) VALUES (mw_sort_key(new." +
         column + "), new.rowid);\n";
}

}  // namespace

std::string sort_key(sqlite3_value* value) {
  std::string key;
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      key.push_back('\0');
      break;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
      // The double's bits as an unsigned number that orders as the double:
      // negative numbers turned round, the sign bit set on the others.
      const double d = sqlite3_value_double(value);
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      bits = (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
      key.push_back('\1');
      for (int shift = 56; shift >= 0; shift -= 8)
        key.push_back(static_cast<char>((bits >> shift) & 0xff));
      break;
    }
    case SQLITE_TEXT:
      key.push_back('\2');
      key.append(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                 static_cast<size_t>(sqlite3_value_bytes(value)));
      break;
    default: {
      key.push_back('\3');
      const int size = sqlite3_value_bytes(value);
      if (size > 0)
        key.append(static_cast<const char*>(sqlite3_value_blob(value)), static_cast<size_t>(size));
      break;
    }
  }
  return key;
}

const std::vector<const char*>& sort_columns() {
  // The sort fields offered by the sample templates besides the book id
  // (which has mw_bookid).
  static const std::vector<const char*> columns = {"MS_SYOKANA", "MS_CHOKANA", "MS_SYUPAN",
                                                   "MS_SYUNEN", "MS_UKEIRE"};
  return columns;
}

std::string sort_index_name(const std::string& column) {
  for (const char* c : sort_columns())
    if (column == c) return std::string("mw_sort_") + c;
  return {};
}

void register_sort_functions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "mw_sort_key", 1, flags, nullptr, sort_key_function, nullptr,
                          nullptr);
  sqlite3_create_function(db, "mw_fill_sort", 1, SQLITE_UTF8, nullptr, fill_sort_function,
                          nullptr, nullptr);
}

std::string sort_schema_sql() { return sort_tables_sql(); }

std::string sort_after_build_sql() {
  std::string sql;
  for (const char* column : sort_columns())
    sql += std::string("SELECT mw_fill_sort('") + column + "');\n";
  return sql;
}

std::string sort_update_sql() {
  std::string sort_triggers;
  for (const char* column : sort_columns()) {
    const std::string c = column;
    sort_triggers += "CREATE TEMP TRIGGER IF NOT EXISTS " + sort_index_name(column) +
                     "_insert AFTER INSERT ON main.data BEGIN\n" + sort_rows_in(column) + "END;\n"
                     "CREATE TEMP TRIGGER IF NOT EXISTS " + sort_index_name(column) +
                     "_delete AFTER DELETE ON main.data BEGIN\n" + sort_rows_out(column) + "END;\n"
                     "CREATE TEMP TRIGGER IF NOT EXISTS " + sort_index_name(column) +
                     "_update AFTER UPDATE ON main.data WHEN old." + c + " IS NOT new." + c +
                     " BEGIN\n" + sort_rows_out(column) + sort_rows_in(column) + "END;\n";
  }
  return sort_triggers;
}

}  // namespace Mirelsearch_tlb::detail
