// A cache brought up to date in place must equal a cache built anew from
// the same files: its rows, its record and memo hashes, and what a cache
// extension keeps current by row triggers (a derived table and a contentless
// full-text index). Each case changes the table the way a library system
// does, then compares both caches whole; a log kept by the extension's
// triggers shows that only the rows that really changed were touched.

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "database/admin.h"
#include "database/database.h"
#include "db_fixture.h"
#include "dbase/dbf.h"

namespace Mirel::Database::Testing {
namespace {

constexpr uint32_t kRecords = 300;

// The extension's derived data: ext_title and a contentless full-text
// index, ext_fts, that follows only TITLE and NOTE, as a search index follows
// only the columns it indexes; ext_log records what every trigger did.
const char* kTables =
    "CREATE TABLE ext_title(id INTEGER PRIMARY KEY, title);"
    "CREATE VIRTUAL TABLE ext_fts USING fts5(title, note, content='', tokenize='ascii');"
    "CREATE TABLE ext_log(kind TEXT, id INTEGER);";

// The triggers that keep them current: in the cache file, or as TEMP
// triggers of the connection that updates in place. These log into a TEMP
// table that the extension's finishing statement copies into ext_log once
// the rows are changed, as an extension collects what changed and writes it
// at once.
std::string triggers(bool temp) {
  const std::string create = temp ? "CREATE TEMP TRIGGER IF NOT EXISTS " : "CREATE TRIGGER ";
  const std::string on = temp ? " ON main.data" : " ON data";
  const std::string log = temp ? "ext_seen" : "ext_log";
  return create + "ext_ai AFTER INSERT" + on +
         " BEGIN"
         "  INSERT INTO ext_title VALUES(new.rowid, new.TITLE);"
         "  INSERT INTO ext_fts(rowid, title, note) VALUES(new.rowid, new.TITLE, new.NOTE);"
         "  INSERT INTO " + log + " VALUES('insert', new.rowid); END;" +
         create + "ext_ad AFTER DELETE" + on +
         " BEGIN"
         "  DELETE FROM ext_title WHERE id = old.rowid;"
         "  INSERT INTO ext_fts(ext_fts, rowid, title, note) "
         "VALUES('delete', old.rowid, old.TITLE, old.NOTE);"
         "  INSERT INTO " + log + " VALUES('delete', old.rowid); END;" +
         create + "ext_au AFTER UPDATE" + on +
         " WHEN old.TITLE IS NOT new.TITLE OR old.NOTE IS NOT new.NOTE BEGIN"
         "  UPDATE ext_title SET title = new.TITLE WHERE id = new.rowid;"
         "  INSERT INTO ext_fts(ext_fts, rowid, title, note) "
         "VALUES('delete', old.rowid, old.TITLE, old.NOTE);"
         "  INSERT INTO ext_fts(rowid, title, note) VALUES(new.rowid, new.TITLE, new.NOTE);"
         "  INSERT INTO " + log + " VALUES('index', new.rowid); END;" +
         create + "ext_au_any AFTER UPDATE" + on +
         " BEGIN"
         "  INSERT INTO " + log + " VALUES('update', new.rowid); END;";
}

// Words of the titles and notes, for the index's hit lists.
const char* kWords[] = {"title", "w0", "w3", "w6", "v1", "v10", "note", "m0", "m4", "fresh", "x"};

std::vector<std::string> book_values(uint32_t i, const std::string& title_suffix = {}) {
  char id[16], price[16], day[16];
  std::snprintf(id, sizeof id, "%010u", i + 1);
  std::snprintf(price, sizeof price, "%u.25", i);
  std::snprintf(day, sizeof day, "2024%02u%02u", i % 12 + 1, i % 28 + 1);
  const std::string title = "title w" + std::to_string(i % 7) + " v" + std::to_string(i % 11) +
                            title_suffix;
  const std::string note =
      i % 3 == 0 ? "note n" + std::to_string(i) + " m" + std::to_string(i % 5) : "";
  return {id, title, std::to_string(i * 3), price, day, i % 2 ? "T" : "F", note};
}

// Reads a cache file whole: rows with the storage class of every value, the
// hashes and record count, the extension's table and the index's hits.
std::string dump_cache(const std::string& path) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::string out;
  auto run = [&](const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK)
        << sql << ": " << sqlite3_errmsg(db);
    while (st && sqlite3_step(st) == SQLITE_ROW) {
      for (int c = 0; c < sqlite3_column_count(st); ++c) {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
        out += std::to_string(sqlite3_column_type(st, c)) + ":" + (text ? text : "") + "|";
      }
      out += "\n";
    }
    sqlite3_finalize(st);
  };
  run("SELECT rowid, * FROM data ORDER BY rowid");
  run("SELECT id, hex(h) FROM mw_rowhash ORDER BY id");
  run("SELECT v FROM mw_meta WHERE k = 'records'");
  run("SELECT id, title FROM ext_title ORDER BY id");
  for (const char* word : kWords) {
    out += std::string(word) + ":";
    run(std::string("SELECT rowid FROM ext_fts WHERE ext_fts MATCH '") + word + "' ORDER BY rowid");
  }
  sqlite3_close(db);
  return out;
}

