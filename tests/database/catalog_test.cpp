// Direct catalogue access and cache extensions: a component's triggers
// inside master's cache see every row of a build and every row changed in
// place, and its SQL functions are there on every connection.

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "database/database.h"
#include "db_fixture.h"
#include "dbase/dbf.h"

namespace Mirel::Database::Testing {
namespace {

// An SQL function of the extension: the title with a marker, so that the
// test sees that the function ran inside the trigger.
void register_mark(sqlite3* db) {
  sqlite3_create_function(
      db, "test_mark", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
      [](sqlite3_context* ctx, int, sqlite3_value** argv) {
        const char* t = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
        const std::string out = std::string("<") + (t ? t : "") + ">";
        sqlite3_result_text(ctx, out.c_str(), -1, SQLITE_TRANSIENT);
      },
      nullptr, nullptr);
}

const char* kTitlesSchema =
    "CREATE TABLE titles(id INTEGER PRIMARY KEY, t TEXT);"
    "CREATE TRIGGER titles_ai AFTER INSERT ON data BEGIN "
    "  INSERT INTO titles VALUES(new.rowid, test_mark(new.MS_SYOMEI)); END;"
    "CREATE TRIGGER titles_au AFTER UPDATE ON data BEGIN "
    "  UPDATE titles SET t = test_mark(new.MS_SYOMEI) WHERE id = new.rowid; END;"
    "CREATE TRIGGER titles_ad AFTER DELETE ON data BEGIN "
    "  DELETE FROM titles WHERE id = old.rowid; END;";

// The first column of the first row of `sql` on the catalogue's connection.
std::string query_rows(const std::string& sql, const TCatalog& catalog) {
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(catalog.handle(), sql.c_str(), -1, &st, nullptr), SQLITE_OK)
      << sqlite3_errmsg(catalog.handle());
  std::string out;
  if (st && sqlite3_step(st) == SQLITE_ROW && sqlite3_column_text(st, 0))
    out = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  return out;
}

std::vector<std::string> titles(const TCatalog& catalog) {
  const std::string sql = "SELECT t FROM " + catalog.schema_of("master") + ".titles ORDER BY id";
  sqlite3_stmt* st = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(catalog.handle(), sql.c_str(), -1, &st, nullptr), SQLITE_OK)
      << sqlite3_errmsg(catalog.handle());
  std::vector<std::string> out;
  while (sqlite3_step(st) == SQLITE_ROW)
    out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
  sqlite3_finalize(st);
  return out;
}

TEST(Catalog, ExtensionTriggersFollowBuildsAndUpdates) {
  TInstallation inst;
  fixture_library().write(inst.data());
  age_tables(inst.data());
  register_cache_extension({"MASTER", 1, register_mark, kTitlesSchema, {}, {}, {}});
  {
    TCatalog catalog(kDefaultAlias, {"master", "feature.dbf"});
    EXPECT_EQ(titles(catalog), (std::vector<std::string>{"<吾輩は猫である>", "<こころ>",
                                                         "<三四郎>", "<坊っちゃん>"}));
    // The extension's function is registered on the reading connection too.
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(catalog.handle(), "SELECT test_mark('x')", -1, &st, nullptr),
              SQLITE_OK);
    sqlite3_finalize(st);
  }
  {
    auto w = Dbase::TTableWriter::open(inst.data() + "/master.dbf");
    Dbase::TBook b = fixture_library().books()[2];
    b.syomei = "それから";
    w->rewrite(2, Dbase::master_row(b));
    w->set_deleted(0, true);
  }
  age_tables(inst.data(), 1800);
  TCatalog catalog(kDefaultAlias, {"master"});
  EXPECT_EQ(titles(catalog),
            (std::vector<std::string>{"<こころ>", "<それから>", "<坊っちゃん>"}));

  // A new version of the extension rebuilds the cache with its schema; one
  // that builds in bulk after the rows sees them all, its triggers later rows.
  register_cache_extension(
      {"master", 2, register_mark, "CREATE TABLE v2(id INTEGER PRIMARY KEY, t TEXT);",
       "INSERT INTO v2 SELECT rowid, test_mark(MS_BOOKID) FROM data;"
       "CREATE TRIGGER v2_ai AFTER INSERT ON data BEGIN "
       "  INSERT INTO v2 VALUES(new.rowid, test_mark(new.MS_BOOKID)); END;",
       {}, {}});
  {
    auto w = Dbase::TTableWriter::open(inst.data() + "/master.dbf");
    Dbase::TBook added;
    added.bookid = "0000000007";
    w->append(Dbase::master_row(added));
  }
  TCatalog rebuilt(kDefaultAlias, {"master"});
  EXPECT_EQ(query_rows("SELECT group_concat(t, ' ') FROM " + rebuilt.schema_of("master") + ".v2",
                       rebuilt),
            "<0000000002> <0000000003> <0000000005> <0000000007>");
  // Another record, applied in place: the trigger made after the build adds it.
  age_tables(inst.data(), 900);
  {
    auto w = Dbase::TTableWriter::open(inst.data() + "/master.dbf");
    Dbase::TBook added;
    added.bookid = "0000000008";
    w->append(Dbase::master_row(added));
  }
  age_tables(inst.data(), 600);
  TCatalog updated(kDefaultAlias, {"master"});
  EXPECT_EQ(query_rows("SELECT count(*) FROM " + updated.schema_of("master") + ".v2", updated),
            "5");
}

