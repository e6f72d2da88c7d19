#include "library/mwrecommenddb.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dbase/library_builder.h"
#include "library_dir.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;
using Mirel::Dbase::book_id;

namespace {

// Everything the accessors say about the current row, for comparing rows.
struct Row {
  std::string bookid, seikyu, syomei, chosya, syokana, chokana, syupan, syunen, isbn, page,
      ookisa, kenmei, naiyo, ukeire, memo, syozai_code, syozai_name, kkubun_code, kkubun_name;
  int32_t kingaku = 0;
  bool kasidasi = false, fumei = false;
  bool operator==(const Row&) const = default;
};

Row current(Tmwrecommenddb& db) {
  Row r;
  r.bookid = to_utf8(db.bookid());
  r.seikyu = to_utf8(db.seikyu());
  r.syomei = to_utf8(db.syomei());
  r.chosya = to_utf8(db.chosya());
  r.syokana = to_utf8(db.syokana());
  r.chokana = to_utf8(db.chokana());
  r.syupan = to_utf8(db.syupan());
  r.syunen = to_utf8(db.syunen());
  r.isbn = to_utf8(db.isbn());
  r.page = to_utf8(db.page());
  r.ookisa = to_utf8(db.ookisa());
  r.kenmei = to_utf8(db.kenmei());
  r.naiyo = to_utf8(db.naiyo());
  r.ukeire = to_utf8(db.ukeire());
  r.memo = to_utf8(db.memo());
  r.syozai_code = to_utf8(db.syozai()->get_code());
  r.syozai_name = to_utf8(db.syozai()->get_Value());
  r.kkubun_code = to_utf8(db.kkubun()->get_code());
  r.kkubun_name = to_utf8(db.kkubun()->get_name());
  r.kingaku = db.kingaku();
  r.kasidasi = db.is_kasidasi();
  r.fumei = db.is_fumei();
  return r;
}

// Opens the source as the recommend action does.
void open(Tmwrecommenddb& db) {
  db.open_database(u"");
  db.open_query(u"");
}

std::vector<Row> all_rows(Tmwrecommenddb& db) {
  std::vector<Row> rows;
  for (; !db.is_eof(); db.next()) rows.push_back(current(db));
  return rows;
}

std::vector<std::string> ids_of(const std::vector<Row>& rows) {
  std::vector<std::string> ids;
  for (const Row& r : rows) ids.push_back(r.bookid);
  std::sort(ids.begin(), ids.end());
  return ids;
}

TBook book(int n) {
  TBook b;
  b.bookid = book_id(n);
  b.syomei = "本" + std::to_string(n);
  b.ukeire = "20240101";
  return b;
}

}  // namespace

TEST(RecommendSource, QueryTextIsTheLibraryQuery) {
  const UnicodeString sql = kRecommendSql;
  EXPECT_EQ(sql.substr(0, 20), u"select     MS_BOOKID");
  EXPECT_TRUE(sql.ends_with(u"FT_BOOKID from     feature.dbf     left join master.dbf"
                            u" on FT_BOOKID = MS_BOOKID     left join fukuhon.dbf"
                            u" on MS_BOOKID = FK_FUKUID     left join skubun.dbf"
                            u" on MS_SKUBUN = SK_SKUBUN     left join kkubun.dbf"
                            u" on MS_KKUBUN = KK_KKUBUN     left join kounyu.dbf"
                            u" on MS_KOUNYU = KO_CODE     left join himoku.dbf"
                            u" on MS_HIMOKU = HI_CODE     left join syozai.dbf"
                            u" on MS_SYOZAI = SY_CODE     left join kasidasi.dbf"
                            u" on MS_BOOKID = KA_BOOKID     left join yoyaku.dbf"
                            u" on MS_BOOKID = YO_BOOKID where     MS_BOOKID IS NOT NULL "));
  size_t columns = 1, joins = 0;
  for (size_t at = 0; (at = sql.find(u",     ", at)) != UnicodeString::npos; ++at) ++columns;
  for (size_t at = 0; (at = sql.find(u"     left join ", at)) != UnicodeString::npos; ++at) ++joins;
  EXPECT_EQ(columns, 36u);
  EXPECT_EQ(joins, 9u);
}

