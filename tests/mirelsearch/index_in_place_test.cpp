// The search index inside master.dbf's cache follows a batch of changes
// applied in place exactly as an index built anew from the same files: the
// same hits, in the same order, for every keyword. The batch mixes changed,
// deleted, restored and new records, a book id that moves, a record whose
// only change is outside the index, and memos written to new blocks.
#include <sys/stat.h>

#include <filesystem>

#include <sqlite3.h>

#include <gtest/gtest.h>

#include "dbase/dbf.h"
#include "mirelsearch/posting_index.h"
#include "tests/mirelsearch/catalogue_fixture.h"

namespace Mirelsearch_tlb::testing {
namespace {

using Mirel::U;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;

const char* kTitles[] = {"赤い鳥の歌", "青い空と海", "赤い靴", "白い犬の話", "青い鳥"};
const char* kAuthors[] = {"山田太郎", "鈴木花子", "佐藤一郎"};

TBook catalogue_book(int i) {
  TBook b = book(i, kTitles[i % 5]);
  b.chosya = kAuthors[i % 3];
  if (i % 4 == 0) b.memo = "寄贈本 " + std::to_string(i);
  return b;
}

// Hit lists (book id numbers in order) of title and author keywords,
// one- and two-character ones.
std::vector<std::vector<long long>> all_hits() {
  std::vector<std::vector<long long>> out;
  for (const char* title : {"赤い", "青い", "鳥", "犬", "新しい", "歌"}) {
    Tmirel_search s;
    s.add_keyword(keyword<Tkw_syomei_ex>(U(title)));
    out.push_back(hit_numbers(s));
  }
  for (const char* author : {"山田", "鈴木", "佐藤", "田中"}) {
    Tmirel_search s;
    s.add_keyword(keyword<Tkw_chosya_ex>(U(author)));
    out.push_back(hit_numbers(s));
  }
  return out;
}

ino_t inode_of(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

// Makes the changes the index collects be written whenever that many are
// waiting, for the life of the object.
struct TPendingLimit {
  explicit TPendingLimit(size_t entries) { detail::set_pending_limit(entries); }
  ~TPendingLimit() { detail::set_pending_limit(0); }
};

class IndexBatch : public ::testing::TestWithParam<size_t> {};

// With the changes written once at the end, and a few at a time while the
// rows change.
TEST_P(IndexBatch, HitsEqualAFreshBuild) {
  const TPendingLimit limit(GetParam());
  TCatalogueDir dir;
  TLibraryBuilder lib;
  for (int i = 1; i <= 60; ++i) {
    TBook b = catalogue_book(i);
    b.deleted = i == 33;
    lib.add_book(b);
  }
  dir.write(lib);
  const auto before = all_hits();
  const std::string cache = dir.lib_dir() + "/mirelweb-cache/master.sqlite";
  const ino_t built = inode_of(cache);

  {
    auto w = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
    auto rewrite = [&](int i, const TBook& b, bool deleted = false) {
      w->rewrite(static_cast<uint32_t>(i - 1), Mirel::Dbase::master_row(b), deleted);
    };
    TBook b = catalogue_book(4);
    b.syomei = "新しい歌";
    rewrite(4, b);
    b = catalogue_book(9);
    b.chosya = "田中次郎";
    rewrite(9, b);
    b = catalogue_book(14);
    b.syozai = "002";  // outside the index
    rewrite(14, b);
    b = catalogue_book(19);
    b.bookid = Mirel::Dbase::book_id(99);  // moves to the end of the id order
    b.syomei = "青い犬";
    rewrite(19, b);
    b = catalogue_book(24);
    b.bookid = Mirel::Dbase::book_id(2);  // moves to the front, beside book 2
    rewrite(24, b);
    for (int i = 40; i <= 48; i += 4) rewrite(i, catalogue_book(i));  // memos to new blocks
    w->set_deleted(28, true);
    w->set_deleted(32, false);  // book 33 comes back
    w->append(Mirel::Dbase::master_row(book(61, "新しい鳥")));
    TBook gone = book(62, "新しい犬");
    w->append(Mirel::Dbase::master_row(gone), true);
    w->close();
  }
  const auto in_place = all_hits();
  EXPECT_EQ(inode_of(cache), built);  // updated in place, not replaced
  EXPECT_NE(in_place, before);

  std::filesystem::remove(cache);
  EXPECT_EQ(all_hits(), in_place);
}

INSTANTIATE_TEST_SUITE_P(PendingLimit, IndexBatch, ::testing::Values(size_t{0}, size_t{5}));

// A word of three or more characters is found through the lists of its
// pairs of characters, which also hold records that have each pair apart or
// in another column of the group; their positions decide. Changes made in
// place and then folded into the lists leave every hit list as it was.
TEST(IndexInPlace, LongerWordsAreCheckedAndChangesFold) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  lib.add_book(book(1, "赤い靴の青い鳥"));  // 赤い and い鳥, apart
  lib.add_book(book(2, "赤い鳥"));
  TBook split = book(3, "赤いい");
  split.syokana = "い鳥";  // い鳥 in the reading only
  lib.add_book(split);
  lib.add_book(book(4, "白い鳥"));
  dir.write(lib);
  auto find = [](const char* word) {
    Tmirel_search s;
    s.add_keyword(keyword<Tkw_syomei_ex>(U(word)));
    return hit_numbers(s);
  };
  EXPECT_EQ(find("赤い鳥"), (std::vector<long long>{2}));
  EXPECT_EQ(find("い鳥"), (std::vector<long long>{1, 2, 3, 4}));

  {
    auto w = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
    w->rewrite(0, Mirel::Dbase::master_row(book(1, "赤い鳥の青い靴")));
    w->rewrite(3, Mirel::Dbase::master_row(book(4, "白い犬")));
    w->append(Mirel::Dbase::master_row(book(5, "赤い鳥（改）")));
    w->close();
  }
  const std::vector<std::vector<long long>> expected = {
      {1, 2, 5}, {1, 2, 3, 5}, {1, 2, 3, 4, 5}, {4}, {5}};
  auto all = [&find] {
    return std::vector<std::vector<long long>>{find("赤い鳥"), find("い鳥"), find("い"),
                                               find("犬"), find("改")};
  };
  EXPECT_EQ(all(), expected);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir.lib_dir() + "/mirelweb-cache/master.sqlite").c_str(), &db), SQLITE_OK);
  auto changes = [db] {
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT (SELECT count(*) FROM mw_post_add) + (SELECT count(*) FROM mw_post_del)",
                       -1, &stmt, nullptr);
    const int64_t n = sqlite3_step(stmt) == SQLITE_ROW ? sqlite3_column_int64(stmt, 0) : -1;
    sqlite3_finalize(stmt);
    return n;
  };
  EXPECT_GT(changes(), 0);
  ASSERT_EQ(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), SQLITE_OK);
  detail::fold_changes(db);
  ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(changes(), 0);
  sqlite3_close(db);
  EXPECT_EQ(all(), expected);
}

