// The engine on the fixture library: the catalogue's two SQL texts with
// their expected rows, the cursor operations of a forward-only query, the
// value rules, and each failure with the message that names what is wrong.

#include <gtest/gtest.h>

#include <algorithm>

#include "database/database.h"
#include "db_fixture.h"
#include "dbase/dbf.h"

namespace Mirel::Database::Testing {
namespace {

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override { fixture_library().write(inst.data()); }
  TInstallation inst;
};

// Rows of the recommended-books query reduced to a few columns, sorted (the
// query has no ordering clause).
TRows recommended(const std::vector<std::string>& columns) {
  TSession session;
  session.set_session_name(u"MirelWebRecommend");
  session.set_auto_session_name(false);
  session.open();
  TQuery q;
  q.set_unidirectional(true);
  q.set_calc_fields(false);
  q.set_param_check(false);
  q.set_session_name(u"MirelWebRecommend");
  q.set_sql(from_utf8(kRecommendSql));
  q.open();
  EXPECT_EQ(q.column_count(), 36);
  TRows rows;
  for (; !q.eof(); q.next()) {
    std::vector<std::string> row;
    for (const auto& c : columns)
      row.push_back(q.field_is_null(from_utf8(c)) ? "<NULL>" : to_utf8(q.field_as_string(from_utf8(c))));
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

TEST_F(QueryTest, RecommendedBooksJoinTenTablesWithNullsForMissingRows) {
  const TRows rows = recommended({"FT_BOOKID", "MS_SYOMEI", "MS_ISBN", "KK_KKNAME", "KA_HDATE",
                                  "YO_YDATE", "FK_SOUSU", "SY_SYOZAI", "MS_UKEIRE", "MS_MEMO"});
  const TRows expected = {
      // On loan, two copies, memo text, lending class 01.
      {"0000000001", "吾輩は猫である", "9784003101018", "一般", "20240420", "<NULL>", "2",
       "一般書架", "20240401", "寄贈本"},
      // Two reservations: one row each; blank ISBN is NULL; no copies row.
      {"0000000002", "こころ", "<NULL>", "一般", "<NULL>", "20240501", "<NULL>", "一般書架",
       "20240315", "<NULL>"},
      {"0000000002", "こころ", "<NULL>", "一般", "<NULL>", "20240502", "<NULL>", "一般書架",
       "20240315", "<NULL>"},
      // Lending class missing from kkubun: the LEFT JOIN gives NULL.
      {"0000000005", "坊っちゃん", "<NULL>", "<NULL>", "<NULL>", "<NULL>", "<NULL>", "一般書架",
       "<NULL>", "<NULL>"},
  };
  // 0000000004 (deleted) and 0000000099 (no master record) are filtered out.
  EXPECT_EQ(rows, expected);
}

TEST_F(QueryTest, RecommendedBooksReadAsTheSourceReadsThem) {
  TSession session;
  session.set_component_name(u"MirelWebRecomSession");
  session.set_private_dir(u"/tmp/");
  session.set_session_name(u"MirelWebRecommend");
  session.set_auto_session_name(false);
  TQuery q;
  q.set_unidirectional(true);
  q.set_calc_fields(false);
  q.set_param_check(false);
  q.set_database_name(kDefaultAlias);
  q.set_session_name(u"MirelWebRecommend");
  q.set_sql(from_utf8(kRecommendSql));
  EXPECT_FALSE(session.open());
  EXPECT_TRUE(session.open({}));
  EXPECT_EQ(session.private_dir(), u"/tmp/");
  q.prepare();
  q.open();
  EXPECT_EQ(q.record_count(), 4);
  int on_loan = 0, fumei = 0;
  for (; !q.eof(); q.next()) {
    on_loan += !q.field_is_null(u"KA_HDATE");
    fumei += q.field_is_null(u"MS_TZENKAI") && !q.field_is_null(u"MS_TFMSUU");
    if (q.field_as_string(u"FT_BOOKID") == u"0000000001") {
      EXPECT_EQ(q.field_as_integer(u"MS_KINGAKU"), 1500);
      EXPECT_EQ(q.field_as_string(u"ms_tzenkai"), u"20240101");  // names without letter case
    } else {
      EXPECT_EQ(q.field_as_integer(u"MS_KINGAKU"), 0);  // NULL
      EXPECT_EQ(q.field_as_string(u"MS_KINGAKU"), u"");
    }
  }
  EXPECT_EQ(on_loan, 1);
  EXPECT_EQ(fumei, 0);
  q.close();
  q.unprepare();
  EXPECT_TRUE(session.close());
  EXPECT_FALSE(session.close());
}

// The range reader: first row, move_by(count - 1), the row it stops on.
std::pair<std::string, std::string> range_of(const char* sql, const char* field, int count) {
  TSession session;
  session.set_session_name(u"MirelWebNewBook");
  session.set_auto_session_name(false);
  session.open();
  TQuery q;
  q.set_unidirectional(true);
  q.set_session_name(u"MirelWebNewBook");
  q.set_sql(from_utf8(sql));
  q.open();
  const UnicodeString f = from_utf8(field);
  const std::string newest = to_utf8(q.field_as_string(f));
  if (count >= 2) q.move_by(count - 1);
  return {to_utf8(q.field_as_string(f)), newest};
}

TEST_F(QueryTest, DistinctDatesComeNewestFirstWithoutDeletedRecords) {
  // 20250101 belongs to a deleted record; the book without a date is NULL,
  // which sorts after every date when descending.
  EXPECT_EQ(query_rows(kUkeireSql),
            (TRows{{"20240401"}, {"20240315"}, {"<NULL>"}}));
  EXPECT_EQ(query_rows(kBookidSql).front(), std::vector<std::string>{"0000000005"});
  EXPECT_EQ(query_rows(kBookidSql).size(), 4u);

  struct Case {
    int count;
    std::string lower, upper;
  };
  for (const Case& c : {Case{2, "20240315", "20240401"}, Case{1, "20240401", "20240401"},
                        Case{0, "20240401", "20240401"}, Case{-3, "20240401", "20240401"},
                        Case{99, "", "20240401"}})  // stops on the last row: the NULL group
    EXPECT_EQ(range_of(kUkeireSql, "MS_UKEIRE", c.count), std::make_pair(c.lower, c.upper))
        << c.count;
  EXPECT_EQ(range_of(kBookidSql, "MS_BOOKID", 3),
            std::make_pair(std::string("0000000002"), std::string("0000000005")));
}

TEST_F(QueryTest, CursorStopsOnTheLastRow) {
  TSession session;
  session.set_session_name(u"Cursor");
  session.open();
  TQuery q;
  q.set_session_name(u"Cursor");
  q.set_sql(u"select MS_BOOKID from master.dbf order by MS_BOOKID");
  q.open();
  EXPECT_FALSE(q.eof());
  EXPECT_EQ(q.move_by(2), 2);  // rows 1 -> 3
  EXPECT_EQ(q.field_as_string(u"MS_BOOKID"), u"0000000003");
  EXPECT_EQ(q.move_by(5), 1);  // only row 4 is left
  EXPECT_TRUE(q.eof());
  EXPECT_EQ(q.field_as_string(u"MS_BOOKID"), u"0000000005");
  EXPECT_EQ(q.record_count(), 4);
  EXPECT_EQ(q.move_by(1), 0);
  q.close();

  // Reopening runs the query again from the first row.
  q.open();
  EXPECT_EQ(q.field_as_string(u"MS_BOOKID"), u"0000000001");
  EXPECT_EQ(q.record_count(), 4);  // counting reads ahead without moving
  EXPECT_EQ(q.field_as_string(u"MS_BOOKID"), u"0000000001");
  q.next();
  EXPECT_EQ(q.field_as_string(u"MS_BOOKID"), u"0000000002");
}

TEST_F(QueryTest, EmptyResultIsAtEndAndReadsAsNull) {
  TSession session;
  session.set_session_name(u"Empty");
  session.open();
  TQuery q;
  q.set_session_name(u"Empty");
  q.set_sql(u"select MS_UKEIRE from 'master.dbf' where MS_BOOKID = 'none'");
  q.open();
  EXPECT_TRUE(q.eof());
  EXPECT_EQ(q.record_count(), 0);
  EXPECT_EQ(q.field_as_string(u"MS_UKEIRE"), u"");
  EXPECT_TRUE(q.field_is_null(u"MS_UKEIRE"));
  EXPECT_EQ(q.move_by(3), 0);
}

TEST_F(QueryTest, SqlTablePositionsAcceptEveryFileNameSpelling) {
  for (const char* sql : {"select count(*) from master.dbf", "select count(*) from 'master.dbf'",
                          "select count(*) from \"MASTER.DBF\"", "select count(*) from [Master.Dbf]",
                          "select count(*) from master", "select count(*) from master.dbf m",
                          "select count(*) from (select * from master.dbf) x"})
    EXPECT_EQ(query_rows(sql), (TRows{{"4"}})) << sql;
  // A file name inside an ordinary string stays a string.
  EXPECT_EQ(query_rows("select 'master.dbf', count(*) from master.dbf where MS_SYOMEI <> 'x.dbf'"),
            (TRows{{"master.dbf", "4"}}));
  // Tables keep their names as qualifiers.
  EXPECT_EQ(query_rows("select master.MS_BOOKID from feature.dbf, master.dbf "
                       "where feature.FT_BOOKID = master.MS_BOOKID and master.MS_BOOKID = '0000000005'"),
            (TRows{{"0000000005"}}));
}

TEST_F(QueryTest, FailuresNameWhatIsWrong) {
  struct Case {
    const char* what;
    UnicodeString alias;
    const char* sql;
    const char* field;  // read after opening
    const char* expected;
  };
  const Case cases[] = {
      {"unknown alias", u"NoSuchAlias", "select * from master.dbf", nullptr, "NoSuchAlias"},
      {"empty alias", u"", "select * from master.dbf", nullptr, "データベース別名"},
      {"missing table", kDefaultAlias, "select * from nosuch.dbf", nullptr, "nosuch.dbf"},
      {"bad SQL", kDefaultAlias, "selec MS_BOOKID from master.dbf", nullptr, "syntax error"},
      {"unknown column in SQL", kDefaultAlias, "select MS_NOPE from master.dbf", nullptr,
       "MS_NOPE"},
      {"unknown column read", kDefaultAlias, "select MS_BOOKID from master.dbf", "MS_GONE",
       "MS_GONE"},
      {"not a read", kDefaultAlias, "create temp table t(x)", nullptr, "読む"},
  };
  for (const Case& c : cases) {
    TSession session;
    session.set_session_name(u"Failing");
    session.open();
    TQuery q;
    q.set_session_name(u"Failing");
    q.set_database_name(c.alias);
    q.set_sql(from_utf8(c.sql));
    const std::string message = error_of([&] {
      q.open();
      if (c.field) q.field_as_string(from_utf8(c.field));
    });
    EXPECT_NE(message.find(c.expected), std::string::npos) << c.what << ": " << message;
  }
}

TEST_F(QueryTest, QueryNeedsItsSession) {
  TQuery q;
  q.set_session_name(u"NobodyOpenedThis");
  q.set_sql(u"select * from master.dbf");
  EXPECT_NE(error_of([&] { q.open(); }).find("NobodyOpenedThis"), std::string::npos);

  // Closing the session closes its queries.
  TSession session;
  session.set_session_name(u"Owner");
  session.open();
  TQuery owned;
  owned.set_session_name(u"Owner");
  owned.set_sql(u"select * from master.dbf");
  owned.open();
  EXPECT_TRUE(owned.is_open());
  session.close();
  EXPECT_FALSE(owned.is_open());
}

TEST(QueryValues, DbaseValueRulesBecomeSqlTypes) {
  TInstallation inst;
  auto w = Dbase::TTableWriter::create(inst.data() + "/values.dbf",
                                       {{"NAME", 'C', 10, 0},
                                        {"COUNT", 'N', 5, 0},
                                        {"PRICE", 'N', 8, 2},
                                        {"RATE", 'F', 10, 3},
                                        {"DAY", 'D', 8, 0},
                                        {"OK", 'L', 1, 0},
                                        {"NOTE", 'M', 10, 0}});
  w->append({"abc", "42", "12.50", "0.125", "20240102", "T", "メモ\n二行目"});
  w->append({"", "", "", "", "", "", ""});
  w->append({"gone", "1"}, true);
  w->close();
  const TRows rows = query_rows(
      "select NAME, typeof(NAME), COUNT, typeof(COUNT), PRICE, typeof(PRICE), RATE, DAY, OK, NOTE "
      "from values.dbf order by rowid");
  EXPECT_EQ(rows, (TRows{{"abc", "text", "42", "integer", "12.5", "real", "0.125", "20240102", "1",
                          "メモ\n二行目"},
                         {"<NULL>", "null", "<NULL>", "null", "<NULL>", "null", "<NULL>", "<NULL>",
                          "<NULL>", "<NULL>"}}));
  // Rows are numbered by record (the deleted third record leaves no row).
  EXPECT_EQ(query_rows("select rowid from values.dbf"), (TRows{{"1"}, {"2"}}));
}

TEST(QueryUpperCase, UpperCaseFileNamesAreFound) {
  TInstallation inst;
  fixture_library().write(inst.data(), true);
  ASSERT_TRUE(std::filesystem::exists(inst.data() + "/MASTER.DBF"));
  EXPECT_EQ(query_rows(kUkeireSql).size(), 3u);
  EXPECT_EQ(query_rows("select MS_MEMO from MASTER.DBF where MS_BOOKID = '0000000001'"),
            (TRows{{"寄贈本"}}));  // the memo file MASTER.DBT too
}

TEST(QueryAliases, AliasesResolveWithoutLetterCaseAndRelativeToTheProgram) {
  TInstallation inst;
  std::filesystem::create_directories(inst.root() + "/second");
  fixture_library().write(inst.root() + "/second");
  inst.write_ini("[Aliases]\nMirelWin=data\nSecond=second\nAbsolute=" + inst.root() +
                 "/second\n[Alias:second]\nCacheDir=cache2\n");
  for (const UnicodeString alias : {u"second", u"SECOND", u"Absolute"})
    EXPECT_EQ(query_rows("select count(*) from feature.dbf", alias), (TRows{{"5"}}));
  EXPECT_TRUE(std::filesystem::exists(inst.root() + "/cache2/feature.sqlite"));
  // The default alias names an empty directory here.
  EXPECT_NE(error_of([] { query_rows("select * from feature.dbf"); }).find("feature.dbf"),
            std::string::npos);
}

}  // namespace
}  // namespace Mirel::Database::Testing
