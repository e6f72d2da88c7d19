// The tags that show a book beyond its fields (ISBN13, ISBN10,
// KASIDASI_DUE, YOYAKU_COUNT, SKUBUN, UKEIRE format=, escape=) and the
// list captions (FIRST_HIT, LAST_HIT, LIST_KIND, ORDER_CAPTION), run by the
// program over a catalogue of its own written by the project's dBASE
// builder.
#include <gtest/gtest.h>

#include "catalogue_site.h"
#include "dbase/library_builder.h"

using mwtest::CatalogueSite;
using mwtest::cp932;
using Mirel::Dbase::book_id;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;

namespace {

struct Fixture {
  const char* title;
  const char* isbn;
  const char* skubun;
  const char* due;  // loan due date, "" for a returned loan, nullptr for none
  int reservations;
};

// Books 1..7 in this order.
const Fixture kBooks[] = {
    {"Book valid thirteen", "978-4-00-310101-8", "01", "20240420", 2},
    {"Book valid ten", "4-10-101001-3", "04", "", 0},
    {"Book no isbn", "", "03", nullptr, 1},
    {"Book wrong check digit", "4-00-000000-0", "01", nullptr, 0},
    {"Book prefix 979", "979-10-0000-001-5", "01", nullptr, 0},
    {"Book check X", "ISBN4-10-101003-X", "01", nullptr, 0},
    {"Book Tom & Jerry <1> \"q\" 'a'", "978410101００１４", "99", nullptr, 0},
};

class HoldingTagsE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    TLibraryBuilder lib;
    int i = 0;
    for (const Fixture& f : kBooks) {
      TBook b;
      b.bookid = book_id(++i);
      b.syomei = f.title;
      b.chosya = "Ann & <Bob>";
      b.isbn = f.isbn;
      b.skubun = f.skubun;
      b.ukeire = i == 1 ? "20030114" : "";
      lib.add_book(b);
      if (f.due) lib.add_loan(b.bookid, f.due);
      for (int r = 0; r < f.reservations; ++r) lib.add_reservation(b.bookid, "20240401", "U" + std::to_string(r), r + 1);
    }
    lib.write(site.box.dir() + "data");
    site.write_template("page_.html",
                        "<#ISBN13>|<#ISBN10>|<#KASIDASI_DUE>|<#YOYAKU_COUNT>|<#SKUBUN>|"
                        "<#UKEIRE format=ja>");
  }
  CatalogueSite site;
};

TEST_F(HoldingTagsE2E, DetailPageOfEachBook) {
  const char* const expected[] = {
      "9784003101018|4003101014|2024年4月20日|2|図書|2003年1月14日",
      // A returned loan is no loan; 紙芝居 from skubun.dbf.
      "9784101010014|4101010013||0|紙芝居|---",
      // Not on loan, one reservation.
      "|||1|視聴覚資料|---",
      "|||0|図書|---",
      // A 979 ISBN has no ISBN-10.
      "9791000000015|||0|図書|---",
      "9784101010038|410101003X||0|図書|---",
      // Full-width digits count; an unknown material code has no name.
      "9784101010014|4101010013||0||---",
  };
  for (int i = 0; i < 7; ++i) {
    const auto r = site.get("/data", "BOOKID=" + book_id(i + 1));
    EXPECT_EQ(r.status(), "200 OK");
    EXPECT_EQ(r.body(), cp932(expected[i])) << "book " << i + 1;
  }
}

