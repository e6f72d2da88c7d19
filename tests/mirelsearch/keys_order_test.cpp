// mw_keys_ascend against SQL's own comparison: for pairs of book ids of
// every storage class, the function must call two records in order exactly
// when ORDER BY would keep them so.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

#include "mirelsearch/catalogue_index.h"

namespace Mirelsearch_tlb::testing {
namespace {

int query_int(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK) << sql;
  EXPECT_EQ(sqlite3_step(stmt), SQLITE_ROW) << sqlite3_errmsg(db);
  const int v = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  return v;
}

TEST(KeysAscend, AgreesWithSqlComparison) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  detail::register_index_functions(db);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE mw_keys(id INTEGER PRIMARY KEY, bookid)", nullptr,
                         nullptr, nullptr), SQLITE_OK);
  const char* values[] = {"NULL", "0", "-1", "2", "2.0", "2.5", "9007199254740993",
                          "9007199254740992.0", "9223372036854775807", "1e300", "-1e300",
                          "''", "'2'", "'10'", "'A'", "'AB'", "'a'", "'本'", "x''", "x'00'",
                          "x'01'", "x'0100'"};
  for (const char* a : values)
    for (const char* b : values) {
      ASSERT_EQ(sqlite3_exec(db,
                             ("DELETE FROM mw_keys; INSERT INTO mw_keys VALUES (5, " +
                              std::string(a) + "), (9, " + b + ")").c_str(),
                             nullptr, nullptr, nullptr), SQLITE_OK);
      const int want = query_int(db,
          "SELECT p.bookid IS NULL OR (q.bookid IS NOT NULL AND p.bookid <= q.bookid) "
          "FROM mw_keys AS p, mw_keys AS q WHERE p.id = 5 AND q.id = 9");
      EXPECT_EQ(query_int(db, "SELECT mw_keys_ascend()"), want) << a << " then " << b;
    }
  // A descent anywhere in a longer run is found; an empty table ascends.
  ASSERT_EQ(sqlite3_exec(db, "DELETE FROM mw_keys; INSERT INTO mw_keys VALUES "
                             "(1, NULL), (2, NULL), (3, 'B1'), (4, 'B1'), (5, 'B0'), (6, 'B9')",
                         nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(query_int(db, "SELECT mw_keys_ascend()"), 0);
  ASSERT_EQ(sqlite3_exec(db, "DELETE FROM mw_keys", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(query_int(db, "SELECT mw_keys_ascend()"), 1);
  sqlite3_close(db);
}

}  // namespace
}  // namespace Mirelsearch_tlb::testing