TEST(RecommendSource, ReadsTheRecommendedBooksWithTheirData) {
  LibraryDir lib;
  TLibraryBuilder builder;
  TBook full = book(1);
  full.seikyu = "913.6/ナ";
  full.syomei = "吾輩は猫である";
  full.syokana = "ワガハイハネコデアル";
  full.chosya = "夏目漱石";
  full.chokana = "ナツメソウセキ";
  full.syupan = "岩波書店";
  full.syunen = "1990";
  full.isbn = "4-00-310101-4";
  full.page = "254p";
  full.ookisa = "15cm";
  full.kenmei = "小説";
  full.naiyo = "猫の目から見た人間";
  full.ukeire = "20240401";
  full.memo = "寄贈本";
  full.kingaku = "1500";
  full.syozai = "002";
  full.kkubun = "02";
  full.tzenkai = "20231201";
  builder.add_book(full);
  TBook bare = book(2);  // nothing but id, title and date
  bare.syozai = "";
  bare.kkubun = "";
  builder.add_book(bare);
  builder.add_book(book(3));  // not recommended
  builder.add_feature(book_id(2)).add_feature(book_id(1)).add_feature(book_id(99));
  builder.add_loan(book_id(1), "20240420");
  builder.write(lib.data());

  Tmwrecommenddb db;
  open(db);
  EXPECT_EQ(db.record_count(), 2) << "the identifier without a master record is dropped";
  std::vector<Row> rows = all_rows(db);
  std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.bookid < b.bookid; });
  ASSERT_EQ(rows.size(), 2u);

  Row expected_full{book_id(1), "913.6/ナ", "吾輩は猫である", "夏目漱石", "ワガハイハネコデアル",
                    "ナツメソウセキ", "岩波書店", "1990", "4-00-310101-4", "254p", "15cm", "小説",
                    "猫の目から見た人間", "20240401", "寄贈本", "002", "児童書架", "02", "禁帯出"};
  expected_full.kingaku = 1500;
  expected_full.kasidasi = true;
  EXPECT_EQ(rows[0], expected_full);

  Row expected_bare;
  expected_bare.bookid = book_id(2);
  expected_bare.syomei = "本2";
  expected_bare.ukeire = "20240101";
  EXPECT_EQ(rows[1], expected_bare) << "blank fields read as empty text and a price of 0";
  db.close_query();
  db.close_database();
}

TEST(RecommendSource, OneRowPerMatchingJoinedRow) {
  LibraryDir lib;
  TLibraryBuilder builder;
  builder.add_book(book(1)).add_book(book(2));
  builder.add_feature(book_id(1)).add_feature(book_id(2));
  builder.add_reservation(book_id(1), "20240301", "u1", 1);
  builder.add_reservation(book_id(1), "20240302", "u2", 2);
  builder.write(lib.data());

  Tmwrecommenddb db;
  open(db);
  EXPECT_EQ(db.record_count(), 3);
  EXPECT_EQ(ids_of(all_rows(db)), (std::vector<std::string>{book_id(1), book_id(1), book_id(2)}));
}

TEST(RecommendSource, LendingAndMissingStatus) {
  struct Case { const char* tzenkai; const char* tfmsuu; const char* hdate; bool fumei, kasidasi; };
  const Case cases[] = {
      {"20231201", "2", "", false, false},   // found at the last stocktaking
      {"20231201", "", "", false, false},
      {"", "1", "", true, false},            // missed, never found since
      {"", "", "", false, false},            // never checked
      {"", "", "20240420", false, true},     // on loan
      {"", "", nullptr, false, false},       // never lent
  };
  LibraryDir lib;
  TLibraryBuilder builder;
  int n = 0;
  for (const Case& c : cases) {
    TBook b = book(++n);
    b.tzenkai = c.tzenkai;
    b.tfmsuu = c.tfmsuu;
    builder.add_book(b).add_feature(b.bookid);
    if (c.hdate) builder.add_loan(b.bookid, c.hdate);  // "" is a returned loan
  }
  builder.write(lib.data());

  Tmwrecommenddb db;
  open(db);
  std::map<std::string, Row> by_id;
  for (const Row& r : all_rows(db)) by_id[r.bookid] = r;
  ASSERT_EQ(by_id.size(), std::size(cases));
  n = 0;
  for (const Case& c : cases) {
    const Row& r = by_id[book_id(++n)];
    EXPECT_EQ(r.fumei, c.fumei) << n;
    EXPECT_EQ(r.kasidasi, c.kasidasi) << n;
  }
}

TEST(RecommendSource, MoveByAdvancesByTheMagnitude) {
  LibraryDir lib;
  TLibraryBuilder builder;
  for (int n = 1; n <= 5; ++n) builder.add_book(book(n)).add_feature(book_id(n));
  builder.write(lib.data());

  Tmwrecommenddb db;
  open(db);
  std::vector<std::string> order;
  for (const Row& r : all_rows(db)) order.push_back(r.bookid);
  ASSERT_EQ(order.size(), 5u);

  db.open_query(u"");  // runs again from the first row
  EXPECT_EQ(db.move_by(-3), 3);
  EXPECT_EQ(to_utf8(db.bookid()), order[3]);
  EXPECT_EQ(db.move_by(0), 0);
  EXPECT_EQ(to_utf8(db.bookid()), order[3]);
  EXPECT_EQ(db.move_by(-1), 1);
  EXPECT_FALSE(db.is_eof()) << "on the last row";
  EXPECT_EQ(db.move_by(INT32_MIN), 0) << "nothing left to pass";
  EXPECT_TRUE(db.is_eof());
  EXPECT_EQ(to_utf8(db.bookid()), order[4]) << "the cursor stays on the last row";

  db.open_query(u"");
  EXPECT_EQ(db.move_by(10), 4) << "stops on the last row";
  EXPECT_EQ(to_utf8(db.bookid()), order[4]);
}

