#include "library/mwrange.h"

#include <climits>
#include <memory>

#include <gtest/gtest.h>

#include "database/database.h"
#include "library/named_mutex.h"
#include "library_dir.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;

namespace {

// The master table of the range tests: book ids and accession dates.
// Distinct dates from the newest: 20240310, 20240301, 20240215, 20231120;
// with `undated`, also a book without a date.
void write_master(const LibraryDir& lib, bool undated = false) {
  std::vector<std::vector<std::string>> rows = {
      {"0000000007", "20240301"}, {"0000000003", "20240215"}, {"0000000012", "20240310"},
      {"0000000005", "20240301"}, {"0000000001", "20231120"}, {"0000000009", "20240310"}};
  if (undated) rows.push_back({"0000000010", ""});
  lib.table("master.dbf", {{"MS_BOOKID", 'C', 10}, {"MS_UKEIRE", 'D', 8}}, rows);
}

// A range with any field name and SQL, for the failure paths.
class Trange_probe : public Tmwrange {
 public:
  Trange_probe(const UnicodeString& field, const UnicodeString& sql) : Tmwrange(2, field, sql) {}
};

}  // namespace

TEST(Range, SetBoundsKeepsLowerNotAboveUpper) {
  struct Case { UnicodeString a, b, lower, upper; };
  const Case cases[] = {
      {u"20240101", u"20240301", u"20240101", u"20240301"},
      {u"20240301", u"20240101", u"20240101", u"20240301"},  // exchanged
      {u"", u"20240101", u"", u"20240101"},
      {u"20240101", u"", u"", u"20240101"},
      {u"x", u"x", u"x", u"x"},
      // Code units compare unsigned: U+FF21 is above every ASCII letter.
      {u"\uFF21", u"Z", u"Z", u"\uFF21"},
  };
  Tmwrange_ukeire range(0);
  for (const Case& c : cases) {
    range.set_bounds(c.a, c.b);
    EXPECT_EQ(range.lower(), c.lower);
    EXPECT_EQ(range.upper(), c.upper);
    EXPECT_EQ(range.bounds(), std::make_pair(c.lower, c.upper));
  }
}

TEST(Range, CalendarWindowEndsToday) {
  struct Case { TLocalDate today; int32_t count; UnicodeString lower, upper; };
  const Case cases[] = {
      {{2024, 3, 20}, 7, u"20240314", u"20240320"},
      {{2024, 3, 20}, 14, u"20240307", u"20240320"},
      {{2024, 3, 20}, 1, u"20240320", u"20240320"},
      {{2024, 3, 20}, 0, u"20240320", u"20240320"},
      {{2024, 3, 20}, -1, u"20240320", u"20240322"},   // -k: up to k + 1 days later
      {{2024, 3, 20}, -3, u"20240320", u"20240324"},
      {{2024, 3, 1}, 2, u"20240229", u"20240301"},     // leap day
      {{2023, 3, 1}, 2, u"20230228", u"20230301"},
      {{2024, 1, 3}, 5, u"20231230", u"20240103"},     // across the year
      {{2024, 12, 31}, -1, u"20241231", u"20250102"},
      {{2024, 3, 20}, INT32_MAX, u"00000101", u"20240320"},  // kept to four-digit years
      {{2024, 3, 20}, INT32_MIN, u"20240320", u"99991231"},
  };
  for (const Case& c : cases) {
    Tmwrange_ukeire_day range(c.count, [&] { return c.today; });
    range.fetch(60000, u"", u"NoSuchAlias");  // arguments unused: no database, no mutex
    EXPECT_EQ(range.lower(), c.lower) << c.count;
    EXPECT_EQ(range.upper(), c.upper) << c.count;
  }
}

TEST(Range, CalendarWindowNeedsNoMutex) {
  ScratchDir dir;
  TNamedMutex holder(kMirelWebMutexName, dir.path());
  ASSERT_TRUE(holder.wait(0));
  Tmwrange_ukeire_day range(7, [] { return TLocalDate{2024, 3, 20}; });
  range.set_mutex_directory(dir.path());
  EXPECT_NO_THROW(range.fetch(0, u"", u""));
  EXPECT_EQ(range.upper(), u"20240320");
}

