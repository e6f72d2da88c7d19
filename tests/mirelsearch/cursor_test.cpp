// The search object's cursor, record getters, lending status, ranges, sort
// orders and failures, and an index that follows changes of master.dbf.
#include <algorithm>
#include <chrono>

#include <gtest/gtest.h>

#include <sqlite3.h>

#include "dbase/dbf.h"
#include "mirelsearch/catalogue_index.h"
#include "mirelsearch/normalize.h"
#include "tests/mirelsearch/catalogue_fixture.h"

namespace Mirelsearch_tlb::testing {
namespace {

using Mirel::U;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;

std::shared_ptr<Istring_range> range(std::shared_ptr<Tstring_range> r, const char* lower,
                                     const char* upper) {
  r->set_mode(0);
  r->set_range(U(lower), U(upper));
  return r;
}

std::shared_ptr<Isql_order> order(const char* field, int32_t option) {
  auto o = std::make_shared<Tsql_order>();
  o->set_field_name(U(field));
  o->set_option(option);
  return o;
}

// Books 1..6 with accession dates; 3 and 4 share one; 6 has none.
TLibraryBuilder dated_catalogue() {
  TLibraryBuilder lib;
  const char* dates[] = {"20240105", "20240301", "20240210", "20240210", "20231231", ""};
  const char* titles[] = {"本 い", "本 あ", "本 う", "本 え", "本 お", "本 か"};
  for (int i = 0; i < 6; ++i) {
    TBook b = book(i + 1, titles[i]);
    b.ukeire = dates[i];
    lib.add_book(b);
  }
  return lib;
}

struct TOrderCase {
  const char* name;
  std::shared_ptr<Istring_range> range;
  std::shared_ptr<Isql_order> order;
  std::vector<long long> hits;
};

class RangesAndOrder : public ::testing::TestWithParam<TOrderCase> {};

TEST_P(RangesAndOrder, HitsInOrder) {
  TCatalogueDir dir;
  dir.write(dated_catalogue());
  Tmirel_search search;
  if (GetParam().range) search.add_range(GetParam().range);
  if (GetParam().order) search.set_sort(GetParam().order);
  EXPECT_EQ(hit_numbers(search), GetParam().hits);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RangesAndOrder,
    ::testing::Values(
        TOrderCase{"NothingGivenAllByBookId", nullptr, nullptr, {1, 2, 3, 4, 5, 6}},
        TOrderCase{"UkeireBothBoundsIncluded",
                   range(std::make_shared<Trange_ukeire>(), "20240105", "20240210"), nullptr,
                   {1, 3, 4}},
        TOrderCase{"UkeireOpenBelow", range(std::make_shared<Trange_ukeire>(), "", "20240105"),
                   nullptr, {1, 5}},
        TOrderCase{"UkeireOpenAbove", range(std::make_shared<Trange_ukeire>(), "20240210", ""),
                   nullptr, {2, 3, 4}},
        TOrderCase{"UkeireBothOpen", range(std::make_shared<Trange_ukeire>(), "", ""), nullptr,
                   {1, 2, 3, 4, 5, 6}},
        TOrderCase{"UkeireEmptyRange",
                   range(std::make_shared<Trange_ukeire>(), "20240302", "20240101"), nullptr, {}},
        TOrderCase{"BookIdRange",
                   range(std::make_shared<Trange_bookid>(), "0000000002", "0000000004"), nullptr,
                   {2, 3, 4}},
        TOrderCase{"BookIdRangeDescending",
                   range(std::make_shared<Trange_bookid>(), "0000000004", ""),
                   order("MS_BOOKID", 1), {6, 5, 4}},
        // Blank dates sort first ascending; equal dates by ascending book id.
        TOrderCase{"SortUkeireAscending", nullptr, order("MS_UKEIRE", 0), {6, 5, 1, 3, 4, 2}},
        TOrderCase{"SortUkeireDescending", nullptr, order("MS_UKEIRE", 1), {2, 3, 4, 1, 5, 6}},
        TOrderCase{"SortNameIgnoresLetterCase", nullptr, order("ms_ukeire", 1),
                   {2, 3, 4, 1, 5, 6}},
        TOrderCase{"SortByTitle", nullptr, order("MS_SYOMEI", 0), {2, 1, 3, 4, 5, 6}},
        TOrderCase{"UnknownSortFieldIgnored", nullptr, order("NO_SUCH", 1), {1, 2, 3, 4, 5, 6}},
        TOrderCase{"SqlInSortFieldIgnored", nullptr, order("MS_UKEIRE; DROP TABLE data", 1),
                   {1, 2, 3, 4, 5, 6}},
        TOrderCase{"NewArrivals", range(std::make_shared<Trange_ukeire>(), "20240210", "20240301"),
                   order("MS_UKEIRE", 1), {2, 3, 4}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RangesAndOrder, KeywordAndSortTogether) {
  TCatalogueDir dir;
  dir.write(dated_catalogue());
  Tmirel_search search;
  search.add_keyword(keyword<Tkw_syomei_ex>(u"本"));
  search.set_sort(order("MS_UKEIRE", 1));
  EXPECT_EQ(hit_numbers(search), (std::vector<long long>{2, 3, 4, 1, 5, 6}));
}

// A page nearer the end of a sorted list is read from the list's end: from
// every start, the hits to the end are the tail of the whole list, in every
// sort order, with and without a keyword and a range.
TEST(RangesAndOrder, EveryStartGivesTheTailOfTheList) {
  TCatalogueDir dir;
  dir.write(dated_catalogue());
  struct TTail {
    const char* field;
    int32_t option;
    bool keyword;
  };
  for (const TTail t : {TTail{"MS_UKEIRE", 0, false}, TTail{"MS_UKEIRE", 1, true},
                        TTail{"MS_SYOMEI", 1, false}, TTail{"MS_SYOMEI", 0, true},
                        TTail{"MS_BOOKID", 1, true}, TTail{"MS_BOOKID", 0, false}}) {
    SCOPED_TRACE(std::string(t.field) + (t.option ? " desc" : " asc") + (t.keyword ? " 本" : ""));
    auto make = [&t](Tmirel_search& s) {
      if (t.keyword) s.add_keyword(keyword<Tkw_syomei_ex>(u"本"));
      else s.add_range(range(std::make_shared<Trange_ukeire>(), "", ""));
      s.set_sort(order(t.field, t.option));
    };
    Tmirel_search whole;
    make(whole);
    const std::vector<long long> all = hit_numbers(whole);
    ASSERT_EQ(all.size(), 6u);
    for (int32_t start = 0; start <= 6; ++start) {
      Tmirel_search s;
      make(s);
      s.connect(u"");
      s.open(kAlias);
      int32_t moved = 0;
      s.move_by(start, moved);
      std::vector<long long> tail;
      for (; !s.get_is_eof(); s.move_next())
        tail.push_back(std::stoll(Mirel::to_utf8(s.get_BOOKID())));
      EXPECT_EQ(tail, std::vector<long long>(all.begin() + start, all.end())) << "from " << start;
      s.close();
      s.disconnect();
    }
  }
}

// Getters, move_by and the lending status on a catalogue of 45 books.
class Cursor : public ::testing::Test {
 protected:
  void SetUp() override {
    TLibraryBuilder lib;
    for (int i = 1; i <= 45; ++i) lib.add_book(book(i, "本"));
    TBook b = book(46, "吾輩は猫である");
    b.syokana = "ワガハイハネコデアル";
    b.chosya = "夏目漱石";
    b.chokana = "ナツメソウセキ";
    b.syupan = "新潮社";
    b.syunen = "1905";
    b.isbn = "4-10-101001-3";
    b.page = "254p";
    b.ookisa = "20cm";
    b.seikyu = "913.6/ナ";
    b.kenmei = "日本文学";
    b.naiyo = "猫の目から見た人間社会";
    b.ukeire = "20240401";
    b.memo = "寄贈<br>記念";
    b.kingaku = "-520";
    b.syozai = "002";
    b.kkubun = "02";
    lib.add_book(b);
    b = book(47, "貸出中の本");
    b.kingaku = "";
    b.syozai = "999";
    lib.add_book(b);
    b = book(48, "所在不明の本");
    b.tfmsuu = "2";
    lib.add_book(b);
    b = book(49, "点検済みの本");
    b.tfmsuu = "1";
    b.tzenkai = "20240301";
    lib.add_book(b);
    lib.add_loan(Mirel::Dbase::book_id(47), "20240420");
    lib.add_loan(Mirel::Dbase::book_id(46), "");  // returned
    dir_.write(lib);
  }

  Tmirel_search& open_on(long long number) {
    search_.add_keyword(keyword<Tkw_bookid>(Mirel::from_utf8(Mirel::Dbase::book_id(number)), 3));
    search_.set_flag(true);
    search_.connect(u"");
    search_.open(kAlias);
    return search_;
  }

  TCatalogueDir dir_;
  Tmirel_search search_;
};

TEST_F(Cursor, RecordGetters) {
  Tmirel_search& s = open_on(46);
  ASSERT_EQ(s.get_record_count(), 1);
  EXPECT_EQ(s.get_BOOKID(), u"0000000046");
  EXPECT_EQ(s.get_SYOMEI(), U("吾輩は猫である"));
  EXPECT_EQ(s.get_SYOKANA(), U("ワガハイハネコデアル"));
  EXPECT_EQ(s.get_CHOSYA(), U("夏目漱石"));
  EXPECT_EQ(s.get_CHOKANA(), U("ナツメソウセキ"));
  EXPECT_EQ(s.get_SYUPAN(), U("新潮社"));
  EXPECT_EQ(s.get_SYUNEN(), u"1905");
  EXPECT_EQ(s.get_ISBN(), u"4-10-101001-3");
  EXPECT_EQ(s.get_PAGE(), u"254p");
  EXPECT_EQ(s.get_OOKISA(), u"20cm");
  EXPECT_EQ(s.get_SEIKYU(), U("913.6/ナ"));
  EXPECT_EQ(s.get_KENMEI(), U("日本文学"));
  EXPECT_EQ(s.get_NAIYO(), U("猫の目から見た人間社会"));
  EXPECT_EQ(s.get_UKEIRE(), u"20240401");
  EXPECT_EQ(s.get_MEMO(), U("寄贈<br>記念"));
  EXPECT_EQ(s.get_KINGAKU(), -520);
  EXPECT_FALSE(s.get_is_kasidasi());  // its only loan was returned
  EXPECT_FALSE(s.get_is_fumei());
  EXPECT_EQ(s.get_SYOZAI()->get_Value(), U("児童書架"));
  EXPECT_EQ(s.get_SYOZAI()->get_code(), u"002");
  auto kkubun = s.get_kkubun();
  EXPECT_EQ(kkubun->get_name(), U("禁帯出"));
  EXPECT_TRUE(kkubun->get_is_kinsi());
}

TEST_F(Cursor, BlankFieldsAndStatus) {
  Tmirel_search& s = open_on(47);
  EXPECT_EQ(s.get_ISBN(), u"");
  EXPECT_EQ(s.get_KINGAKU(), 0);
  EXPECT_TRUE(s.get_is_kasidasi());
  EXPECT_EQ(s.get_SYOZAI()->get_Value(), u"");  // code without a name
  EXPECT_FALSE(s.get_kkubun()->get_is_kinsi());
}

TEST_F(Cursor, MissingOnlyWithoutAFindingStocktaking) {
  EXPECT_TRUE(open_on(48).get_is_fumei());
  Tmirel_search other;
  other.add_keyword(keyword<Tkw_bookid>(u"0000000049", 3));
  other.open(kAlias);
  EXPECT_FALSE(other.get_is_fumei());
  Tmirel_search plain;
  plain.add_keyword(keyword<Tkw_bookid>(u"0000000001", 3));
  plain.open(kAlias);
  EXPECT_FALSE(plain.get_is_fumei());  // never checked
}

TEST_F(Cursor, PagingWithMoveBy) {
  search_.add_keyword(keyword<Tkw_syomei_ex>(u"本"));
  search_.open(kAlias);
  ASSERT_EQ(search_.get_record_count(), 48);  // 1-45, 47, 48, 49
  int32_t moved = -1;
  search_.move_by(40, moved);
  EXPECT_EQ(moved, 40);
  EXPECT_EQ(search_.get_BOOKID(), u"0000000041");
  search_.move_next();
  EXPECT_EQ(search_.get_BOOKID(), u"0000000042");
  search_.move_by(100, moved);  // past the last page: stops past the end
  EXPECT_EQ(moved, 7);
  EXPECT_TRUE(search_.get_is_eof());
  search_.move_next();  // harmless at the end
  EXPECT_TRUE(search_.get_is_eof());
}

TEST_F(Cursor, MoveByZeroStaysOnFirstHit) {
  Tmirel_search& s = open_on(46);
  int32_t moved = -1;
  s.move_by(0, moved);
  EXPECT_EQ(moved, 0);
  EXPECT_EQ(s.get_BOOKID(), u"0000000046");
}

TEST_F(Cursor, ReopenStartsAtTheFirstHit) {
  search_.add_keyword(keyword<Tkw_syomei_ex>(u"本"));
  search_.open(kAlias);
  int32_t moved = 0;
  search_.move_by(10, moved);
  search_.close();
  search_.open(kAlias);
  EXPECT_EQ(search_.get_BOOKID(), u"0000000001");
}

// A budget that runs out as the first record is read leaves the cursor
// without a reader: the next read, in time, chooses one for the same place.
TEST_F(Cursor, TimeoutBeforeTheFirstReadLeavesNoReader) {
  auto now = std::chrono::steady_clock::time_point{};
  detail::set_search_clock_for_tests([&now] { return now; });
  struct RestoreClock {
    ~RestoreClock() { detail::set_search_clock_for_tests(nullptr); }
  } restore;
  search_.add_keyword(keyword<Tkw_syomei_ex>(u"本"));
  search_.set_budget(TSearchBudget{1000, 0});
  search_.open(kAlias);
  int32_t moved = 0;
  search_.move_by(40, moved);
  now += std::chrono::seconds(2);
  EXPECT_THROW(search_.get_BOOKID(), ESearchTimeout);
  now -= std::chrono::seconds(2);
  EXPECT_EQ(search_.get_BOOKID(), u"0000000041");
  search_.move_next();
  EXPECT_EQ(search_.get_BOOKID(), u"0000000042");
}

// A failed read names the call that failed.
void expect_failure(const std::function<void()>& call, const std::string& name) {
  try {
    call();
    ADD_FAILURE() << name << " did not throw";
  } catch (const EMirelSearch& e) {
    EXPECT_NE(Mirel::to_utf8(e.message()).find(name), std::string::npos) << e.what();
  }
}

TEST_F(Cursor, CallsOnASearchThatIsNotOpen) {
  Tmirel_search s;
  int32_t moved = 0;
  expect_failure([&] { s.get_record_count(); }, "get_record_count");
  expect_failure([&] { s.get_is_eof(); }, "get_is_eof");
  expect_failure([&] { s.move_by(1, moved); }, "move_by");
  expect_failure([&] { s.get_BOOKID(); }, "get_BOOKID");
  expect_failure([&] { s.get_KINGAKU(); }, "get_KINGAKU");
  expect_failure([&] { s.get_is_kasidasi(); }, "get_is_kasidasi");
  expect_failure([&] { s.get_SYOZAI(); }, "get_SYOZAI");
  expect_failure([&] { s.get_kkubun(); }, "get_kkubun");
  s.move_next();  // the calls without a value never fail
  s.close();
  s.disconnect();
}

TEST_F(Cursor, CallsPastTheEnd) {
  Tmirel_search& s = open_on(46);
  s.move_next();
  ASSERT_TRUE(s.get_is_eof());
  int32_t moved = 0;
  expect_failure([&] { s.get_SYOMEI(); }, "get_SYOMEI");
  expect_failure([&] { s.get_is_fumei(); }, "get_is_fumei");
  expect_failure([&] { s.get_kkubun(); }, "get_kkubun");
  expect_failure([&] { s.move_by(1, moved); }, "move_by");
  expect_failure([&] { s.move_by(-1, moved); }, "move_by");
  s.close();
  expect_failure([&] { s.get_BOOKID(); }, "get_BOOKID");
}

TEST_F(Cursor, WithoutFlagNoStatusButSameHits) {
  search_.add_keyword(keyword<Tkw_bookid>(u"0000000047", 3));
  search_.set_flag(false);
  search_.open(kAlias);
  ASSERT_EQ(search_.get_record_count(), 1);
  EXPECT_EQ(search_.get_SYOMEI(), U("貸出中の本"));
  expect_failure([&] { search_.get_is_kasidasi(); }, "get_is_kasidasi");
}

TEST_F(Cursor, UnknownAliasThrowsAtOpen) {
  Tmirel_search s;
  EXPECT_THROW(s.open(u"NoSuchAlias"), Mirel::Exception);
  expect_failure([&] { s.get_record_count(); }, "get_record_count");
}

TEST_F(Cursor, ConditionsAreReadAtOpen) {
  auto k = keyword<Tkw_syomei_ex>(u"猫");
  search_.add_keyword(k);
  k->set_keyword(U("貸出中"));
  search_.open(kAlias);
  ASSERT_EQ(search_.get_record_count(), 1);
  EXPECT_EQ(search_.get_BOOKID(), u"0000000047");
}

// The index lives in the cache of master.dbf and follows its changes: a
// record rewritten, one deleted and one appended by the library system.
TEST(IndexMaintenance, FollowsChangesOfTheTable) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  for (int i = 1; i <= 5; ++i) lib.add_book(book(i, "古い題名"));
  dir.write(lib);
  auto find = [](const char* word) {
    Tmirel_search s;
    s.add_keyword(keyword<Tkw_syomei_ex>(U(word)));
    return hit_numbers(s);
  };
  EXPECT_EQ(find("古い"), (std::vector<long long>{1, 2, 3, 4, 5}));

  auto writer = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
  TBook changed = book(2, "新しい題名");
  writer->rewrite(1, Mirel::Dbase::master_row(changed));
  writer->set_deleted(3, true);
  writer->append(Mirel::Dbase::master_row(book(6, "もっと新しい題名")));
  writer->close();

  EXPECT_EQ(find("古い"), (std::vector<long long>{1, 3, 5}));
  EXPECT_EQ(find("新しい"), (std::vector<long long>{2, 6}));
  EXPECT_EQ(find("題名"), (std::vector<long long>{1, 2, 3, 5, 6}));
  // One character is counted from the kept counts, which follow as well.
  EXPECT_EQ(find("古"), (std::vector<long long>{1, 3, 5}));
  EXPECT_EQ(find("新"), (std::vector<long long>{2, 6}));
  EXPECT_EQ(find("題"), (std::vector<long long>{1, 2, 3, 5, 6}));
  EXPECT_EQ(find("っ"), (std::vector<long long>{6}));
}

// A cache whose index was built by a program with another normalisation (or
// layout) is rebuilt by the next search, with nothing for an administrator
// to do: here its build key names another version and its index is empty.
TEST(IndexMaintenance, RebuiltWhenBuiltByAnotherVersion) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  lib.add_book(book(1, "髙橋是清伝"));
  dir.write(lib);
  auto find = [](const char* word) {
    Tmirel_search s;
    s.add_keyword(keyword<Tkw_syomei_ex>(U(word)));
    return hit_numbers(s);
  };
  EXPECT_EQ(find("高橋"), (std::vector<long long>{1}));

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.lib_dir() + "/mirelweb-cache/master.sqlite").c_str(), &db), SQLITE_OK);
  detail::register_index_functions(db);
  const std::string version = std::to_string(detail::kIndexVersion * 1000 + detail::kNormalizeVersion);
  const std::string sql =
      "UPDATE mw_meta SET v = replace(v, 'ext=" + version + ":', 'ext=1:') WHERE k = 'build';"
      "DELETE FROM mw_post;";
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_stmt* check = nullptr;
  sqlite3_prepare_v2(db, "SELECT v LIKE '%ext=1:%' FROM mw_meta WHERE k = 'build'", -1, &check, nullptr);
  ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(check, 0), 1);  // the key now names another version
  sqlite3_finalize(check);
  sqlite3_close(db);

  EXPECT_EQ(find("高橋"), (std::vector<long long>{1}));
  EXPECT_EQ(find("髙橋是清"), (std::vector<long long>{1}));
}

