// The echo of the query: the table of search conditions, the captions of
// the two special lists, the single parameters (escaped for HTML, since
// they are visitor input) and the link back to the list by STATUS.
#include <gtest/gtest.h>

#include "tests/web/web_sandbox.h"

using webtest::WebSandbox;

namespace {

const std::string kHome = "http://lib.example/cgi-bin/mirelweb";

// The URL form of a UTF-8 text as a browser on a code-page-932 page sends it.
std::string q(const std::string& utf8) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : Mirel::to_ansi(Mirel::from_utf8(utf8))) {
    out += '%';
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

std::string row(const std::string& caption, const std::string& key) {
  return "<tr><td class=\"query_caption\">" + caption +
         "</td><td class=\"query_equal\"> = </td><td class=\"query_key\">" + key + "</td></tr>";
}

TEST(QueryTags, KeyList) {
  struct Case {
    std::string query;
    std::string page;
    std::string expected;
  };
  const Case cases[] = {
      {"SYOMEI=" + q("吾輩は猫") + "&SYUPAN=" + q("岩波") + "&STATUS=0", "<#QUERY_KEY_LIST>",
       "<table border=\"0\">" + row("書名", "吾輩は猫") + row("出版者", "岩波") + "</table>"},
      {"ISBN=4-00-310101-4", "<#QUERY_KEY_LIST>",
       "<table border=\"0\">" + row("ISBN", "4-00-310101-4") + "</table>"},
      {"KENMEI=a&CHOSYA=b&SYOMEI=c&ISBN=d&SYUPAN=e", "<#QUERY_KEY_LIST>",
       "<table border=\"0\">" + row("書名", "c") + row("著者名", "b") + row("出版者", "e") +
           row("ISBN", "d") + row("件名", "a") + "</table>"},
      {"", "<#QUERY_KEY_LIST>", "<table border=\"0\"></table>"},
      // Visitor input in a cell is escaped; the table around it is not.
      {"SYOMEI=%3Cb%3E%22", "<#QUERY_KEY_LIST>",
       "<table border=\"0\">" + row("書名", "&lt;b&gt;&quot;") + "</table>"},
      {"STATUS=5&SYOMEI=x", "[<#QUERY_KEY_LIST>]", "[]"},
      {"STATUS=1&SYOMEI=x", "<#SETUP recommend_caption=\"<i>推薦</i>\"><#QUERY_KEY_LIST>",
       "<span class=\"query_key\"><i>推薦</i></span>"},
      // No new-arrivals holder: the caption is empty.
      {"STATUS=2", "<#QUERY_KEY_LIST>", "<span class=\"query_key\"></span>"},
      {"STATUS=2", "<#SETUP newbook_caption=新着><#QUERY_KEY_LIST>",
       "<span class=\"query_key\">新着</span>"},
  };
  for (const Case& c : cases) {
    WebSandbox box;
    box.start("/list", c.query);
    EXPECT_EQ(box.produce(c.page), c.expected) << c.query;
  }
}

TEST(QueryTags, SingleParametersAreEscaped) {
  struct Case {
    const char* tag;
    const char* parameter;
  };
  const Case cases[] = {
      {"QUERY_SYOMEI", "SYOMEI"}, {"QUERY_CHOSYA", "CHOSYA"}, {"QUERY_SYUPAN", "SYUPAN"},
      {"QUERY_ISBN", "ISBN"},     {"QUERY_KENMEI", "KENMEI"}, {"QUERY_ORDER", "ORDER"},
      {"QUERY_ORDERKIND", "ORDERKIND"},
  };
  for (const Case& c : cases) {
    WebSandbox box;
    // <b>"x"'& and a Japanese word, with a blank at each end that stays.
    box.start("/list", std::string(c.parameter) + "=+%3Cb%3E%22x%22%27%26" + q("猫") + "+");
    const std::string field = std::string("<input value=\"<#") + c.tag + ">\">";
    EXPECT_EQ(box.produce(field), "<input value=\" &lt;b&gt;&quot;x&quot;&#39;&amp;猫 \">") << c.tag;
    // An absent parameter is the empty text.
    box.start("/list", "");
    EXPECT_EQ(box.produce(std::string("[<#") + c.tag + ">]"), "[]") << c.tag;
  }
}

TEST(QueryTags, PageNumber) {
  struct Case {
    const char* query;
    const char* expected;
  };
  const Case cases[] = {
      {"", "0"}, {"PAGENUM=3", "3"}, {"PAGENUM=-1", "4294967295"}, {"PAGENUM=abc", "0"},
      {"PAGENUM=$10", "16"},
  };
  for (const Case& c : cases) {
    WebSandbox box;
    box.start("/data", c.query);
    EXPECT_EQ(box.produce("<#QUERY_PAGENUM>"), c.expected) << c.query;
  }
}

TEST(QueryTags, BackToListByStatus) {
  struct Case {
    const char* status;
    const char* path;
  };
  const Case cases[] = {
      {"0", "/list"}, {"1", "/recommend"}, {"2", "/newbook"}, {"5", "/list"}, {"-1", "/list"},
  };
  for (const Case& c : cases) {
    WebSandbox box;
    box.start("/data", std::string("BOOKID=0000000007&PAGENUM=3&SYOMEI=cat&STATUS=") + c.status);
    EXPECT_EQ(box.produce("<#BACK_TO_LIST caption=一覧へ>"),
              "<a href=\"" + kHome + c.path +
                  "?PAGENUM=3&SYOMEI=cat&CHOSYA=&SYUPAN=&ISBN=&KENMEI=&ORDER=&ORDERKIND=&STATUS=" +
                  c.status + "\" class=\"back_to_list\">一覧へ</a>")
        << c.status;
  }
}

TEST(QueryTags, BackToListCarriesTheQueryEncoded) {
  WebSandbox box;
  box.start("/data", "SYOMEI=%22a+b%22&STATUS=1");
  const std::string link = box.produce("<#BACK_TO_LIST>");
  // A double quote in a parameter cannot end the href early.
  EXPECT_EQ(link.find('"', link.find("href=\"") + 6), link.find("\" class=")) << link;
  EXPECT_NE(link.find(kHome + "/recommend?PAGENUM=0&SYOMEI="), std::string::npos) << link;
}

}  // namespace