// What the extension's triggers did during the last update, sorted.
std::vector<std::string> trigger_log(const std::string& path) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  std::vector<std::string> log;
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT kind || ' ' || id FROM ext_log", -1, &st, nullptr);
  while (st && sqlite3_step(st) == SQLITE_ROW)
    log.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::sort(log.begin(), log.end());
  return log;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

struct TCase {
  const char* name;
  // Changes the table in <dir>/books.dbf (and its .dbt).
  std::function<void(const std::string& dir)> change;
  std::vector<std::string> log;  // what the triggers must have done, sorted
  // Changes the table before the cache is first built, when not empty.
  std::function<void(const std::string& dir)> before = {};
};

void PrintTo(const TCase& c, std::ostream* os) { *os << c.name; }

class InPlace : public ::testing::TestWithParam<TCase> {
 protected:
  void SetUp() override {
    TCacheExtension extension;
    extension.table = "books";
    if (temp_triggers()) {
      // A full build fills the derived data in bulk; only the updates in
      // place have triggers.
      extension.schema_sql = kTables;
      extension.after_build_sql =
          "INSERT INTO ext_title SELECT rowid, TITLE FROM data;"
          "INSERT INTO ext_fts(rowid, title, note) SELECT rowid, TITLE, NOTE FROM data;";
      extension.update_sql =
          "CREATE TEMP TABLE IF NOT EXISTS ext_seen(kind TEXT, id INTEGER);" + triggers(true);
      extension.after_update_sql =
          "INSERT INTO main.ext_log SELECT kind, id FROM temp.ext_seen; DELETE FROM temp.ext_seen;";
    } else {
      extension.schema_sql = kTables + triggers(false);
      // The log starts empty once the build's rows are in.
      extension.after_build_sql = "DELETE FROM ext_log;";
    }
    register_cache_extension(extension);
    auto w = Dbase::TTableWriter::create(table(), {{"MS_BOOKID", 'C', 10, 0},
                                                   {"TITLE", 'C', 40, 0},
                                                   {"QTY", 'N', 6, 0},
                                                   {"PRICE", 'N', 8, 2},
                                                   {"DAY", 'D', 8, 0},
                                                   {"FLAG", 'L', 1, 0},
                                                   {"NOTE", 'M', 10, 0}});
    // Record 7 starts deleted.
    for (uint32_t i = 0; i < kRecords; ++i) w->append(book_values(i), i == 7);
    w->close();
    age_tables(inst.data());
  }
  virtual bool temp_triggers() const { return false; }
  std::string table() const { return inst.data() + "/books.dbf"; }
  std::string cache() const { return inst.cache() + "/books.sqlite"; }
  TTableState::Action refresh() {
    const auto states = refresh_tables(kDefaultAlias);
    EXPECT_EQ(states.size(), 1u);
    return states.empty() ? TTableState::Action::Current : states[0].action;
  }