// Records rewritten in place: one with only an unindexed field changed, one
// with a new book id (hits are ordered by it), one with a new author. Each
// hit list must follow, whichever parts of the index the rewrite touched.
TEST(IndexMaintenance, FollowsRewritesOfSomeFields) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  for (int i = 1; i <= 4; ++i) {
    TBook b = book(i, "古い題名");
    b.chosya = "山田";
    lib.add_book(b);
  }
  dir.write(lib);
  auto find = [](const char* title, const char* author) {
    Tmirel_search s;
    if (title) s.add_keyword(keyword<Tkw_syomei_ex>(U(title)));
    if (author) s.add_keyword(keyword<Tkw_chosya_ex>(U(author)));
    return hit_numbers(s);
  };
  EXPECT_EQ(find("古い", nullptr), (std::vector<long long>{1, 2, 3, 4}));

  auto writer = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
  TBook moved = book(1, "古い題名");
  moved.chosya = "山田";
  moved.syozai = "002";
  writer->rewrite(0, Mirel::Dbase::master_row(moved));
  TBook renumbered = book(9, "古い題名");
  renumbered.chosya = "山田";
  writer->rewrite(1, Mirel::Dbase::master_row(renumbered));
  TBook new_author = book(3, "古い題名");
  new_author.chosya = "鈴木";
  writer->rewrite(2, Mirel::Dbase::master_row(new_author));
  writer->close();

  EXPECT_EQ(find("古い", nullptr), (std::vector<long long>{1, 3, 4, 9}));
  EXPECT_EQ(find(nullptr, "山田"), (std::vector<long long>{1, 4, 9}));
  EXPECT_EQ(find(nullptr, "鈴木"), (std::vector<long long>{3}));
  EXPECT_EQ(find("題名", "山"), (std::vector<long long>{1, 4, 9}));
  EXPECT_EQ(find(nullptr, "山"), (std::vector<long long>{1, 4, 9}));
  EXPECT_EQ(find(nullptr, "鈴"), (std::vector<long long>{3}));
}