TEST(RecommendSource, CodeObjectsAreReusedAcrossRows) {
  LibraryDir lib;
  TLibraryBuilder builder;
  TBook a = book(1), b = book(2);
  a.kkubun = "01";
  a.syozai = "001";
  b.kkubun = "04";
  b.syozai = "009";  // a location code without a name
  builder.add_book(a).add_book(b).add_feature(a.bookid).add_feature(b.bookid);
  builder.write(lib.data());

  Tmwrecommenddb db;
  open(db);
  auto first_kkubun = db.kkubun();
  auto first_syozai = db.syozai();
  const UnicodeString first_code = first_kkubun->get_code();
  db.next();
  auto second_kkubun = db.kkubun();
  auto second_syozai = db.syozai();
  EXPECT_EQ(first_kkubun.get(), second_kkubun.get());
  EXPECT_EQ(first_syozai.get(), second_syozai.get());
  EXPECT_NE(first_kkubun->get_code(), first_code) << "the kept object shows the second row";

  std::map<UnicodeString, std::pair<UnicodeString, bool>> kkubun_of;
  std::map<UnicodeString, std::pair<UnicodeString, UnicodeString>> syozai_of;
  db.open_query(u"");
  for (; !db.is_eof(); db.next()) {
    kkubun_of[db.bookid()] = {db.kkubun()->get_name(), db.kkubun()->get_is_kinsi()};
    syozai_of[db.bookid()] = {db.syozai()->get_code(), db.syozai()->get_Value()};
  }
  EXPECT_EQ(kkubun_of[from_utf8(a.bookid)], std::make_pair(UnicodeString(u"一般"), false));
  EXPECT_EQ(kkubun_of[from_utf8(b.bookid)], std::make_pair(UnicodeString(u"貸出禁止"), true));
  EXPECT_EQ(syozai_of[from_utf8(a.bookid)],
            std::make_pair(UnicodeString(u"001"), UnicodeString(u"一般書架")));
  EXPECT_EQ(syozai_of[from_utf8(b.bookid)], std::make_pair(UnicodeString(u"009"), UnicodeString()));
}

TEST(RecommendSource, NoRecommendedBooks) {
  struct Case { const char* name; std::vector<int> features; };
  const Case cases[] = {
      {"empty feature table", {}},
      {"only identifiers without a master record", {98, 99}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LibraryDir lib;
    TLibraryBuilder builder;
    builder.add_book(book(1));
    for (int id : c.features) builder.add_feature(book_id(id));
    builder.write(lib.data());
    Tmwrecommenddb db;
    open(db);
    EXPECT_EQ(db.record_count(), 0);
    EXPECT_TRUE(db.is_eof());
  }
}

TEST(RecommendSource, OpenAndCloseReportThePreviousState) {
  LibraryDir lib;
  TLibraryBuilder builder;
  builder.add_book(book(1)).add_book(book(2)).add_feature(book_id(1)).add_feature(book_id(2));
  builder.write(lib.data());

  Tmwrecommenddb db;
  EXPECT_FALSE(db.close_query());
  EXPECT_FALSE(db.close_database());
  EXPECT_FALSE(db.open_database(u""));
  EXPECT_TRUE(db.open_database(u""));
  EXPECT_FALSE(db.open_query(u"Other"));
  db.next();
  EXPECT_TRUE(db.open_query(u"")) << "a second open runs the query again";
  EXPECT_EQ(db.record_count(), 2);
  EXPECT_FALSE(db.is_eof());
  EXPECT_TRUE(db.close_query());
  EXPECT_FALSE(db.close_query());
  EXPECT_TRUE(db.close_database());
  EXPECT_FALSE(db.close_database());
}

TEST(RecommendSource, EngineFailuresReachTheCaller) {
  LibraryDir lib;
  TLibraryBuilder builder;
  builder.add_book(book(1)).add_feature(book_id(1));
  builder.write(lib.data());
  {
    Tmwrecommenddb db;
    db.open_database(u"");
    EXPECT_THROW(db.open_query(u"NoSuchAlias"), Database::EDatabaseError);
  }  // the destructor closes what is open and does not throw
  std::filesystem::remove(lib.data() + "yoyaku.dbf");
  Tmwrecommenddb db;
  db.open_database(u"");
  EXPECT_THROW(db.open_query(u""), Database::EDatabaseError);
}

// The files this process has open.
size_t open_files() {
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                           std::filesystem::directory_iterator()));
}

// The destructor closes an open source: nothing of it stays open.
TEST(RecommendSource, DestroyedWhileOpen) {
  LibraryDir lib;
  TLibraryBuilder builder;
  builder.add_book(book(1)).add_feature(book_id(1));
  builder.write(lib.data());
  const size_t before = open_files();
  auto db = std::make_unique<Tmwrecommenddb>();
  open(*db);
  EXPECT_EQ(db->record_count(), 1);
  ASSERT_GT(open_files(), before) << "an open source holds files";
  db.reset();
  EXPECT_EQ(open_files(), before);
}
