// The detail page and the rows that lead to it: every record field with
// "---" for the empty ones, the lending status, the way from a result row to
// the detail page and back to the same list page, and the author link.
#include <gtest/gtest.h>

#include "catalogue_site.h"

using mwtest::CatalogueSite;
using mwtest::cp932;
using mwtest::kBase;
using mwtest::list_query;

namespace {

const char* const kDetailTemplate =
    "BOOKID=<#BOOKID>\nSYOMEI=<#SYOMEI>\nSYOKANA=<#SYOKANA>\nCHOSYA=<#CHOSYA>\n"
    "CHOKANA=<#CHOKANA>\nSYUPAN=<#SYUPAN>\nKINGAKU=<#KINGAKU>\nSYUNEN=<#SYUNEN>\n"
    "ISBN=<#ISBN>\nSYOZAI=<#SYOZAI>\nPAGE=<#PAGE>\nOOKISA=<#OOKISA>\nSEIKYU=<#SEIKYU>\n"
    "NDC=<#NDC>\nKENMEI=<#KENMEI>\nNAIYO=<#NAIYO>\nUKEIRE=<#UKEIRE>\nMEMO=<#MEMO>\n"
    "KASIDASI=<#KASIDASI>\nMARK=<#KASIDASI_MARK>\n";

class DetailE2E : public ::testing::Test {
 protected:
  void SetUp() override { site.write_template("page_.html", kDetailTemplate); }
  CatalogueSite site;
};

TEST_F(DetailE2E, FullRecord) {
  const auto r = site.get("/data", "BOOKID=0000000086");
  EXPECT_EQ(r.status(), "200 OK");
  EXPECT_EQ(r.body(), cp932("BOOKID=0000000086\nSYOMEI=Bird watching\nSYOKANA=バードウォッチング\n"
                            "CHOSYA=芥川龍之介全集編\nCHOKANA=アクタガワ\nSYUPAN=山河書房\n"
                            "KINGAKU=-1500\nSYUNEN=1999\nISBN=4-00-000000-0\nSYOZAI=児童書架\n"
                            "PAGE=254p\nOOKISA=20cm\nSEIKYU=K913.68/ア\nNDC=K913.6\nKENMEI=鳥類\n"
                            "NAIYO=<b>bold</b>\nUKEIRE=20240401\nMEMO=memo text\n"
                            "KASIDASI=<div class=\"enabled\">貸出可</div>\n"
                            "MARK=<div class=\"enabled\">■</div>\n"));
}

// Empty fields show "---" on the detail page, except the price (a number)
// and the classification (derived, not a field).
TEST_F(DetailE2E, EmptyFieldsShowDashes) {
  const auto r = site.get("/data", "BOOKID=0000000087&PAGENUM=0&SYOMEI=bird&STATUS=0");
  EXPECT_EQ(r.body(), cp932("BOOKID=0000000087\nSYOMEI=Bird empty\nSYOKANA=---\nCHOSYA=---\n"
                            "CHOKANA=---\nSYUPAN=---\nKINGAKU=0\nSYUNEN=---\nISBN=---\n"
                            "SYOZAI=一般書架\nPAGE=---\nOOKISA=---\nSEIKYU=---\nNDC=\nKENMEI=---\n"
                            "NAIYO=---\nUKEIRE=---\nMEMO=---\n"
                            "KASIDASI=<div class=\"disabled\">貸出中</div>\n"
                            "MARK=<div class=\"disabled\">▲</div>\n"));
}

TEST_F(DetailE2E, LendingStatusWordAndMark) {
  site.write_template("page_.html", "<#KASIDASI>|<#KASIDASI_MARK>");
  const struct {
    const char* bookid;
    const char* expected;
  } cases[] = {
      {"0000000086", "<div class=\"enabled\">貸出可</div>|<div class=\"enabled\">■</div>"},
      // On loan and in a forbidding class: the loan is named first.
      {"0000000087", "<div class=\"disabled\">貸出中</div>|<div class=\"disabled\">▲</div>"},
      {"0000000088", "<div class=\"disabled\">所在不明</div>|<div class=\"disabled\">▲</div>"},
      {"0000000089", "<div class=\"disabled\">貸出禁止</div>|<div class=\"disabled\">▲</div>"},
      {"0000000090", "<div class=\"enabled\">貸出可</div>|<div class=\"enabled\">■</div>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bookid);
    EXPECT_EQ(site.get("/data", std::string("BOOKID=") + c.bookid).body(), cp932(c.expected));
  }
}

// A result row links to the detail page with the whole list query; the
// detail page links back to the same list page.
TEST_F(DetailE2E, FromARowToTheDetailPageAndBack) {
  site.write_template("list.html", "<#FIND_VALUE_LIST>");
  site.write_template("listrow.html", "<#SEQUENCE> <#GOTO_DETAIL_BEGIN><#SYOMEI><#GOTO_DETAIL_END> [<#ISBN>]");
  site.write_template("page_.html", "<#SYOMEI> [<#ISBN>] <#BACK_TO_LIST caption=back>");

  const auto list = site.get("/list", "SYOMEI=cat&PAGENUM=1&ORDER=MS_BOOKID");
  ASSERT_EQ(list.status(), "200 OK");
  const std::string query = "PAGENUM=1&SYOMEI=cat&CHOSYA=&SYUPAN=&ISBN=&KENMEI=&ORDER=MS_BOOKID&ORDERKIND=&STATUS=0";
  const std::string detail_href = kBase + "/data?BOOKID=0000000021&" + query;
  // On the list page an empty field stays empty.
  const std::string first_row =
      "21 <a href=\"" + detail_href + "\" class=\"goto_detail\">Cat story 21</a> []\r\n";
  ASSERT_EQ(list.body().substr(0, first_row.size()), first_row);

  const auto detail = site.get("/data", detail_href.substr(detail_href.find('?') + 1));
  const std::string back_href = kBase + "/list?" + query;
  EXPECT_EQ(detail.body(), "Cat story 21 [---] <a href=\"" + back_href + "\" class=\"back_to_list\">back</a>");

  const auto again = site.get("/list", back_href.substr(back_href.find('?') + 1));
  EXPECT_EQ(again.output, list.output);
}

TEST_F(DetailE2E, DetailPageOfTheListPathShowsTheFirstHit) {
  site.write_template("page_.html", "<#BOOKID>");
  EXPECT_EQ(site.get("/data", "SYOMEI=dog").body(), "0000000046");
  // The spelling /Data reaches the handler but produces no page.
  EXPECT_EQ(site.get("/Data", "SYOMEI=dog").body(), "");
}

// The author link searches by the first author_link_chars characters of the
// author and shows the whole author.
TEST_F(DetailE2E, AuthorLinkOfARow) {
  site.write_template("list.html", "<#FIND_VALUE_LIST>");
  site.write_template("listrow.html", "<#CHOSYA>");
  auto author_link = [](const std::string& key, const std::string& text) {
    return "<a href=\"" + kBase + "/list?PAGENUM=0&CHOSYA=" + key + "\" class=\"chosya\">" +
           cp932(text) + "</a>\r\n";
  };
  const std::string rows_6 = author_link("%8AH%90%EC%97%B4%94V%89%EE%91S", "芥川龍之介全集編") +
                             author_link("", "") +
                             author_link("%8B%7B%91%F2%8C%AB%8E%A1%8D%EC%95i", "宮沢賢治作品") +
                             author_link("%90X%89%A8%8AO", "森鴎外") +
                             author_link("Lewis+", "Lewis Carroll");
  EXPECT_EQ(site.get("/list", "SYOMEI=bird&PAGENUM=0").body(), rows_6);

  // 0 means the whole author; 258 keeps its low eight bits, 2.
  const struct {
    const char* setting;
    const char* key;
  } keys[] = {{"0", "%8AH%90%EC%97%B4%94V%89%EE%91S%8FW%95%D2"}, {"258", "%8AH%90%EC"}};
  for (const auto& k : keys) {
    SCOPED_TRACE(k.setting);
    site.write_template("list.html",
                        std::string("<#SETUP author_link_chars=") + k.setting + "><#FIND_VALUE_LIST>");
    EXPECT_EQ(site.get("/list", "SYOMEI=bird%20watching").body(), author_link(k.key, "芥川龍之介全集編"));
  }
}

}  // namespace