// A character in nearly every title: the count comes from the kept counts
// and a page is found by testing books in book-id order, never reading the
// whole list of hits. Every page must hold exactly the books a plain scan
// finds, in order, in both directions.
TEST(CommonCharacter, PagesAgreeWithAScan) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  std::vector<long long> with, with_desc;
  for (int i = 1; i <= 300; ++i) {
    const bool has = i % 17 != 0;
    // Katakana in the reading meets the hiragana keyword after folding.
    TBook b = book(i, has ? "星の本" : "星と本");
    if (i % 5 == 0) {
      b.syomei = "星と本";
      b.syokana = "ノ";
    }
    lib.add_book(b);
    if (has || i % 5 == 0) with.push_back(i);
  }
  dir.write(lib);
  with_desc.assign(with.rbegin(), with.rend());
  for (int32_t direction : {0, 1}) {
    const auto& expected = direction == 0 ? with : with_desc;
    for (int32_t start : {0, 5, 200, static_cast<int32_t>(expected.size()) - 1}) {
      Tmirel_search s;
      s.add_keyword(keyword<Tkw_syomei_ex>(U("の")));
      s.set_sort(order("MS_BOOKID", direction));
      s.connect(u"");
      s.open(kAlias);
      ASSERT_EQ(s.get_record_count(), static_cast<int32_t>(expected.size()));
      int32_t moved = 0;
      s.move_by(start, moved);
      ASSERT_EQ(moved, start);
      std::vector<long long> page;
      for (int i = 0; i < 20 && !s.get_is_eof(); ++i, s.move_next())
        page.push_back(std::stoll(Mirel::to_utf8(s.get_BOOKID())));
      const auto from = expected.begin() + start;
      const auto to = expected.begin() + std::min<size_t>(expected.size(), start + 20);
      EXPECT_EQ(page, std::vector<long long>(from, to)) << "start " << start;
    }
  }
}

