// The search index of master.dbf's cache: its schema, its bulk fill after a
// full build, the triggers that keep it current, and the SQL functions they
// call. The index is contentless (only tokens are stored); a deleted or
// changed row is taken out with FTS5's 'delete' command, which recomputes
// the old row's tokens from the old column values.
#include "mirelsearch/catalogue_index.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "database/database.h"
#include "mirelsearch/index_tokenizer.h"
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

// The kind of field named by an optional SQL argument: 'p' is a publisher.
TFieldKind field_kind(int argc, sqlite3_value** argv, int i) {
  if (i >= argc) return TFieldKind::general;
  const unsigned char* kind = sqlite3_value_text(argv[i]);
  return kind != nullptr && kind[0] == 'p' ? TFieldKind::publisher : TFieldKind::general;
}

// mw_bigrams(text [, kind]): bigram tokens of the normalised text.
void bigrams_function(sqlite3_context* context, int argc, sqlite3_value** argv) {
  guarded(context, [&] {
    result_string(context,
                  bigram_tokens(normalize_text(argument_text(argv[0]), field_kind(argc, argv, 1))));
  });
}

// mw_unigrams(letter, text...): the unigram tokens of the normalised texts
// in the group named by letter.
void unigrams_function(sqlite3_context* context, int argc, sqlite3_value** argv) {
  guarded(context, [&] {
    const unsigned char* letter = sqlite3_value_text(argv[0]);
    if (letter == nullptr || letter[0] == 0) throw std::runtime_error("mw_unigrams: no group letter");
    const TFieldKind kind = letter[0] == 'p' ? TFieldKind::publisher : TFieldKind::general;
    std::vector<Mirel::UnicodeString> texts;
    for (int i = 1; i < argc; ++i) texts.push_back(normalize_text(argument_text(argv[i]), kind));
    std::vector<std::u16string_view> views(texts.begin(), texts.end());
    result_string(context, unigram_tokens(static_cast<char>(letter[0]), views));
  });
}

// mw_token_changes(before, after): how the counts of the tokens change
// when a record's tokens `before` become `after` (space-separated, each
// token at most once), as a JSON object {"token": +1 or -1, ...}.
void token_changes_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, [&] {
    auto tokens = [](sqlite3_value* value) {
      const unsigned char* text = sqlite3_value_text(value);
      std::vector<std::string_view> out;
      if (text == nullptr) return out;
      std::string_view rest(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_value_bytes(value)));
      while (!rest.empty()) {
        const size_t space = rest.find(' ');
        if (space != 0) out.push_back(rest.substr(0, space));
        if (space == std::string_view::npos) break;
        rest.remove_prefix(space + 1);
      }
      std::sort(out.begin(), out.end());
      out.erase(std::unique(out.begin(), out.end()), out.end());
      return out;
    };
    const std::vector<std::string_view> before = tokens(argv[0]), after = tokens(argv[1]);
    std::string json = "{";
    auto add = [&json](std::string_view token, const char* delta) {
      if (json.size() > 1) json += ',';
      json += '"';
      json += token;  // letters and digits only
      json += "\":";
      json += delta;
    };
    size_t i = 0, j = 0;
    while (i < before.size() || j < after.size()) {
      if (j == after.size() || (i < before.size() && before[i] < after[j])) {
        add(before[i++], "-1");
      } else if (i == before.size() || after[j] < before[i]) {
        add(after[j++], "1");
      } else {
        ++i;
        ++j;
      }
    }
    result_string(context, json + "}");
  });
}

// mw_isbn_tokens(text): tokens of the ISBN key and its other form.
void isbn_tokens_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, [&] { result_string(context, isbn_tokens(isbn_key(argument_text(argv[0])))); });
}

// mw_isbn_contains(text, key): 1 when the ISBN key `key` is part of the
// text's ISBN key or of its other form.
void isbn_contains_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, [&] {
    const unsigned char* key = sqlite3_value_text(argv[1]);
    const std::string wanted = key != nullptr ? reinterpret_cast<const char*>(key) : "";
    sqlite3_result_int(context, isbn_contains(isbn_key(argument_text(argv[0])), wanted) ? 1 : 0);
  });
}