TEST_F(HoldingTagsE2E, EscapeParameterOnFieldTags) {
  site.write_template("page_.html",
                      "<#SYOMEI>\n<#SYOMEI escape=html>\n<#SYOMEI escape=attr>\n<#SYOMEI escape=url>\n"
                      "<#SYOMEI escape=json>\n<#SYOMEI escape=XML>\n<#KASIDASI escape=html>\n<#ISBN13 escape=url>");
  const auto r = site.get("/data", "BOOKID=" + book_id(7));
  EXPECT_EQ(r.body(), cp932("Book Tom & Jerry <1> \"q\" 'a'\n"
                            "Book Tom &amp; Jerry &lt;1&gt; &quot;q&quot; &#39;a&#39;\n"
                            "Book Tom &amp; Jerry &lt;1&gt; &quot;q&quot; &#39;a&#39;\n"
                            "Book%20Tom%20%26%20Jerry%20%3C1%3E%20%22q%22%20%27a%27\n"
                            "Book Tom \\u0026 Jerry \\u003c1\\u003e \\\"q\\\" 'a'\n"
                            "Book Tom &amp; Jerry &lt;1&gt; &quot;q&quot; &#39;a&#39;\n"
                            "<div class=\"enabled\">貸出可</div>\n"
                            "9784101010014"));
}

TEST_F(HoldingTagsE2E, UnknownEscapeFailsTheTagWithItsName) {
  site.write_template("page_.html", "<#SYOMEI escape=sql>");
  const auto r = site.get("/data", "BOOKID=" + book_id(1));
  EXPECT_EQ(r.status().substr(0, 3), "500");
  const auto lines = site.log_lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find(cp932("escape=sql")), std::string::npos);
}

TEST_F(HoldingTagsE2E, RowAuthorWithEscapeIsPlainText) {
  site.write_template("list.html", "<#FIND_VALUE_LIST>");
  site.write_template("listrow.html", "[<#CHOSYA escape=attr>]");
  const auto r = site.get("/list", "SYOMEI=jerry");
  EXPECT_EQ(r.body(), "[Ann &amp; &lt;Bob&gt;]\r\n");
}

TEST_F(HoldingTagsE2E, HitNumbersOfEachPage) {
  site.write_template("list.html", "<#SETUP rows=3><#FIRST_HIT>-<#LAST_HIT>/<#TOTAL_FIND_COUNT>");
  const struct {
    int pagenum;
    const char* expected;
  } cases[] = {{0, "1-3/7"}, {1, "4-6/7"}, {2, "7-7/7"}, {3, "-/7"}};
  for (const auto& c : cases)
    EXPECT_EQ(site.get("/list", "SYOMEI=book&PAGENUM=" + std::to_string(c.pagenum)).body(), c.expected)
        << c.pagenum;
}

TEST_F(HoldingTagsE2E, ListKindAndOrderCaption) {
  site.write_template("list.html", "<#LIST_KIND>|<#ORDER_CAPTION>|<#LIST_KIND format=id>");
  const struct {
    const char* query;
    const char* expected;
  } cases[] = {
      {"SYOMEI=book", "検索結果|登録番号順|search"},
      {"SYOMEI=book&ORDER=MS_UKEIRE&ORDERKIND=DESC", "検索結果|新しく入った順|search"},
      {"SYOMEI=book&ORDER=ms_syunen&ORDERKIND=DESC", "検索結果|出版年の新しい順|search"},
      {"SYOMEI=book&ORDER=MS_SYOKANA", "検索結果|書名順|search"},
      // ORDERKIND alone sorts nothing; desc is not DESC.
      {"SYOMEI=book&ORDERKIND=DESC", "検索結果|登録番号順|search"},
      {"SYOMEI=book&ORDER=MS_CHOKANA&ORDERKIND=desc", "検索結果|著者名順|search"},
      {"SYOMEI=book&ORDER=MS_PAGE&ORDERKIND=DESC", "検索結果|指定の項目の逆順|search"},
      // The list a detail page came from is named by STATUS.
      {"SYOMEI=book&STATUS=2", "新着資料|新しく入った順|newbook"},
      {"SYOMEI=book&STATUS=1", "司書のおすすめ|おすすめ順|recommend"},
  };
  for (const auto& c : cases) EXPECT_EQ(site.get("/list", c.query).body(), cp932(c.expected)) << c.query;
}

}  // namespace