// Pages of the hits of "の" sorted by reading, author's reading (a value
// per book) and accession date, both directions, from both ends and the
// middle (or from every 20th hit), against a plain sort of `books` (those
// not `deleted`).
void expect_sorted_pages(const std::vector<TBook>& books, const std::vector<bool>& deleted,
                         bool every_page = false) {
  struct TRow {
    long long id;
    std::string values[3];
  };
  std::vector<TRow> hits;
  for (size_t i = 0; i < books.size(); ++i)
    if (!deleted[i] && books[i].syomei.find("の") != std::string::npos)
      hits.push_back({std::stoll(books[i].bookid), {books[i].syokana, books[i].chokana, books[i].ukeire}});
  const int32_t n = static_cast<int32_t>(hits.size());
  const char* columns[] = {"MS_SYOKANA", "MS_CHOKANA", "MS_UKEIRE"};
  for (int k = 0; k < 3; ++k) {
    const char* column = columns[k];
    for (int32_t direction : {0, 1}) {
      std::vector<TRow> sorted = hits;
      std::sort(sorted.begin(), sorted.end(), [&](const TRow& a, const TRow& b) {
        const std::string& x = a.values[k];
        const std::string& y = b.values[k];
        if (x != y) return direction == 0 ? x < y : y < x;
        return a.id < b.id;
      });
      std::vector<int32_t> starts = {0, 7, n / 2, n - 15, n - 1};
      if (every_page)
        for (int32_t start = 20; start < n; start += 20) starts.push_back(start);
      for (int32_t start : starts) {
        SCOPED_TRACE(std::string(column) + (direction ? " desc" : " asc") + " from " +
                     std::to_string(start));
        Tmirel_search s;
        s.add_keyword(keyword<Tkw_syomei_ex>(U("の")));
        s.set_sort(order(column, direction));
        s.connect(u"");
        s.open(kAlias);
        ASSERT_EQ(s.get_record_count(), n);
        int32_t moved = 0;
        s.move_by(start, moved);
        ASSERT_EQ(moved, start);
        std::vector<long long> page, want;
        for (int i = 0; i < 20 && !s.get_is_eof(); ++i, s.move_next())
          page.push_back(std::stoll(Mirel::to_utf8(s.get_BOOKID())));
        for (int32_t i = start; i < std::min(n, start + 20); ++i) want.push_back(sorted[i].id);
        EXPECT_EQ(page, want);
      }
    }
  }
}