// Triggers given as update_sql exist only on the connection that changes
// records in place: they follow the change, and the cache file that every
// reader attaches holds no trigger to parse.
TEST(Catalog, TemporaryTriggersFollowInPlaceUpdates) {
  TInstallation inst;
  fixture_library().write(inst.data());
  age_tables(inst.data(), 900);
  register_cache_extension(
      {"master", 3, register_mark, "CREATE TABLE v3(id INTEGER PRIMARY KEY, t TEXT);",
       "INSERT INTO v3 SELECT rowid, test_mark(MS_BOOKID) FROM data;",
       "CREATE TEMP TRIGGER IF NOT EXISTS v3_ai AFTER INSERT ON main.data BEGIN "
       "  INSERT INTO v3 VALUES(new.rowid, test_mark(new.MS_BOOKID)); END;",
       {}});
  {
    TCatalog built(kDefaultAlias, {"master"});
    EXPECT_EQ(query_rows("SELECT count(*) FROM " + built.schema_of("master") + ".v3", built), "4");
  }
  {
    auto w = Dbase::TTableWriter::open(inst.data() + "/master.dbf");
    Dbase::TBook added;
    added.bookid = "0000000009";
    w->append(Dbase::master_row(added));
  }
  age_tables(inst.data(), 600);
  TCatalog updated(kDefaultAlias, {"master"});
  const std::string schema = updated.schema_of("master");
  EXPECT_EQ(query_rows("SELECT group_concat(t, ' ') FROM " + schema + ".v3", updated),
            "<0000000001> <0000000002> <0000000003> <0000000005> <0000000009>");
  EXPECT_EQ(query_rows("SELECT count(*) FROM " + schema + ".sqlite_master WHERE type = 'trigger'",
                       updated),
            "0");
}

TEST(Catalog, SchemasAndTranslatedSql) {
  TInstallation inst;
  fixture_library().write(inst.data());
  TCatalog catalog(kDefaultAlias, {"master", "KASIDASI"});
  EXPECT_EQ(catalog.schema_of("master"), "master");
  EXPECT_EQ(catalog.schema_of("kasidasi.dbf"), "kasidasi");
  EXPECT_NE(error_of([&] { catalog.schema_of("feature"); }).find("feature"), std::string::npos);

  const std::string sql = catalog.translate(
      "SELECT count(*) FROM master.dbf JOIN 'kasidasi.dbf' ON MS_BOOKID = KA_BOOKID "
      "WHERE MS_SYOMEI <> 'feature.dbf'");
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(catalog.handle(), sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 1);
  sqlite3_finalize(st);

  // The file name also works as it stands: <schema>.dbf is a view of the rows.
  ASSERT_EQ(sqlite3_prepare_v2(catalog.handle(), "SELECT count(*) FROM MASTER.DBF", -1, &st,
                               nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(st, 0), 4);
  sqlite3_finalize(st);

  EXPECT_NE(error_of([] { TCatalog(kDefaultAlias, {"nosuch"}); }).find("nosuch.dbf"),
            std::string::npos);
  EXPECT_NE(error_of([] { TCatalog(u"Elsewhere", {"master"}); }).find("Elsewhere"),
            std::string::npos);
}

}  // namespace
}  // namespace Mirel::Database::Testing
