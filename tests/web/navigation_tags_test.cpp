// SETUP and the navigation links of every page: the settings a template
// gives, how a later SETUP resets what it leaves out, and the exact links
// to the top page, the recommended books and the new arrivals.
#include <gtest/gtest.h>

#include "library/mwnewbook.h"
#include "tests/web/web_sandbox.h"

using webtest::WebSandbox;

namespace {

const std::string kHome = "http://lib.example/cgi-bin/mirelweb";

TEST(NavigationTags, LinkTexts) {
  struct Case {
    const char* page;
    std::string expected;
  };
  const Case cases[] = {
      {"<#MIRELWEB>", "<a href=\"" + kHome + "\" class=\"mirelweb_title\">MIREL WEB</a>"},
      {"<#BACK_TO_HOME caption=トップへ>", "<a href=\"" + kHome + "\" class=\"back_to_home\">トップへ</a>"},
      {"<#BACK_TO_HOME>", "<a href=\"" + kHome + "\" class=\"back_to_home\"></a>"},
      // Before any SETUP the captions are empty.
      {"<#RECOMMEND>",
       "<a href=\"" + kHome + "/recommend?PAGENUM=0&STATUS=1\" class=\"recommend\"></a>"},
      {"<#NEWBOOK>", "<a href=\"" + kHome + "/newbook?PAGENUM=0&STATUS=2\" class=\"newbook\"></a>"},
      {"<#SETUP recommend_caption=おすすめ newbook_caption=新着図書><#RECOMMEND>|<#NEWBOOK>",
       "<a href=\"" + kHome + "/recommend?PAGENUM=0&STATUS=1\" class=\"recommend\">おすすめ</a>|"
       "<a href=\"" + kHome + "/newbook?PAGENUM=0&STATUS=2\" class=\"newbook\">新着図書</a>"},
      // Captions are the library's own markup and stay as written.
      {"<#SETUP recommend_caption=\"<b>本</b>\"><#RECOMMEND>",
       "<a href=\"" + kHome + "/recommend?PAGENUM=0&STATUS=1\" class=\"recommend\"><b>本</b></a>"},
      // Tag names are exact: a lower-case name is nobody's tag.
      {"[<#mirelweb>]", "[]"},
  };
  for (const Case& c : cases) {
    WebSandbox box;
    box.start("/");
    EXPECT_EQ(box.produce(c.page), c.expected) << c.page;
  }
}

TEST(NavigationTags, SetupValues) {
  struct Case {
    const char* page;
    int32_t rows;
    int author_link_chars;
  };
  const Case cases[] = {
      {"<#SETUP rows=10>", 10, 6},
      {"<#SETUP ROWS=15>", 15, 6},
      {"<#SETUP rows=x author_link_chars=>", 20, 6},
      {"<#SETUP rows=0>", 0, 6},
      {"<#SETUP author_link_chars=300>", 20, 44},
      {"<#SETUP author_link_chars=-1>", 20, 255},
      {"<#SETUP author_link_chars=$10>", 20, 16},
  };
  for (const Case& c : cases) {
    WebSandbox box;
    auto& module = box.start("/");
    EXPECT_EQ(box.produce(std::string("[") + c.page + "]"), "[]") << c.page;
    EXPECT_EQ(module.setup->rows, c.rows) << c.page;
    EXPECT_EQ(module.setup->author_link_chars, c.author_link_chars) << c.page;
  }
}

TEST(NavigationTags, EachSetupAppliesFromItsPositionAndResetsWhatItOmits) {
  WebSandbox box;
  auto& module = box.start("/");
  const std::string page = box.produce(
      "<#SETUP rows=5 author_link_chars=3 recommend_caption=A newbook_caption=N>"
      "<#RECOMMEND>|<#NEWBOOK>|<#SETUP rows=10><#RECOMMEND>|<#NEWBOOK>");
  const std::string rec = "<a href=\"" + kHome + "/recommend?PAGENUM=0&STATUS=1\" class=\"recommend\">";
  const std::string nb = "<a href=\"" + kHome + "/newbook?PAGENUM=0&STATUS=2\" class=\"newbook\">";
  // The second tag empties the recommend caption but leaves the
  // new-arrivals caption alone.
  EXPECT_EQ(page, rec + "A</a>|" + nb + "N</a>|" + rec + "</a>|" + nb + "N</a>");
  EXPECT_EQ(module.setup->rows, 10);
  EXPECT_EQ(module.setup->author_link_chars, 6);
  EXPECT_EQ(module.recommend_caption, u"");
  ASSERT_TRUE(module.newbook);
  EXPECT_EQ(module.newbook->caption(), u"N");
}

TEST(NavigationTags, NewbookCaptionKeepsAnExistingHolder) {
  WebSandbox box;
  auto& module = box.start("/");
  auto holder = std::make_shared<Mirel::MirelWeb::Tmwnewbook>();
  holder->set_type(3);
  module.newbook = holder;
  box.produce("<#SETUP newbook_caption=新着>");
  EXPECT_EQ(module.newbook, holder);
  EXPECT_EQ(holder->caption(), u"新着");
  EXPECT_EQ(holder->range_type(), 3);
  // An empty caption changes nothing.
  box.produce("<#SETUP newbook_caption=>");
  EXPECT_EQ(holder->caption(), u"新着");
}

TEST(NavigationTags, NoHolderIsCreatedWithoutACaption) {
  WebSandbox box;
  auto& module = box.start("/");
  box.produce("<#SETUP rows=3><#NEWBOOK>");
  EXPECT_FALSE(module.newbook);
}

}  // namespace
