// The recommend and new-arrivals actions inside one module: the busy page
// without any database access, the mutex given back on every path (checked
// while the module still lives, so the process's end cannot hide a leak),
// failures at the action boundary, the new-arrivals settings pass and the
// holder of the new-arrivals range.
#include <gtest/gtest.h>

#include "library/mwnewbook.h"
#include "library/mwrecommenddb.h"
#include "search/mirel_search.h"
#include "tests/web/web_sandbox.h"

using webtest::WebSandbox;
using namespace Mirel;
using namespace Mirel::MirelWeb;

namespace {

const std::string kBusy = "ERROR:データベースアクセスが混雑しています";
const std::string kNotFound = "ERROR:該当書籍は見付かりませんでした";

// A site whose library has `recommended` books 1..n, each recommended.
void write_recommended(const WebSandbox& box, int recommended, const std::string& author = "") {
  Dbase::TLibraryBuilder lib;
  for (int i = 1; i <= recommended; ++i) {
    Dbase::TBook b;
    b.bookid = Dbase::book_id(i);
    b.syomei = "Book " + std::to_string(i);
    b.chosya = author;
    b.ukeire = "20240101";
    lib.add_book(b);
    lib.add_feature(b.bookid);
  }
  box.write_library(lib);
}

class SpecialActions : public ::testing::Test {
 protected:
  void SetUp() override {
    box.write_template("error.html", "ERROR:<#ERR_NAME>");
    box.write_template("listrow.html", "<#BOOKID>;");
  }
  int status() const { return box.response->StatusCode(); }
  WebSandbox box;
};

// ---------------------------------------------------------------- recommend

TEST_F(SpecialActions, RecommendWhileTheMutexIsHeldShowsTheBusyPageWithoutDatabaseAccess) {
  // No tables at all: any database access would fail.
  box.write_template("list.html", "LIST");
  auto& module = box.start("/recommend", "PAGENUM=0&STATUS=1");
  module.mutex_timeout = 0;
  TNamedMutex other(kMirelWebMutexName, box.dir.path());
  ASSERT_TRUE(other.wait(0));
  box.serve();
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(box.body(), kBusy);
  EXPECT_FALSE(module.recommenddb);
  EXPECT_EQ(box.log(), "");
}

TEST_F(SpecialActions, RecommendListIsProducedWhileTheSourceIsOpenAndThenClosed) {
  write_recommended(box, 3);
  box.write_template("list.html", "<#TOTAL_FIND_COUNT>:<#FIND_VALUE_LIST>");
  auto& module = box.start("/recommend", "PAGENUM=0&STATUS=1");
  box.serve();
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(box.body(), "3:0000000001;\r\n0000000002;\r\n0000000003;\r\n");
  ASSERT_TRUE(module.recommenddb);
  // Kept, but closed: neither the query nor the session is still open.
  EXPECT_FALSE(module.recommenddb->close_query());
  EXPECT_FALSE(module.recommenddb->close_database());
  EXPECT_TRUE(box.mutex_is_free());
}

TEST_F(SpecialActions, RecommendWithoutBooksShowsNotFoundAndFreesTheMutex) {
  write_recommended(box, 0);
  box.write_template("list.html", "LIST");
  auto& module = box.start("/recommend", "PAGENUM=0&STATUS=1");
  box.serve();
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(box.body(), kNotFound);
  EXPECT_TRUE(module.recommenddb);
  EXPECT_TRUE(box.mutex_is_free());
  EXPECT_EQ(box.log(), "");
}

TEST_F(SpecialActions, RecommendFailuresAreLoggedAndFreeTheMutex) {
  struct Case {
    const char* name;
    bool tables;
    const char* list;
  };
  const Case cases[] = {
      // The query cannot be opened: no tables behind the alias.
      {"open", false, "LIST"},
      // A tag fails while the page is produced: rows 0 leaves no page count.
      {"tag", true, "<#SETUP rows=0><#PAGE_LIST>"},
      // The list template is missing.
      {"template", true, nullptr},
  };
  for (const Case& c : cases) {
    WebSandbox box;
    box.write_template("error.html", "ERROR:<#ERR_NAME>");
    if (c.tables) write_recommended(box, 2);
    if (c.list) box.write_template("list.html", c.list);
    box.start("/recommend", "PAGENUM=0&STATUS=1");
    box.serve();
    EXPECT_EQ(box.response->StatusCode(), 500) << c.name;
    EXPECT_TRUE(box.mutex_is_free()) << c.name;
    const std::string log = box.log();
    EXPECT_NE(log.find("[client 192.0.2.9]"), std::string::npos) << c.name << log;
  }
}

TEST_F(SpecialActions, AuthorLinkKeyKeepsTheLowEightBitsOfTheSetting) {
  // 50 characters; author_link_chars=300 is 44.
  const std::string author = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwx";
  write_recommended(box, 1, author);
  box.write_template("list.html", "<#SETUP author_link_chars=300><#FIND_VALUE_LIST>");
  box.write_template("listrow.html", "<#CHOSYA>");
  box.start("/recommend", "PAGENUM=0&STATUS=1");
  box.serve();
  EXPECT_EQ(box.body(), "<a href=\"http://lib.example/cgi-bin/mirelweb/list?PAGENUM=0&CHOSYA=" +
                            author.substr(0, 44) + "\" class=\"chosya\">" + author + "</a>\r\n");
}

// ---------------------------------------------------------------- new arrivals

TEST_F(SpecialActions, NewbookSettingsPass) {
  struct Case {
    const char* list;
    bool has_range;
    int32_t type;
    int32_t count;
    const char* content = "";  // what is left of `list` after the pass
  };
  const Case cases[] = {
      {"<#SETUP newbook_typeid=2 newbook_range=14>", true, 2, 14},
      {"<#SETUP NEWBOOK_TYPEID=3 Newbook_Range=50>", true, 3, 50},
      {"<#SETUP newbook_typeid=1>", true, 1, -1},
      {"<#SETUP newbook_typeid=1 newbook_range=x>", true, 1, -1},
      // Kind 0 whatever the width; other kinds become 0.
      {"<#SETUP newbook_range=5>", true, 0, 0},
      {"<#SETUP newbook_typeid=9 newbook_range=5>", true, 0, 0},
      {"<#SETUP newbook_typeid=-1 newbook_range=5>", true, 0, 0},
      // The last SETUP decides, with its own defaults.
      {"<#SETUP newbook_typeid=3 newbook_range=50><#SETUP newbook_typeid=1>", true, 1, -1},
      {"<#setup newbook_typeid=1 newbook_range=3><#FIND_VALUE_LIST>", false, 0, 0},
      {"no tags", false, 0, 0, "no tags"},
  };
  for (const Case& c : cases) {
    box.write_template("list.html", std::string("a<#X>") + c.list + "b");
    auto& module = box.start("/newbook", "PAGENUM=0&STATUS=2");
    module.newbook = std::make_shared<Tmwnewbook>();
    module.NewBookProducer.SetHTMLFile(module.path->html_path + u"list.html");
    // Every tag, SETUP included, becomes nothing.
    EXPECT_EQ(to_utf8(module.NewBookProducer.Content()), std::string("a") + c.content + "b") << c.list;
    ASSERT_EQ(module.newbook->has_range(), c.has_range) << c.list;
    if (!c.has_range) continue;
    EXPECT_EQ(module.newbook->range_type(), c.type) << c.list;
    EXPECT_EQ(module.newbook->range()->count(), c.count) << c.list;
  }
}

TEST_F(SpecialActions, NewbookWithoutSetupFailsBeforeSearching) {
  write_recommended(box, 1);
  box.write_template("list.html", "<#FIND_VALUE_LIST>");
  auto& module = box.start("/newbook", "PAGENUM=0&STATUS=2");
  box.serve();
  EXPECT_EQ(status(), 500);
  EXPECT_FALSE(module.search);
  const std::string log = box.log();
  EXPECT_NE(log.find("list.html に SETUP タグ（newbook_typeid と newbook_range）がありません"),
            std::string::npos)
      << log;
  EXPECT_TRUE(box.mutex_is_free());
}

TEST_F(SpecialActions, NewbookRangeFetchWhileTheMutexIsHeldShowsTheBusyPage) {
  box.write_template("list.html", "<#SETUP newbook_typeid=1 newbook_range=3>LIST");
  auto& module = box.start("/newbook", "PAGENUM=0&STATUS=2");
  module.mutex_timeout = 0;
  TNamedMutex other(kMirelWebMutexName, box.dir.path());
  ASSERT_TRUE(other.wait(0));
  box.serve();
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(box.body(), kBusy);
  EXPECT_FALSE(module.search);
  EXPECT_EQ(box.log(), "");
}

TEST_F(SpecialActions, NewbookSearchesTheFetchedRangeNewestFirstAndFreesTheMutex) {
  write_recommended(box, 5);  // ids 1..5, one accession date
  box.write_template("list.html",
                     "<#SETUP newbook_typeid=3 newbook_range=2 newbook_caption=新着><#QUERY_KEY_LIST>"
                     "<#FIND_VALUE_LIST>");
  auto& module = box.start("/newbook", "PAGENUM=0&STATUS=2");
  box.serve();
  EXPECT_EQ(status(), 200);
  EXPECT_EQ(box.body(), "<span class=\"query_key\">新着</span>0000000005;\r\n0000000004;\r\n");
  ASSERT_TRUE(module.newbook);
  EXPECT_EQ(module.newbook->lower(), u"0000000004");
  EXPECT_EQ(module.newbook->upper(), u"0000000005");
  EXPECT_TRUE(box.mutex_is_free());
}

// ---------------------------------------------------------------- the holder

TEST(Mwnewbook, RangeKinds) {
  struct Case {
    int32_t requested;
    int32_t type;
    const char16_t* field;  // empty for the calendar kind
    bool calendar;
  };
  const Case cases[] = {
      {1, 1, u"MS_UKEIRE", false}, {2, 2, u"", true},          {3, 3, u"MS_BOOKID", false},
      {0, 0, u"MS_UKEIRE", false}, {4, 0, u"MS_UKEIRE", false}, {-2, 0, u"MS_UKEIRE", false},
  };
  for (const Case& c : cases) {
    Tmwnewbook holder;
    holder.set_type(c.requested);
    EXPECT_EQ(holder.range_type(), c.type) << c.requested;
    ASSERT_TRUE(holder.has_range());
    EXPECT_EQ(holder.range()->field_name(), c.field) << c.requested;
    EXPECT_EQ(dynamic_cast<Tmwrange_ukeire_day*>(holder.range().get()) != nullptr, c.calendar);
    EXPECT_EQ(holder.range()->count(), 0);
    holder.set_range_size(7);
    EXPECT_EQ(holder.range()->count(), c.type == 0 ? 0 : 7) << c.requested;
  }
}

TEST(Mwnewbook, SetTypeReplacesTheRange) {
  Tmwnewbook holder;
  holder.set_type(1);
  holder.set_range_size(5);
  const auto first = holder.range();
  holder.set_type(1);
  EXPECT_NE(holder.range(), first);
  EXPECT_EQ(holder.range()->count(), 0);
}

TEST(Mwnewbook, WithoutARangeNothingCanBeRead) {
  Tmwnewbook holder;
  EXPECT_EQ(holder.caption(), u"");
  EXPECT_EQ(holder.range_type(), 0);
  EXPECT_FALSE(holder.has_range());
  holder.set_range_size(3);  // no effect, no failure
  EXPECT_FALSE(holder.has_range());
  EXPECT_THROW(holder.lower(), Exception);
  EXPECT_THROW(holder.upper(), Exception);
  EXPECT_THROW(holder.fetch(0, u"", u""), Exception);
}

TEST(Mwnewbook, CalendarRangeEndsToday) {
  Tmwnewbook holder;
  holder.set_type(2);
  holder.set_range_size(1);
  holder.fetch(0, u"", u"NoSuchAlias");  // neither the mutex nor the database
  EXPECT_EQ(holder.lower(), holder.upper());
  EXPECT_EQ(holder.upper().size(), 8u);
}

}  // namespace
