// The search index of master.dbf's cache: its schema, its bulk fill after a
// full build, the triggers that keep it current, and the SQL functions they
// call. The index is contentless (only tokens are stored); a deleted or
// changed row is taken out with FTS5's 'delete' command, which recomputes
// the old row's tokens from the old column values.
#include "mirelsearch/catalogue_index.h"

#include <sqlite3.h>

#include <mutex>

#include "database/database.h"
#include "mirelsearch/normalize.h"

namespace Mirelsearch_tlb {
namespace detail {
namespace {

// The text of an SQL argument as UTF-16; NULL gives the empty text.
Mirel::UnicodeString argument_text(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  if (text == nullptr) return {};
  int n = sqlite3_value_bytes(value);
  return Mirel::from_utf8(std::string_view(reinterpret_cast<const char*>(text), n));
}

// Errors inside a function end the SQL statement with the message, never an
// exception through SQLite's C frames.
template <typename Body>
void guarded(sqlite3_context* context, Body body) {
  try {
    body();
  } catch (const std::exception& e) {
    sqlite3_result_error(context, e.what(), -1);
  } catch (...) {
    sqlite3_result_error(context, "search index function failed", -1);
  }
}

void result_string(sqlite3_context* context, const std::string& s) {
  sqlite3_result_text(context, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

// mw_bigrams(text): bigram tokens of the normalised text.
void bigrams_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, [&] {
    result_string(context, bigram_tokens(normalize_text(argument_text(argv[0]))));
  });
}

// mw_isbn_tokens(text): tokens of the ISBN key and its other form.
void isbn_tokens_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, [&] { result_string(context, isbn_tokens(isbn_key(argument_text(argv[0])))); });
}

// mw_contains(text, word): 1 when the normalised text contains `word`
// (which the caller has normalised already).
void contains_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, [&] {
    Mirel::UnicodeString word = argument_text(argv[1]);
    Mirel::UnicodeString text = normalize_text(argument_text(argv[0]));
    sqlite3_result_int(context, text.find(word) != Mirel::UnicodeString::npos ? 1 : 0);
  });
}

}  // namespace

const std::vector<TIndexColumn>& index_columns() {
  static const std::vector<TIndexColumn> columns = {
      {"syomei", "MS_SYOMEI", false}, {"syokana", "MS_SYOKANA", false},
      {"chosya", "MS_CHOSYA", false}, {"chokana", "MS_CHOKANA", false},
      {"syupan", "MS_SYUPAN", false}, {"kenmei", "MS_KENMEI", false},
      {"naiyo", "MS_NAIYO", false},   {"isbn", "MS_ISBN", true},
  };
  return columns;
}

void register_index_functions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "mw_bigrams", 1, flags, nullptr, bigrams_function, nullptr, nullptr);
  sqlite3_create_function(db, "mw_isbn_tokens", 1, flags, nullptr, isbn_tokens_function, nullptr,
                          nullptr);
  sqlite3_create_function(db, "mw_contains", 2, flags, nullptr, contains_function, nullptr,
                          nullptr);
}

namespace {

// "fn(prefix.COLUMN), ..." for every indexed column, in FTS5 column order.
std::string token_values(const char* prefix) {
  std::string out;
  for (const auto& column : index_columns()) {
    if (!out.empty()) out += ", ";
    out += std::string(column.isbn ? "mw_isbn_tokens(" : "mw_bigrams(") + prefix +
           column.dbf_column + ")";
  }
  return out;
}

// "old.A IS NOT new.A OR ..." over the indexed columns.
std::string any_changed() {
  std::string out;
  for (const auto& column : index_columns()) {
    if (!out.empty()) out += " OR ";
    out += std::string("old.") + column.dbf_column + " IS NOT new." + column.dbf_column;
  }
  return out;
}

std::string fts_column_list() {
  std::string out;
  for (const auto& column : index_columns()) {
    if (!out.empty()) out += ", ";
    out += column.fts_column;
  }
  return out;
}

}  // namespace