// 300 books, every id once but out of record order, few distinct readings
// and dates (long runs of ties, blanks among them), author's readings of
// many values (ties among a few), most titles with "の".
std::vector<TBook> tied_books(TLibraryBuilder& lib, int count = 300) {
  const char* readings[] = {"ア", "", "カ", "ア", "サ", "カ"};
  const char* dates[] = {"20240105", "20231231", "", "20240105"};
  std::vector<TBook> books;  // record by record
  for (int i = 0; i < count; ++i) {
    const long long id = (i * 7) % count + 1;
    TBook b = book(id, id % 13 != 0 ? "星の本" : "星と本");
    b.syokana = readings[i % 6];
    b.ukeire = dates[i % 4];
    b.chokana = "チョ" + std::to_string(i % 250);
    lib.add_book(b);
    books.push_back(b);
  }
  return books;
}

// A long list sorted by a column with a sort order is walked along that
// order from the nearer end. Pages from both ends and the middle must equal
// a plain sort: ties by ascending book id in both directions, records not
// in book-id order; and again after records changed in place, were added
// and deleted.
TEST(CommonCharacter, SortedPagesAgreeWithASort) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  std::vector<TBook> books = tied_books(lib);
  dir.write(lib);
  std::vector<bool> deleted(books.size(), false);
  expect_sorted_pages(books, deleted);
  // In place: new readings and dates (some to blank, some from blank), a
  // renumbered book, a deleted one and two new ones.
  auto writer = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
  for (uint32_t i : {3u, 10u, 11u, 150u, 299u}) {
    books[i].syokana = i % 2 ? "" : "ン";
    books[i].ukeire = i % 2 ? "20250101" : "";
    writer->rewrite(i, Mirel::Dbase::master_row(books[i]));
  }
  books[20].bookid = Mirel::Dbase::book_id(400);
  writer->rewrite(20, Mirel::Dbase::master_row(books[20]));
  writer->set_deleted(40, true);
  deleted[40] = true;
  for (long long id : {0LL, 301LL}) {
    TBook b = book(id, "新しい星の本");
    b.syokana = "カ";
    b.ukeire = "20240105";
    writer->append(Mirel::Dbase::master_row(b));
    books.push_back(b);
    deleted.push_back(false);
  }
  writer->close();
  expect_sorted_pages(books, deleted);
}

