// The rewrite of file-name table references: table positions only, every
// quoting style, aliases kept, strings and comments untouched.

#include "database/sql_rewrite.h"

#include <gtest/gtest.h>

namespace Mirel::Database::detail {
namespace {

TRewrittenSql rewrite(const std::string& sql) {
  return rewrite_table_names(
      sql, [](const std::string& key) { return key == "main" ? "tbl_main" : key; },
      [](const std::string& key) { return key == "master" || key == "feature"; });
}

TEST(SqlRewrite, TableReferencesInTablePositions) {
  struct Case {
    std::string sql;
    std::string expected;
  };
  const Case cases[] = {
      {"select * from master.dbf", "select * from \"master\".\"data\" AS \"master\""},
      {"select * from 'master.dbf' where a = 1",
       "select * from \"master\".\"data\" AS \"master\" where a = 1"},
      {"select * from \"MASTER.DBF\"", "select * from \"master\".\"data\" AS \"master\""},
      {"select * from [Master.Dbf]", "select * from \"master\".\"data\" AS \"master\""},
      {"select * from `master.dbf`", "select * from \"master\".\"data\" AS \"master\""},
      {"select * from MASTER . DBF", "select * from \"master\".\"data\" AS \"master\""},
      {"select * from master.dbf m", "select * from \"master\".\"data\" m"},
      {"select * from master.dbf as m", "select * from \"master\".\"data\" as m"},
      {"select * from master.dbf left join feature.dbf on 1",
       "select * from \"master\".\"data\" AS \"master\" left join \"feature\".\"data\" AS "
       "\"feature\" on 1"},
      {"select * from master.dbf, feature.dbf where 1",
       "select * from \"master\".\"data\" AS \"master\", \"feature\".\"data\" AS \"feature\" "
       "where 1"},
      {"select * from (select a, b from master.dbf) x",
       "select * from (select a, b from \"master\".\"data\" AS \"master\") x"},
      {"select * from master", "select * from \"master\".\"data\" AS \"master\""},
      {"select * from main.dbf", "select * from \"tbl_main\".\"data\" AS \"main\""},
      {"select * from 'o''brien.dbf'", "select * from \"o'brien\".\"data\" AS \"o'brien\""},
      // Untouched: strings, comments, non-table positions, paths, functions.
      {"select 'master.dbf' from x", "select 'master.dbf' from x"},
      {"select a from x where b in ('master.dbf', 'feature.dbf')",
       "select a from x where b in ('master.dbf', 'feature.dbf')"},
      {"select a, 'master.dbf' from x", "select a, 'master.dbf' from x"},
      {"select a from x -- from master.dbf\n", "select a from x -- from master.dbf\n"},
      {"select a /* from master.dbf */ from x", "select a /* from master.dbf */ from x"},
      {"select * from 'c:\\data\\master.dbf'", "select * from 'c:\\data\\master.dbf'"},
      {"select * from 'data/master.dbf'", "select * from 'data/master.dbf'"},
      {"select * from other", "select * from other"},
      {"select * from json_each('x')", "select * from json_each('x')"},
      {"with master as (select 1) select * from master",
       "with master as (select 1) select * from master"},
      {"select a, b from x where c = 1, master", "select a, b from x where c = 1, master"},
      {"select 'unterminated from master.dbf", "select 'unterminated from master.dbf"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(rewrite(c.sql).sql, c.expected) << c.sql;
}

TEST(SqlRewrite, ReportsEachTableOnceInOrderOfUse) {
  const auto r = rewrite(
      "select * from feature.dbf left join MASTER.DBF on 1 left join 'master.dbf' m2 on 1 "
      "where x in (select y from kasidasi.dbf)");
  EXPECT_EQ(r.tables, (std::vector<std::string>{"feature", "master", "kasidasi"}));
}

TEST(SqlRewrite, QuotesIdentifiers) {
  EXPECT_EQ(quote_identifier("a\"b"), "\"a\"\"b\"");
}

}  // namespace
}  // namespace Mirel::Database::detail