TEST(Range, NewestDistinctValuesFromTheMasterTable) {
  LibraryDir lib;
  write_master(lib);
  struct Case { const char* name; std::function<std::unique_ptr<Tmwrange>()> make;
                UnicodeString lower, upper; };
  const Case cases[] = {
      {"ukeire 2", [] { return std::make_unique<Tmwrange_ukeire>(2); }, u"20240301", u"20240310"},
      {"ukeire 3", [] { return std::make_unique<Tmwrange_ukeire>(3); }, u"20240215", u"20240310"},
      {"ukeire 4", [] { return std::make_unique<Tmwrange_ukeire>(4); }, u"20231120", u"20240310"},
      {"ukeire 50", [] { return std::make_unique<Tmwrange_ukeire>(50); }, u"20231120", u"20240310"},
      {"ukeire 1", [] { return std::make_unique<Tmwrange_ukeire>(1); }, u"20240310", u"20240310"},
      {"ukeire 0", [] { return std::make_unique<Tmwrange_ukeire>(0); }, u"20240310", u"20240310"},
      {"ukeire -5", [] { return std::make_unique<Tmwrange_ukeire>(-5); }, u"20240310", u"20240310"},
      {"bookid 3", [] { return std::make_unique<Tmwrange_bookid>(3); }, u"0000000007", u"0000000012"},
      {"bookid 1", [] { return std::make_unique<Tmwrange_bookid>(1); }, u"0000000012", u"0000000012"},
      {"bookid 0", [] { return std::make_unique<Tmwrange_bookid>(0); }, u"0000000012", u"0000000012"},
      {"bookid 6", [] { return std::make_unique<Tmwrange_bookid>(6); }, u"0000000001", u"0000000012"},
      {"bookid 50", [] { return std::make_unique<Tmwrange_bookid>(50); }, u"0000000001", u"0000000012"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto range = c.make();
    range->set_mutex_directory(lib.root());
    range->fetch(60000, u"", u"");
    EXPECT_EQ(range->lower(), c.lower);
    EXPECT_EQ(range->upper(), c.upper);
  }
}

// More counts than distinct dates reach the group of books without a date,
// whose value is the empty text: the range is then open at the bottom.
TEST(Range, CountBeyondTheDatesReachesTheUndatedBooks) {
  LibraryDir lib;
  write_master(lib, true);
  Tmwrange_ukeire range(50);
  range.set_mutex_directory(lib.root());
  range.fetch(60000, u"", u"MirelWin");
  EXPECT_EQ(range.lower(), u"");
  EXPECT_EQ(range.upper(), u"20240310");
}

TEST(Range, EmptyMasterTableGivesEmptyBounds) {
  LibraryDir lib;
  lib.table("master.dbf", {{"MS_BOOKID", 'C', 10}, {"MS_UKEIRE", 'D', 8}}, {});
  for (int32_t count : {0, 1, 3}) {
    Tmwrange_ukeire range(count);
    range.set_mutex_directory(lib.root());
    range.fetch(60000, u"", u"");
    EXPECT_EQ(range.lower(), u"") << count;
    EXPECT_EQ(range.upper(), u"") << count;
  }
}

TEST(Range, DatabaseNameSelectsTheAlias) {
  LibraryDir lib;
  write_master(lib);
  Tmwrange_bookid range(1);
  range.set_mutex_directory(lib.root());
  range.fetch(60000, u"", u"Other");
  EXPECT_EQ(range.upper(), u"0000000012");
  EXPECT_THROW(range.fetch(60000, u"", u"NoSuchAlias"), Database::EDatabaseError);
}

TEST(Range, FetchIsRepeatable) {
  LibraryDir lib;
  write_master(lib);
  Tmwrange_ukeire range(2);
  range.set_mutex_directory(lib.root());
  range.fetch(60000, u"", u"");
  range.fetch(60000, u"", u"");
  EXPECT_EQ(range.bounds(), std::make_pair(UnicodeString(u"20240301"), UnicodeString(u"20240310")));
}

// A busy mutex: EMutexTimeout, the bounds untouched, and no database work
// (the unknown alias would have raised the engine's error instead).
TEST(Range, BusyMutexRaisesTimeoutBeforeAnyDatabaseWork) {
  LibraryDir lib;
  write_master(lib);
  TNamedMutex holder(kMirelWebMutexName, lib.root());
  ASSERT_TRUE(holder.wait(0));
  Tmwrange_ukeire range(2);
  range.set_mutex_directory(lib.root());
  range.set_bounds(u"a", u"b");
  try {
    range.fetch(20, u"", u"NoSuchAlias");
    FAIL() << "no exception";
  } catch (const EMutexTimeout& e) {
    EXPECT_EQ(e.message(), u"");
    EXPECT_STREQ(e.class_name(), "EMutexTimeout");
  }
  EXPECT_EQ(range.bounds(), std::make_pair(UnicodeString(u"a"), UnicodeString(u"b")));
  holder.release();
  range.fetch(0, u"", u"");
  EXPECT_EQ(range.upper(), u"20240310");
}

// Every failure after the mutex was obtained releases it: the next waiter
// gets it at once.
TEST(Range, FailuresReleaseTheMutex) {
  LibraryDir lib;
  write_master(lib);
  const UnicodeString ids = u"select MS_BOOKID from 'master.dbf'";
  struct Case { const char* name; std::function<std::unique_ptr<Tmwrange>()> make;
                UnicodeString alias; UnicodeString message; };
  const Case cases[] = {
      {"empty field name", [&] { return std::make_unique<Trange_probe>(u"", ids); }, u"",
       u"範囲取得対象のフィールド名が空文字列です"},
      {"missing column", [&] { return std::make_unique<Trange_probe>(u"MS_NONE", ids); }, u"",
       u"範囲取得対象のフィールド'MS_NONE'がみつかりません"},
      {"unknown alias", [] { return std::make_unique<Tmwrange_ukeire>(2); }, u"NoSuchAlias", u""},
      {"bad SQL", [&] { return std::make_unique<Trange_probe>(u"MS_BOOKID", u"select from"); }, u"",
       u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto range = c.make();
    range->set_mutex_directory(lib.root());
    try {
      range->fetch(0, u"", c.alias);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      if (!c.message.empty()) EXPECT_EQ(e.message(), c.message);
      else EXPECT_NE(dynamic_cast<const Database::EDatabaseError*>(&e), nullptr) << e.what();
    }
    TNamedMutex next(kMirelWebMutexName, lib.root());
    EXPECT_TRUE(next.wait(0));
  }
}

TEST(Range, MissingMasterTableIsAnEngineError) {
  LibraryDir lib;
  Tmwrange_bookid range(1);
  range.set_mutex_directory(lib.root());
  EXPECT_THROW(range.fetch(0, u"", u""), Database::EDatabaseError);
  TNamedMutex next(kMirelWebMutexName, lib.root());
  EXPECT_TRUE(next.wait(0));
}