std::string index_schema_sql() {
  // Tokens are ASCII letters and digits, so the ascii tokenizer splits them
  // at the spaces and nowhere else. prefix='4' indexes the first code point
  // of every bigram: the lookup of a one-character keyword.
  // mw_keys repeats each record's book id in a narrow table: sorting a hit
  // list by book id then reads a few small pages instead of every wide row.
  // Both stay empty while a full build inserts its rows: they are filled in
  // bulk afterwards (index_after_build_sql).
  return "CREATE TABLE mw_keys(id INTEGER PRIMARY KEY, bookid);\n"
         "CREATE VIRTUAL TABLE mw_fts USING fts5(" + fts_column_list() +
         ", content='', tokenize='ascii', prefix='4');\n";
}

std::string index_after_build_sql() {
  const std::string columns = fts_column_list();
  // One INSERT ... SELECT keeps FTS5's pending terms in memory across many
  // rows and writes them out as a few segments; an insert per row (a
  // trigger) flushes a segment per statement and then spends most of the
  // build merging them. While the rows go in: a larger pending-term buffer
  // and no automatic merging. Then 'optimize' puts everything into one
  // segment on the top level: without it the large segments of the fill
  // stay on the lowest level, and the first in-place update that fills that
  // level merges them all again (seconds, instead of a fraction).
  // In-place updates write one small segment per changed record: merging
  // them only once 16 share a level (instead of 4) halves the cost of a
  // thousand changed records, for a few more segments read by a query.
  // The triggers come last: from then on they follow the in-place updates
  // of single records.
  return "INSERT INTO mw_fts(mw_fts, rank) VALUES ('hashsize', 4194304);\n"
         "INSERT INTO mw_fts(mw_fts, rank) VALUES ('automerge', 0);\n"
         "INSERT INTO mw_fts(rowid, " + columns + ") SELECT rowid, " + token_values("") +
         " FROM data ORDER BY rowid;\n"
         "INSERT INTO mw_fts(mw_fts) VALUES ('optimize');\n"
         "INSERT INTO mw_fts(mw_fts, rank) VALUES ('automerge', 16);\n"
         "INSERT INTO mw_fts(mw_fts, rank) VALUES ('hashsize', 1048576);\n"
         "INSERT INTO mw_keys(id, bookid) SELECT rowid, MS_BOOKID FROM data ORDER BY rowid;\n"
         // The engine indexes MS_UKEIRE itself; this name is the one the
         // search plans ask for by INDEXED BY.
         "CREATE INDEX mw_bookid ON data(MS_BOOKID);\n"
         "CREATE TRIGGER mw_fts_insert AFTER INSERT ON data BEGIN\n"
         "  INSERT INTO mw_fts(rowid, " + columns + ") VALUES (new.rowid, " + token_values("new.") +
         ");\n"
         "  INSERT INTO mw_keys(id, bookid) VALUES (new.rowid, new.MS_BOOKID);\nEND;\n"
         "CREATE TRIGGER mw_fts_delete AFTER DELETE ON data BEGIN\n"
         "  INSERT INTO mw_fts(mw_fts, rowid, " + columns + ") VALUES ('delete', old.rowid, " +
         token_values("old.") + ");\n"
         "  DELETE FROM mw_keys WHERE id = old.rowid;\nEND;\n"
         // A record rewritten without a change to its indexed text (a new
         // location or stocktaking date) has the same tokens: leave the index.
         "CREATE TRIGGER mw_fts_update AFTER UPDATE ON data WHEN " + any_changed() + " BEGIN\n"
         "  INSERT INTO mw_fts(mw_fts, rowid, " + columns + ") VALUES ('delete', old.rowid, " +
         token_values("old.") + ");\n"
         "  INSERT INTO mw_fts(rowid, " + columns + ") VALUES (new.rowid, " + token_values("new.") +
         ");\nEND;\n"
         "CREATE TRIGGER mw_keys_update AFTER UPDATE ON data WHEN "
         "old.MS_BOOKID IS NOT new.MS_BOOKID BEGIN\n"
         "  UPDATE mw_keys SET bookid = new.MS_BOOKID WHERE id = new.rowid;\nEND;\n";
}

}  // namespace detail

void register_search_index() {
  static std::once_flag once;
  std::call_once(once, [] {
    Mirel::Database::TCacheExtension extension;
    extension.table = "master";
    extension.version = detail::kIndexVersion;
    extension.register_functions = detail::register_index_functions;
    extension.schema_sql = detail::index_schema_sql();
    extension.after_build_sql = detail::index_after_build_sql();
    Mirel::Database::register_cache_extension(std::move(extension));
  });
}

}  // namespace Mirelsearch_tlb
