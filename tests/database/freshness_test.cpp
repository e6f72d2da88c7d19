// The caches follow their tables: a change made between two queries is seen
// by the second, whether it is applied in place or by a rebuild, including
// changes that leave a file's size and time alone; a damaged or unwritable
// cache never stops a query.

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "database/admin.h"
#include "database/database.h"
#include "db_fixture.h"
#include "dbase/dbf.h"

namespace Mirel::Database::Testing {
namespace {

struct timespec mtime_of(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_mtim;
}

void set_mtime(const std::string& path, const timespec& t) {
  const timespec times[2] = {t, t};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::vector<std::string> loan_row(const Dbase::TTableWriter& w, const std::string& bookid,
                                  const std::string& hdate) {
  std::vector<std::string> values(w.fields().size());
  values[static_cast<size_t>(w.field_index("KA_BOOKID"))] = bookid;
  values[static_cast<size_t>(w.field_index("KA_HDATE"))] = hdate;
  return values;
}

// A table too large to be hashed whole: 3,000 records of 200 'a's, closed;
// the writer is returned for reopening.
std::unique_ptr<Dbase::TTableWriter> write_large_table(const std::string& path) {
  auto w = Dbase::TTableWriter::create(path, {{"ID", 'C', 10, 0}, {"TEXT", 'C', 240, 0}});
  for (int i = 0; i < 3000; ++i) w->append({std::to_string(i), std::string(200, 'a')});
  w->close();
  return w;
}

class FreshnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture_library().write(inst.data());
    age_tables(inst.data());
  }
  std::string table(const char* name) const { return inst.data() + "/" + name; }
  TInstallation inst;
};

const char* kLoans = "select KA_BOOKID, KA_HDATE from kasidasi.dbf order by KA_BOOKID";

TEST_F(FreshnessTest, NewLoanIsSeenByTheNextQuery) {
  EXPECT_EQ(query_rows(kLoans), (TRows{{"0000000001", "20240420"}}));
  {
    auto w = Dbase::TTableWriter::open(table("kasidasi.dbf"));
    w->append(loan_row(*w, "0000000002", "20240430"));
  }
  EXPECT_EQ(query_rows(kLoans),
            (TRows{{"0000000001", "20240420"}, {"0000000002", "20240430"}}));
}

TEST_F(FreshnessTest, SmallTableChangedInPlaceWithItsTimeRestoredIsSeen) {
  EXPECT_EQ(query_rows(kLoans), (TRows{{"0000000001", "20240420"}}));
  const timespec before = mtime_of(table("kasidasi.dbf"));
  {
    auto w = Dbase::TTableWriter::open(table("kasidasi.dbf"));
    w->rewrite(0, loan_row(*w, "0000000001", "20240427"));
  }
  set_mtime(table("kasidasi.dbf"), before);  // same size, same time, same header
  EXPECT_EQ(query_rows(kLoans), (TRows{{"0000000001", "20240427"}}));
}

TEST_F(FreshnessTest, MasterChangesAreAppliedInPlace) {
  const char* sql = "select MS_BOOKID, MS_SYOMEI, MS_MEMO from master.dbf order by MS_BOOKID";
  EXPECT_EQ(query_rows(sql).size(), 4u);
  const ino_t cache_inode = inode_of(inst.cache() + "/master.sqlite");
  {
    auto w = Dbase::TTableWriter::open(table("master.dbf"));
    Dbase::TBook b = fixture_library().books()[1];
    b.syomei = "こころ（改版）";
    b.memo = "新しいメモ";
    w->rewrite(1, Dbase::master_row(b));
    w->set_deleted(0, true);
    Dbase::TBook added;
    added.bookid = "0000000006";
    added.syomei = "門";
    w->append(Dbase::master_row(added));
  }
  age_tables(inst.data(), 1800);
  EXPECT_EQ(query_rows(sql), (TRows{{"0000000002", "こころ（改版）", "新しいメモ"},
                                    {"0000000003", "三四郎", "<NULL>"},
                                    {"0000000005", "坊っちゃん", "<NULL>"},
                                    {"0000000006", "門", "<NULL>"}}));
  EXPECT_EQ(inode_of(inst.cache() + "/master.sqlite"), cache_inode);  // updated, not replaced
}

TEST_F(FreshnessTest, MemoEditedInPlaceIsSeenThoughNoRecordChanged) {
  const char* sql = "select MS_MEMO from master.dbf where MS_BOOKID = '0000000001'";
  EXPECT_EQ(query_rows(sql), (TRows{{"寄贈本"}}));
  const ino_t cache_inode = inode_of(inst.cache() + "/master.sqlite");
  // The library system rewrites the memo text in its block, same length.
  std::string memo;
  {
    std::ifstream in(table("master.dbt"), std::ios::binary);
    memo.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string before = to_ansi(u"寄贈本"), after = to_ansi(u"新刊本");
  const size_t at = memo.find(before);
  ASSERT_NE(at, std::string::npos);
  memo.replace(at, before.size(), after);
  std::ofstream(table("master.dbt"), std::ios::binary | std::ios::trunc) << memo;
  age_tables(inst.data(), 1800);
  EXPECT_EQ(query_rows(sql), (TRows{{"新刊本"}}));
  EXPECT_EQ(inode_of(inst.cache() + "/master.sqlite"), cache_inode);
}

TEST_F(FreshnessTest, NewTableLayoutRebuildsTheCache) {
  auto w = Dbase::TTableWriter::create(table("extra.dbf"), {{"A", 'C', 4, 0}});
  w->append({"x"});
  w->close();
  EXPECT_EQ(query_rows("select * from extra.dbf"), (TRows{{"x"}}));
  w = Dbase::TTableWriter::create(table("extra.dbf"), {{"A", 'C', 4, 0}, {"B", 'N', 3, 0}});
  w->append({"y", "7"});
  w->close();
  EXPECT_EQ(query_rows("select * from extra.dbf"), (TRows{{"y", "7"}}));
}

// A large table (hashed by record, not whole) changed in place within the
// same clock tick as its last write keeps size, time and header: the cache
// built from it right after that write must not be trusted by time alone.
TEST(Freshness, RecentlyWrittenLargeTableIsCheckedRecordByRecord) {
  TInstallation inst;
  const std::string path = inst.data() + "/big.dbf";
  auto w = write_large_table(path);
  const char* sql = "select TEXT from big.dbf where ID = '17'";
  EXPECT_EQ(query_rows(sql), (TRows{{std::string(200, 'a')}}));
  const timespec written = mtime_of(path);
  w = Dbase::TTableWriter::open(path);
  w->rewrite(17, {"17", "changed"});
  w->close();
  set_mtime(path, written);
  EXPECT_EQ(query_rows(sql), (TRows{{"changed"}}));
}

// A process that serves one request checks a recently written table once:
// later queries of it keep to what was read while its size and time stand,
// and see a change that moves them. The cache still says the table was
// written recently, so the next process reads it again.
TEST(Freshness, OneLookPerProcessChecksARecentlyWrittenTableOnce) {
  TInstallation inst;
  const std::string path = inst.data() + "/big.dbf";
  auto w = write_large_table(path);
  const char* sql = "select TEXT from big.dbf where ID = '17'";
  set_one_look_per_process(true);
  EXPECT_EQ(query_rows(sql), (TRows{{std::string(200, 'a')}}));
  const timespec written = mtime_of(path);
  w = Dbase::TTableWriter::open(path);
  w->rewrite(17, {"17", "changed"});
  w->close();
  set_mtime(path, written);
  EXPECT_EQ(query_rows(sql), (TRows{{std::string(200, 'a')}}));
  w = Dbase::TTableWriter::open(path);
  w->append({"3000", "new"});
  w->close();
  EXPECT_EQ(query_rows(sql), (TRows{{"changed"}}));
  set_one_look_per_process(false);
  w = Dbase::TTableWriter::open(path);
  w->rewrite(17, {"17", "again"});
  w->close();
  set_mtime(path, mtime_of(path));
  EXPECT_EQ(query_rows(sql), (TRows{{"again"}}));
}

TEST_F(FreshnessTest, DamagedCacheIsRebuilt) {
  EXPECT_EQ(query_rows("select count(*) from master.dbf"), (TRows{{"4"}}));
  std::ofstream(inst.cache() + "/master.sqlite", std::ios::binary | std::ios::trunc)
      << "not a database at all";
  EXPECT_EQ(query_rows("select count(*) from master.dbf"), (TRows{{"4"}}));
}

TEST_F(FreshnessTest, ReopenedQuerySeesChangesMadeWhileClosed) {
  TSession session;
  session.set_session_name(u"Reopen");
  session.open();
  TQuery q;
  q.set_session_name(u"Reopen");
  q.set_sql(u"select count(*) AS N from kasidasi.dbf");
  q.open();
  EXPECT_EQ(q.field_as_integer(u"N"), 1);
  q.close();
  {
    auto w = Dbase::TTableWriter::open(table("kasidasi.dbf"));
    w->append(loan_row(*w, "0000000003", "20240601"));
  }
  q.open();
  EXPECT_EQ(q.field_as_integer(u"N"), 2);
}

TEST_F(FreshnessTest, UnwritableCacheDirectoryFallsBackToMemoryAndWarnsOnce) {
  inst.write_ini("[Aliases]\nMirelWin=data\n[Alias:MirelWin]\nCacheDir=/dev/null/cache\n");
  int warnings = 0;
  set_warning_handler([&](const UnicodeString&) { ++warnings; });
  EXPECT_EQ(query_rows("select count(*) from master.dbf"), (TRows{{"4"}}));
  EXPECT_EQ(query_rows("select count(*) from master.dbf"), (TRows{{"4"}}));
  {
    auto w = Dbase::TTableWriter::open(table("kasidasi.dbf"));
    w->append(loan_row(*w, "0000000003", "20240601"));
  }
  EXPECT_EQ(query_rows("select count(*) from kasidasi.dbf"), (TRows{{"2"}}));
  set_warning_handler(nullptr);
  EXPECT_EQ(warnings, 1);
  EXPECT_NE(to_utf8(last_warning()).find("/dev/null/cache"), std::string::npos);
  // The tool's refresh cannot work without its directory, and says so.
  EXPECT_NE(error_of([] { refresh_tables(kDefaultAlias); }).find("/dev/null/cache"),
            std::string::npos);
}

TEST_F(FreshnessTest, RefreshReportsWhatItDid) {
  auto states = refresh_tables(kDefaultAlias);
  ASSERT_EQ(states.size(), 10u);
  EXPECT_EQ(states[6].name, "master");
  EXPECT_EQ(states[6].records, 4);
  EXPECT_EQ(states[6].action, TTableState::Action::Rebuilt);
  states = refresh_tables(kDefaultAlias);
  EXPECT_EQ(states[6].action, TTableState::Action::Current);
  {
    auto w = Dbase::TTableWriter::open(table("master.dbf"));
    w->set_deleted(2, true);
  }
  age_tables(inst.data(), 1800);
  states = refresh_tables(kDefaultAlias);
  EXPECT_EQ(states[6].action, TTableState::Action::Updated);
  EXPECT_EQ(states[6].records, 3);
}

}  // namespace
}  // namespace Mirel::Database::Testing