  // Builds the cache, changes the table, brings the cache up to date in
  // place and compares it with one built anew.
  void check_case(const TCase& c) {
    if (c.before) {
      c.before(inst.data());
      age_tables(inst.data());
    }
    ASSERT_EQ(refresh(), TTableState::Action::Rebuilt);
    c.change(inst.data());
    age_tables(inst.data(), 1800);
    ASSERT_EQ(refresh(), TTableState::Action::Updated);
    const std::string in_place = dump_cache(cache());
    EXPECT_EQ(trigger_log(cache()), c.log);

    ASSERT_EQ(::unlink(cache().c_str()), 0);
    ASSERT_EQ(refresh(), TTableState::Action::Rebuilt);
    EXPECT_EQ(in_place, dump_cache(cache()));
  }

  TInstallation inst;
};

// The same with the extension's triggers made by its update_sql.
class InPlaceTempTriggers : public InPlace {
  bool temp_triggers() const override { return true; }
};

TEST_P(InPlace, EqualsAFullRebuild) { check_case(GetParam()); }
TEST_P(InPlaceTempTriggers, EqualsAFullRebuild) { check_case(GetParam()); }

// A cache whose record hashes lost a block is rebuilt, not trusted.
class DamagedHashes : public InPlace {};

TEST_P(DamagedHashes, MissingBlockRebuilds) {
  ASSERT_EQ(refresh(), TTableState::Action::Rebuilt);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(cache().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "DELETE FROM mw_rowhash WHERE id = 0", nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  GetParam().change(inst.data());
  age_tables(inst.data(), 1800);
  EXPECT_EQ(refresh(), TTableState::Action::Rebuilt);
  const std::string repaired = dump_cache(cache());
  ASSERT_EQ(::unlink(cache().c_str()), 0);
  ASSERT_EQ(refresh(), TTableState::Action::Rebuilt);
  EXPECT_EQ(repaired, dump_cache(cache()));
}

// Rewrites record i with `values` through the writer.
void rewrite(const std::string& dir, uint32_t i, const std::vector<std::string>& values,
             bool deleted = false) {
  auto w = Dbase::TTableWriter::open(dir + "/books.dbf");
  w->rewrite(i, values, deleted);
  w->close();
}

// Cuts the table to its first `keep` records, as a program writing it anew
// or a pack leaves it.
void cut_to(const std::string& dir, uint32_t keep) {
  std::string dbf = read_file(dir + "/books.dbf");
  Dbase::TTableReader reader(dir + "/books.dbf");
  dbf.resize(reader.header_length() + size_t{keep} * reader.record_length());
  for (int b = 0; b < 4; ++b) dbf[4 + b] = static_cast<char>((keep >> (8 * b)) & 0xFF);
  write_file(dir + "/books.dbf", dbf);
}

// "insert N" for records first .. last (record numbers, from 1).
std::vector<std::string> inserts(uint32_t first, uint32_t last, std::vector<std::string> more) {
  for (uint32_t i = first; i <= last; ++i) more.push_back("insert " + std::to_string(i));
  std::sort(more.begin(), more.end());
  return more;
}

std::vector<std::string> deletes(uint32_t first, uint32_t last, std::vector<std::string> more) {
  for (uint32_t i = first; i <= last; ++i) more.push_back("delete " + std::to_string(i));
  std::sort(more.begin(), more.end());
  return more;
}

const std::vector<TCase>& cases() {
  static const std::vector<TCase> all = {
    // Changes, deletions, a restored record and new ones in one batch.
    TCase{"MixedBatch",
          [](const std::string& dir) {
            auto w = Dbase::TTableWriter::open(dir + "/books.dbf");
            w->rewrite(3, book_values(3, " fresh"));  // indexed text
            auto qty = book_values(10);
            qty[2] = "9999";  // only a column the index does not follow
            w->rewrite(10, qty);
            auto note = book_values(12);
            note[6] = "fresh note";  // a memo (new block)
            w->rewrite(12, note);
            w->set_deleted(20, true);
            w->set_deleted(7, false);  // restored
            w->append(book_values(kRecords, " fresh"));
            w->append(book_values(kRecords + 1), true);  // appended deleted
            w->append(book_values(kRecords + 2, " fresh x"));
            w->set_deleted(299, true);
            w->close();
          },
          {"delete 21", "delete 300", "index 13", "index 4", "insert 301", "insert 303",
           "insert 8", "update 11", "update 13", "update 4"}},
    // The book id moves (an indexed column of the cache); the title too.
    TCase{"BookIdMoved",
          [](const std::string& dir) {
            auto values = book_values(50, " fresh");
            values[0] = "0000009999";
            rewrite(dir, 50, values);
            values = book_values(51);
            values[0] = "0000000051";  // the id its neighbour gave up
            rewrite(dir, 51, values);
          },
          {"index 51", "update 51", "update 52"}},
    // A memo rewritten in its own block, same length: no record changes.
    TCase{"MemoEditedInPlace",
          [](const std::string& dir) {
            std::string memo = read_file(dir + "/books.dbt");
            const std::string before = "note n30 m0", after = "note fresh";
            const size_t at = memo.find(before);
            ASSERT_NE(at, std::string::npos);
            memo.replace(at, before.size(),
                         after + std::string(before.size() - after.size(), ' '));
            write_file(dir + "/books.dbt", memo);
            // Another record gets a new memo block with the same text.
            rewrite(dir, 33, book_values(33));
          },
          {"index 31", "update 31"}},
    // Records written again unchanged: their memos move to new blocks,
    // so their bytes differ, but no row changes.
    TCase{"SameValuesNewBlocks",
          [](const std::string& dir) {
            for (uint32_t i = 0; i < 10; ++i) rewrite(dir, i, book_values(i), i == 7);
            rewrite(dir, 60, book_values(60, " fresh"));
          },
          {"index 61", "update 61"}},
    // The table cut short (a program writing it anew, or a pack).
    TCase{"CutShort",
          [](const std::string& dir) {
            cut_to(dir, 296);
            rewrite(dir, 100, book_values(100, " fresh"));
          },
          {"delete 297", "delete 298", "delete 299", "delete 300", "index 101",
           "update 101"}},
    // Cut to fewer blocks of hashes, the last one partly, with a change in
    // a block that stays.
    TCase{"CutAcrossBlocks",
          [](const std::string& dir) {
            cut_to(dir, 170);
            rewrite(dir, 20, book_values(20, " fresh"));
          },
          deletes(171, 300, {"index 21", "update 21"})},
    // Grown by more than a block of hashes, with changes in the first and
    // in the last block that was there.
    TCase{"GrowsIntoNewBlocks",
          [](const std::string& dir) {
            auto w = Dbase::TTableWriter::open(dir + "/books.dbf");
            for (uint32_t i = kRecords; i < kRecords + 130; ++i) w->append(book_values(i));
            w->rewrite(0, book_values(0, " fresh"));
            w->rewrite(kRecords - 1, book_values(kRecords - 1, " x"));
            w->close();
          },
          inserts(301, 430, {"index 1", "index 300", "update 1", "update 300"})},
    // Written anew with the same bytes: nothing changes.
    TCase{"RewrittenUnchanged",
          [](const std::string& dir) {
            const std::string dbf = read_file(dir + "/books.dbf");
            ASSERT_EQ(::unlink((dir + "/books.dbf").c_str()), 0);
            write_file(dir + "/books.dbf", dbf);
          },
          {}},
    // The last memo lost its end marker: it runs to the end of the memo
    // file, so a memo added after it makes it longer though neither its
    // record nor its block changed.
    TCase{"UnterminatedMemoThenTheFileGrows",
          [](const std::string& dir) { rewrite(dir, 60, book_values(60, " fresh")); },
          {"index 298", "index 61", "update 298", "update 61"},
          [](const std::string& dir) {
            std::string memo = read_file(dir + "/books.dbt");
            const size_t end = memo.rfind("\x1A\x1A");
            ASSERT_NE(end, std::string::npos);
            ASSERT_NE(memo.find("note n297", end - 32), std::string::npos);
            memo.replace(end, 2, "  ");
            write_file(dir + "/books.dbt", memo);
          }}};
  return all;
}

std::string case_name(const ::testing::TestParamInfo<TCase>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Cases, InPlace, ::testing::ValuesIn(cases()), case_name);
INSTANTIATE_TEST_SUITE_P(Cases, InPlaceTempTriggers, ::testing::ValuesIn(cases()), case_name);
INSTANTIATE_TEST_SUITE_P(Cases, DamagedHashes, ::testing::Values(cases().front()), case_name);

}  // namespace
}  // namespace Mirel::Database::Testing