int64_t pending_changes(const TCatalogueDir& dir) {
  sqlite3* db = nullptr;
  sqlite3_open((dir.lib_dir() + "/mirelweb-cache/master.sqlite").c_str(), &db);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT (SELECT count(*) FROM mw_post_add) + (SELECT count(*) FROM mw_post_del),"
                     " (SELECT changes FROM mw_post_meta)",
                     -1, &stmt, nullptr);
  const bool row = sqlite3_step(stmt) == SQLITE_ROW;
  const int64_t n = row ? sqlite3_column_int64(stmt, 0) : -1;
  // The count kept beside the changes, by which updates decide to fold.
  EXPECT_EQ(row ? sqlite3_column_int64(stmt, 1) : -2, n);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return n;
}

// A record whose bigrams stay but move (a character put in front, a
// repeat added) keeps being found by its longer words where they are now,
// as after a fresh build; moving them back to where the lists' segments
// have them leaves no changes behind.
TEST(IndexInPlace, MovedPositionsFollowChanges) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  const char* titles[] = {"あいう", "いうあいう", "あああ", "うあい"};
  for (int i = 0; i < 4; ++i) lib.add_book(book(i + 1, titles[i]));
  dir.write(lib);
  auto find = [](const char* word) {
    Tmirel_search s;
    s.add_keyword(keyword<Tkw_syomei_ex>(U(word)));
    return hit_numbers(s);
  };
  auto rewrite = [&](int i, const char* title) {
    auto w = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
    w->rewrite(static_cast<uint32_t>(i - 1), Mirel::Dbase::master_row(book(i, title)));
    w->close();
  };
  const char* words[] = {"あいう", "いうあ", "うあい", "ああああ", "あああ", "いうあいう"};
  auto all = [&] {
    std::vector<std::vector<long long>> out;
    for (const char* word : words) out.push_back(find(word));
    return out;
  };
  // There and back: each change cancels the other's entries.
  // (A search builds the cache or brings it up to date.)
  EXPECT_EQ(find("あいう"), (std::vector<long long>{1, 2}));
  rewrite(1, "xあいう");
  rewrite(3, "ああああ");
  EXPECT_EQ(find("あいう"), (std::vector<long long>{1, 2}));
  EXPECT_GT(pending_changes(dir), 0);
  rewrite(1, "あいう");
  rewrite(3, "あああ");
  EXPECT_EQ(find("あいう"), (std::vector<long long>{1, 2}));
  EXPECT_EQ(pending_changes(dir), 0);
  EXPECT_TRUE(find("ああああ").empty());

  rewrite(1, "xあいう");
  rewrite(3, "ああああ");
  rewrite(4, "うあいうあ");
  const std::vector<std::vector<long long>> expected = {
      {1, 2, 4}, {2, 4}, {2, 4}, {3}, {3}, {2}};
  EXPECT_EQ(all(), expected);
  std::filesystem::remove(dir.lib_dir() + "/mirelweb-cache/master.sqlite");
  EXPECT_EQ(all(), expected);
}

// A title changed and then changed back leaves no changes behind: each
// addition of the second change cancels a removal of the first.
TEST(IndexInPlace, AChangeUndoneLeavesNoChanges) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  for (int i = 1; i <= 3; ++i) lib.add_book(book(i, kTitles[i % 5]));
  dir.write(lib);
  auto find = [](const char* word) {
    Tmirel_search s;
    s.add_keyword(keyword<Tkw_syomei_ex>(U(word)));
    return hit_numbers(s);
  };
  auto rewrite = [&](const char* title) {
    auto w = Mirel::Dbase::TTableWriter::open(dir.lib_dir() + "/master.dbf");
    w->rewrite(1, Mirel::Dbase::master_row(book(2, title)));
    w->close();
  };
  auto changes = [&] { return pending_changes(dir); };
  const auto before = find("い");
  rewrite("黒い猫");
  EXPECT_EQ(find("黒い猫"), (std::vector<long long>{2}));
  EXPECT_GT(changes(), 0);
  rewrite(kTitles[2]);
  EXPECT_EQ(find("い"), before);
  EXPECT_TRUE(find("黒い猫").empty());
  EXPECT_EQ(changes(), 0);
}

}  // namespace
}  // namespace Mirelsearch_tlb::testing