// The rows of the reading's moves in the cache of `dir` that match `where`.
int64_t reading_moves(TCatalogueDir& dir, const std::string& where) {
  sqlite3* db = nullptr;
  int64_t n = -1;
  if (sqlite3_open((dir.lib_dir() + "/mirelweb-cache/master.sqlite").c_str(), &db) == SQLITE_OK) {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, ("SELECT count(*) FROM mw_sort_moved WHERE col = 'MS_SYOKANA' AND " + where).c_str(),
                       -1, &stmt, nullptr);
    if (sqlite3_step(stmt) == SQLITE_ROW) n = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  return n;
}

// Gives records of `books` new readings in place.
void change_readings(TCatalogueDir& dir, std::vector<TBook>& books,
                     const std::vector<std::pair<uint32_t, std::string>>& changes) {
  auto writer = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
  for (const auto& [i, reading] : changes) {
    books[i].syokana = reading;
    writer->rewrite(i, Mirel::Dbase::master_row(books[i]));
  }
  writer->close();
}

// Moves of a column past their bound (a 128th of the array, at least 32)
// in one update are folded into its array, the later ones recorded against
// the new array; the pages stay those of a plain sort before and after.
TEST(CommonCharacter, SortedPagesAgreeAcrossAFold) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  std::vector<TBook> books = tied_books(lib);
  dir.write(lib);
  std::vector<bool> deleted(books.size(), false);
  const char* readings[] = {"ン", "イ", "", "ア", "キ"};
  auto change = [&](const std::vector<uint32_t>& records) {
    std::vector<std::pair<uint32_t, std::string>> changes;
    for (uint32_t i : records) changes.push_back({i, readings[i % 5]});
    change_readings(dir, books, changes);
  };
  std::vector<uint32_t> many;
  for (uint32_t i = 0; i < 40; ++i) many.push_back(i * 7 + 1);
  expect_sorted_pages(books, deleted);  // the cache is built
  change(many);  // 37 of them get another reading
  expect_sorted_pages(books, deleted);
  EXPECT_EQ(reading_moves(dir, "1"), 0);
  change({2, 5, 150, 298});
  auto writer = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
  writer->set_deleted(8, true);
  deleted[8] = true;
  writer->close();
  expect_sorted_pages(books, deleted);
  EXPECT_EQ(reading_moves(dir, "1"), 5);
}