// mw_contains(text, word [, kind]): 1 when the normalised text contains
// `word` (which the caller has normalised already).
void contains_function(sqlite3_context* context, int argc, sqlite3_value** argv) {
  guarded(context, [&] {
    Mirel::UnicodeString word = argument_text(argv[1]);
    Mirel::UnicodeString text = normalize_text(argument_text(argv[0]), field_kind(argc, argv, 2));
    sqlite3_result_int(context, contains_normalized(text, word) ? 1 : 0);
  });
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
    struct TCacheSize {
      sqlite3* db;
      std::string before;
      explicit TCacheSize(sqlite3* d) : db(d) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA main.cache_size", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
          before = std::to_string(sqlite3_column_int64(stmt, 0));
        sqlite3_finalize(stmt);
        sqlite3_exec(db, "PRAGMA main.cache_size = -4096", nullptr, nullptr, nullptr);
      }
      ~TCacheSize() {
        if (!before.empty())
          sqlite3_exec(db, ("PRAGMA main.cache_size = " + before).c_str(), nullptr, nullptr,
                       nullptr);
      }
    } cache_size(db);
    // The keys one after another in blocks of a few megabytes: a string per
    // row would double the memory of a million rows, and one growing buffer
    // would need twice its size whenever it moves.
    constexpr size_t kBlock = size_t{4} << 20;
    struct TEntry {
      const char* key;
      uint32_t size;
      int64_t id;
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
        entries.push_back(
            {at, static_cast<uint32_t>(key.size()), sqlite3_column_int64(read.get(), 0)});
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

const std::vector<TIndexColumn>& index_columns() {
  static const std::vector<TIndexColumn> columns = {
      {"syomei", "MS_SYOMEI", false}, {"syokana", "MS_SYOKANA", false},
      {"chosya", "MS_CHOSYA", false}, {"chokana", "MS_CHOKANA", false},
      {"syupan", "MS_SYUPAN", true},  {"kenmei", "MS_KENMEI", false},
      {"naiyo", "MS_NAIYO", false},
  };
  return columns;
}

const std::vector<TUnigramGroup>& unigram_groups() {
  // The letters are those of the keyword kinds that search text fields.
  static const std::vector<TUnigramGroup> groups = {
      {'t', {"MS_SYOMEI", "MS_SYOKANA"}},
      {'a', {"MS_CHOSYA", "MS_CHOKANA"}},
      {'p', {"MS_SYUPAN"}},
      {'c', {"MS_KENMEI", "MS_NAIYO"}},
  };
  return groups;
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

void register_index_functions(sqlite3* db) {
  register_index_tokenizer(db);
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "mw_bigrams", -1, flags, nullptr, bigrams_function, nullptr, nullptr);
  sqlite3_create_function(db, "mw_unigrams", -1, flags, nullptr, unigrams_function, nullptr,
                          nullptr);
  sqlite3_create_function(db, "mw_isbn_tokens", 1, flags, nullptr, isbn_tokens_function, nullptr,
                          nullptr);
  sqlite3_create_function(db, "mw_token_changes", 2, flags, nullptr, token_changes_function,
                          nullptr, nullptr);
  sqlite3_create_function(db, "mw_isbn_contains", 2, flags, nullptr, isbn_contains_function,
                          nullptr, nullptr);
  sqlite3_create_function(db, "mw_contains", -1, flags, nullptr, contains_function, nullptr,
                          nullptr);
  sqlite3_create_function(db, "mw_sort_key", 1, flags, nullptr, sort_key_function, nullptr,
                          nullptr);
  sqlite3_create_function(db, "mw_fill_sort", 1, SQLITE_UTF8, nullptr, fill_sort_function,
                          nullptr, nullptr);
}

namespace {

// "fn(prefix.COLUMN), ..." for every indexed column, in FTS5 column order.
std::string token_values(const char* prefix) {
  std::string out;
  for (const auto& column : index_columns()) {
    if (!out.empty()) out += ", ";
    out += std::string("mw_bigrams(") + prefix + column.dbf_column +
           (column.publisher ? ", 'p')" : ")");
  }
  return out;
}

// "mw_unigrams('t', prefix.A, prefix.B) || ' ' || ..." over the groups.
std::string character_value(const char* prefix) {
  std::string out;
  for (const auto& group : unigram_groups()) {
    if (!out.empty()) out += " || ' ' || ";
    out += std::string("mw_unigrams('") + group.letter + "'";
    for (const char* column : group.dbf_columns) out += std::string(", ") + prefix + column;
    out += ")";
  }
  return out;
}

// A record's text in mw_uni: its characters and its ISBN grams.
std::string unigram_value(const char* prefix) {
  return character_value(prefix) + " || ' ' || mw_isbn_tokens(" + prefix + "MS_ISBN)";
}

// Adds to mw_unicount the changes of the character tokens from `before` to
// `after` (SQL expressions; '' for none).
std::string count_changes(const std::string& before, const std::string& after) {
  return "  INSERT INTO mw_unicount(token, n) SELECT key, value FROM json_each("
         "mw_token_changes(" + before + ", " + after + ")) WHERE true "
         "ON CONFLICT(token) DO UPDATE SET n = n + excluded.n;\n";
}

// "old.A IS NOT new.A OR ..." over the indexed columns.
std::string any_changed() {
  std::string out;
  for (const auto& column : index_columns()) {
    if (!out.empty()) out += " OR ";
    out += std::string("old.") + column.dbf_column + " IS NOT new." + column.dbf_column;
  }
  return out + " OR old.MS_ISBN IS NOT new.MS_ISBN";
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
  // Tokens are ASCII letters and digits, split at spaces by our own
  // tokenizer (index_tokenizer.h), which also puts a word-start token at
  // the position of its bigram. No prefix index: it doubled the cost of
  // a full build, and one-character keywords, the prefix queries that
  // mattered, are answered by mw_uni, which keeps no positions
  // (detail='none'): a term's entry is only the list of its records.
  // Nothing ranks hits by relevance, so neither table keeps the token
  // count of each record (columnsize=0): a table and a row per record less.
  // mw_unicount holds how many records hold each character token, so a
  // search for one character need not count its (often very many) records.
  // mw_keys repeats each record's book id in a narrow table: sorting a hit
  // list by book id then reads a few small pages instead of every wide row.
  // All four stay empty while a full build inserts its rows: they are
  // filled in bulk afterwards (index_after_build_sql).
  // mw_order holds one row: whether record numbers ascend with the book ids
  // (ties allowed), as they do when books are entered in the order of their
  // ids. A hit list read from the index is then already sorted.
  return "CREATE TABLE mw_keys(id INTEGER PRIMARY KEY, bookid);\n"
         "CREATE TABLE mw_order(in_order INTEGER NOT NULL);\n"
         "CREATE VIRTUAL TABLE mw_fts USING fts5(" + fts_column_list() +
         ", content='', columnsize=0, tokenize='mw');\n"
         "CREATE VIRTUAL TABLE mw_uni USING fts5(chars, content='', columnsize=0, "
         "tokenize='mw', detail='none');\n"
         "CREATE TABLE mw_unicount(token TEXT PRIMARY KEY, n INTEGER NOT NULL) WITHOUT ROWID;\n" +
         sort_tables_sql();
}

std::string index_after_build_sql() {
  const std::string columns = fts_column_list();
  // One INSERT ... SELECT keeps FTS5's pending terms in memory across many
  // rows and writes them out as a few segments; an insert per row (a
  // trigger) flushes a segment per statement and then spends most of the
  // build merging them. The pending-term buffer stays at 1 MiB: a larger
  // one is slower (4 MiB cost half as much again on 100,000 books, 64 MiB
  // twice as much), its hash table no longer fitting in the CPU's cache.
  // While the rows go in there is no automatic merging. Then 'optimize'
  // puts everything into one segment on the top level: without it the
  // large segments of the fill stay on the lowest level, and the first
  // in-place update that fills that level merges them all again (seconds,
  // instead of a fraction). In-place updates write small segments: merging
  // them only once 16 share a level (instead of 4) halves the cost of a
  // thousand changed records, for a few more segments read by a query.
  std::string sql;
  for (const char* table : {"mw_fts", "mw_uni"}) {
    const std::string t = table;
    sql += "INSERT INTO " + t + "(" + t + ", rank) VALUES ('hashsize', 1048576);\n"
           "INSERT INTO " + t + "(" + t + ", rank) VALUES ('automerge', 0);\n";
  }
  sql += "INSERT INTO mw_fts(rowid, " + columns + ") SELECT rowid, " + token_values("") +
         " FROM data ORDER BY rowid;\n"
         "INSERT INTO mw_uni(rowid, chars) SELECT rowid, " + unigram_value("") +
         " FROM data ORDER BY rowid;\n";
  for (const char* table : {"mw_fts", "mw_uni"}) {
    const std::string t = table;
    sql += "INSERT INTO " + t + "(" + t + ") VALUES ('optimize');\n"
           "INSERT INTO " + t + "(" + t + ", rank) VALUES ('automerge', 16);\n";
  }
  // The counts come from the finished index in one pass; from then on the
  // triggers add the difference each changed record makes.
  sql += "CREATE VIRTUAL TABLE temp.mw_uni_vocab USING fts5vocab(main, mw_uni, row);\n"
         "INSERT INTO mw_unicount(token, n) SELECT term, doc FROM temp.mw_uni_vocab "
         "WHERE term NOT GLOB 'i*';\n"
         "DROP TABLE temp.mw_uni_vocab;\n";
  for (const char* column : sort_columns())
    sql += std::string("SELECT mw_fill_sort('") + column + "');\n";
  return sql +
         "INSERT INTO mw_keys(id, bookid) SELECT rowid, MS_BOOKID FROM data ORDER BY rowid;\n"
         "INSERT INTO mw_order(in_order) SELECT NOT EXISTS (SELECT 1 FROM mw_keys AS a "
         "JOIN mw_keys AS b ON b.id = (SELECT min(id) FROM mw_keys WHERE id > a.id) WHERE " +
         out_of_order("a.bookid", "b.bookid") + ");\n"
         // The engine indexes MS_UKEIRE itself; this name is the one the
         // search plans ask for by INDEXED BY.
         "CREATE INDEX mw_bookid ON data(MS_BOOKID);\n";
}

std::string index_update_sql() {
  const std::string columns = fts_column_list();
  // TEMP triggers, made only by the connection that changes records in
  // place: kept in the cache file, their text would be parsed again by
  // every request that attaches it (a quarter of a detail page's work).
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
  return sort_triggers +
         "CREATE TEMP TRIGGER IF NOT EXISTS mw_fts_insert AFTER INSERT ON main.data BEGIN\n"
         "  INSERT INTO mw_fts(rowid, " + columns + ") VALUES (new.rowid, " + token_values("new.") +
         ");\n"
         "  INSERT INTO mw_uni(rowid, chars) VALUES (new.rowid, " + unigram_value("new.") + ");\n" +
         count_changes("''", character_value("new.")) +
         "  INSERT INTO mw_keys(id, bookid) VALUES (new.rowid, new.MS_BOOKID);\n" +
         keep_order("new.rowid") + "END;\n"
         "CREATE TEMP TRIGGER IF NOT EXISTS mw_fts_delete AFTER DELETE ON main.data BEGIN\n"
         "  INSERT INTO mw_fts(mw_fts, rowid, " + columns + ") VALUES ('delete', old.rowid, " +
         token_values("old.") + ");\n"
         "  INSERT INTO mw_uni(mw_uni, rowid, chars) VALUES ('delete', old.rowid, " +
         unigram_value("old.") + ");\n" +
         count_changes(character_value("old."), "''") +
         "  DELETE FROM mw_keys WHERE id = old.rowid;\nEND;\n"
         // A record rewritten without a change to its indexed text (a new
         // location or stocktaking date) has the same tokens: leave the index.
         "CREATE TEMP TRIGGER IF NOT EXISTS mw_fts_update AFTER UPDATE ON main.data WHEN " +
         any_changed() + " BEGIN\n"
         "  INSERT INTO mw_fts(mw_fts, rowid, " + columns + ") VALUES ('delete', old.rowid, " +
         token_values("old.") + ");\n"
         "  INSERT INTO mw_fts(rowid, " + columns + ") VALUES (new.rowid, " + token_values("new.") +
         ");\n"
         "  INSERT INTO mw_uni(mw_uni, rowid, chars) VALUES ('delete', old.rowid, " +
         unigram_value("old.") + ");\n"
         "  INSERT INTO mw_uni(rowid, chars) VALUES (new.rowid, " + unigram_value("new.") + ");\n" +
         count_changes(character_value("old."), character_value("new.")) +
         "END;\n"
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
    // A new normalisation changes the tokens as much as a new layout does.
    extension.version = detail::kIndexVersion * 1000 + detail::kNormalizeVersion;
    extension.register_functions = detail::register_index_functions;
    extension.schema_sql = detail::index_schema_sql();
    extension.after_build_sql = detail::index_after_build_sql();
    extension.update_sql = detail::index_update_sql();
    Mirel::Database::register_cache_extension(std::move(extension));
  });
}

}  // namespace Mirelsearch_tlb