// An array of several chunks: moves placed across them by probes alone,
// without the reading's fences (dropped here; the smaller tests place
// their moves between fences).
TEST(CommonCharacter, SortedPagesAgreeAcrossChunks) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  std::vector<TBook> books = tied_books(lib, 2200);
  dir.write(lib);
  std::vector<bool> deleted(books.size(), false);
  expect_sorted_pages(books, deleted);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir.lib_dir() + "/mirelweb-cache/master.sqlite").c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "DELETE FROM mw_sort_MS_SYOKANA_fences", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }
  const char* readings[] = {"ン", "イ", "", "キ"};
  std::vector<std::pair<uint32_t, std::string>> changes;
  for (uint32_t i = 5; i < books.size(); i += 700) changes.push_back({i, readings[i % 4]});
  change_readings(dir, books, changes);
  expect_sorted_pages(books, deleted);
  changes.clear();
  for (uint32_t i = 3; i < books.size(); i += 80) changes.push_back({i, readings[i % 4]});
  change_readings(dir, books, changes);
  expect_sorted_pages(books, deleted);
  EXPECT_EQ(reading_moves(dir, "p IS NULL"), 0);
  EXPECT_GT(reading_moves(dir, "1"), 20);  // placed, not folded
}

// Every move is placed by the end of its update. A move placed before the
// entry that later moves itself is placed again: a record moved in a later
// update between the same neighbours, with a smaller book id, must come
// before it on every page.
TEST(CommonCharacter, SortedPagesAgreeWhenAMoveLosesItsNeighbour) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  std::vector<TBook> books = tied_books(lib);
  dir.write(lib);
  std::vector<bool> deleted(books.size(), false);
  expect_sorted_pages(books, deleted);  // the cache is built
  // Records by book id; the first three read "カ", those after "ア" at
  // the start of the array's run of "カ".
  std::vector<uint32_t> by_id(books.size());
  for (uint32_t i = 0; i < books.size(); ++i) by_id[i] = i;
  std::sort(by_id.begin(), by_id.end(),
            [&](uint32_t a, uint32_t b) { return std::stoll(books[a].bookid) < std::stoll(books[b].bookid); });
  std::vector<uint32_t> ka, titled;  // readings "カ"; titles with "の", not "カ"
  for (uint32_t i : by_id) {
    if (books[i].syokana == "カ") ka.push_back(i);
    else if (books[i].syomei.find("の") != std::string::npos) titled.push_back(i);
  }
  ASSERT_GE(ka.size(), 3u);
  ASSERT_GE(titled.size(), 10u);
  const uint32_t late = titled[titled.size() - 2], early = titled[1], other = titled[5];
  change_readings(dir, books, {{late, "イ"}});
  expect_sorted_pages(books, deleted);
  change_readings(dir, books, {{ka[0], "ン"}, {ka[1], "ン"}, {early, "イ"}, {other, "イ"}});
  expect_sorted_pages(books, deleted, true);
  EXPECT_EQ(reading_moves(dir, "1"), 5);
  EXPECT_EQ(reading_moves(dir, "p IS NULL"), 0);
}

// Hits come in book-id order whatever order the records are in. Books
// entered in the order of their ids let a hit list be read as the index
// gives it; records out of that order, from the start or by a later append
// or renumbering, must still give sorted pages in both directions.
struct TRecordOrderCase {
  const char* name;
  std::vector<long long> ids;                 // book id numbers, record by record
  std::vector<std::pair<int, long long>> renumber;  // record index, new id (not a
                                                    // multiple of 3: a hit)
  std::vector<long long> append;              // ids appended after the first search
};

class RecordOrder : public ::testing::TestWithParam<TRecordOrderCase> {};

TEST_P(RecordOrder, PagesAreInBookIdOrder) {
  const TRecordOrderCase& c = GetParam();
  TCatalogueDir dir;
  TLibraryBuilder lib;
  for (long long id : c.ids) lib.add_book(book(id, id % 3 == 0 ? "夜の海" : "星空の本"));
  dir.write(lib);
  auto expected = [&](const std::vector<long long>& ids) {
    std::vector<long long> out;
    for (long long id : ids)
      if (id % 3 != 0) out.push_back(id);
    std::sort(out.begin(), out.end());
    return out;
  };
  auto check = [&](const std::vector<long long>& ids) {
    const std::vector<long long> ascending = expected(ids);
    for (int32_t direction : {0, 1}) {
      std::vector<long long> want = ascending;
      if (direction == 1) std::reverse(want.begin(), want.end());
      Tmirel_search all;
      all.add_keyword(keyword<Tkw_syomei_ex>(U("星空")));
      all.set_sort(order("MS_BOOKID", direction));
      EXPECT_EQ(hit_numbers(all), want) << "direction " << direction;
      // A page from the middle, reached by moving there.
      Tmirel_search page;
      page.add_keyword(keyword<Tkw_syomei_ex>(U("星空")));
      page.set_sort(order("MS_BOOKID", direction));
      page.connect(u"");
      page.open(kAlias);
      int32_t moved = 0;
      page.move_by(3, moved);
      ASSERT_EQ(moved, 3);
      EXPECT_EQ(std::stoll(Mirel::to_utf8(page.get_BOOKID())), want[3]);
      page.move_next();
      EXPECT_EQ(std::stoll(Mirel::to_utf8(page.get_BOOKID())), want[4]);
    }
  };
  check(c.ids);
  if (c.renumber.empty() && c.append.empty()) return;
  std::vector<long long> ids = c.ids;
  auto writer = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
  for (const auto& [index, id] : c.renumber) {
    writer->rewrite(index, Mirel::Dbase::master_row(book(id, "星空の本")));
    ids[static_cast<size_t>(index)] = id;
  }
  for (long long id : c.append) {
    writer->append(Mirel::Dbase::master_row(book(id, "星空の本")));
    ids.push_back(id);
  }
  writer->close();
  check(ids);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecordOrder,
    ::testing::Values(
        TRecordOrderCase{"EnteredInIdOrder", {1, 2, 4, 5, 7, 8, 10, 11}, {}, {}},
        TRecordOrderCase{"EnteredOutOfOrder", {8, 2, 11, 5, 1, 7, 4, 10}, {}, {}},
        TRecordOrderCase{"AppendedInOrder", {1, 2, 4, 5, 7, 8}, {}, {10, 11}},
        TRecordOrderCase{"AppendedWithALowerId", {2, 4, 5, 7, 8, 10}, {}, {1, 11}},
        TRecordOrderCase{"RenumberedBelowItsNeighbour", {1, 2, 4, 5, 7, 8, 10}, {{5, 2}}, {}},
        TRecordOrderCase{"RenumberedInPlace", {1, 2, 4, 5, 8, 10, 11}, {{3, 7}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace Mirelsearch_tlb::testing
