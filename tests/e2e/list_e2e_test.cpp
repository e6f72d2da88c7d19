// Searching from the browser, seen from outside: the list page of a title
// search with its count, rows, page list and paging links, the redirect of
// an empty query, the not-found page, the exact path check after the
// case-blind dispatch, POST forms, and failures inside the page.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>

#include "catalogue_site.h"

using mwtest::CatalogueSite;
using mwtest::cp932;
using mwtest::kBase;
using mwtest::list_query;

namespace {

const char* const kListTemplate =
    "count=<#TOTAL_FIND_COUNT>\n"
    "prior=<#PRIOR_PAGE caption=prev>\n"
    "next=<#NEXT_PAGE caption=next>\n"
    "pages=<#PAGE_LIST>\n"
    "<#FIND_VALUE_LIST>end\n";

std::string link(const std::string& query, const std::string& css, const std::string& text) {
  return "<a href=\"" + kBase + "/list?" + query + "\" class=\"" + css + "\">" + text + "</a>";
}

struct ListCase {
  const char* name;
  const char* syomei;
  unsigned long long pagenum;
  int count;
  std::optional<unsigned long long> prior, next;
  int pages;           // page numbers 1..pages are listed ...
  int current;         // ... with this one as the current page (0: none)
  int first_row = 0;   // SEQUENCE of the first and last row (0: no rows)
  int last_row = 0;
  int first_bookid = 1;  // book id of the first hit of the search
};

// The page the list template gives for a case, written out link by link.
std::string expected_list(const ListCase& c) {
  std::string page = "count=" + std::to_string(c.count) + "\nprior=";
  if (c.prior) page += link(list_query(*c.prior, c.syomei), "prior_page", "prev");
  page += "\nnext=";
  if (c.next) page += link(list_query(*c.next, c.syomei), "next_page", "next");
  page += "\npages=";
  for (int i = 1; i <= c.pages; ++i) {
    if (i > 1) page += ' ';
    page += i == c.current ? "<span class=\"cur_page\">" + std::to_string(i) + "</span>"
                           : link(list_query(i - 1, c.syomei), "page_list", std::to_string(i));
  }
  page += '\n';
  for (int seq = c.first_row; c.first_row && seq <= c.last_row; ++seq) {
    char bookid[16];
    std::snprintf(bookid, sizeof bookid, "%010d", c.first_bookid + seq - 1);
    page += std::to_string(seq) + ":" + bookid + "\r\n";
  }
  return page + "end\n";
}

class ListE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    site.write_template("list.html", kListTemplate);
    site.write_template("listrow.html", "<#SEQUENCE>:<#BOOKID>");
  }
  CatalogueSite site;
};

TEST_F(ListE2E, PagesOfATitleSearch) {
  const ListCase cases[] = {
      {"first of 45", "cat", 0, 45, std::nullopt, 1, 3, 1, 1, 20},
      {"middle of 45", "cat", 1, 45, 0, 2, 3, 2, 21, 40},
      {"last of 45", "cat", 2, 45, 1, std::nullopt, 3, 3, 41, 45},
      {"past the last page", "cat", 9, 45, 8, std::nullopt, 3, 0},
      {"first of 40", "dog", 0, 40, std::nullopt, 1, 2, 1, 1, 20, 46},
      {"exact multiple ends the links", "dog", 1, 40, 0, std::nullopt, 2, 2, 21, 40, 46},
      // rows × PAGENUM wraps to 4 in 32 bits: the page starts at the fifth
      // hit; rows × (PAGENUM + 1) wraps to 24, so a next page exists; the
      // page list (from 214748356 on) is empty.
      {"wrapped page start", "cat", 214748365, 45, 214748364, 214748366, 0, 0, 5, 24},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto r = site.get("/list", "SYOMEI=" + std::string(c.syomei) +
                                         "&PAGENUM=" + std::to_string(c.pagenum));
    EXPECT_EQ(r.status(), "200 OK");
    EXPECT_EQ(r.body(), expected_list(c));
  }
  EXPECT_TRUE(site.log_lines().empty());
}

TEST_F(ListE2E, SetupRowsChangesThePageSize) {
  site.write_template("list.html", std::string("<#SETUP rows=10>") + kListTemplate);
  const auto r = site.get("/list", "SYOMEI=cat&PAGENUM=3");
  ListCase c{"", "cat", 3, 45, 2, 4, 5, 4, 31, 40};
  EXPECT_EQ(r.body(), expected_list(c));
}

TEST_F(ListE2E, UpperCasePathGivesAnEmptyBody) {
  const auto r = site.get("/LIST", "SYOMEI=cat&PAGENUM=0");
  EXPECT_EQ(r.output, "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n");
  EXPECT_TRUE(site.log_lines().empty());
}

TEST_F(ListE2E, QueryWithoutSearchWordsRedirectsWithoutTouchingTheMutex) {
  for (const char* query : {"", "PAGENUM=3&ORDER=MS_SYOMEI&ORDERKIND=DESC&STATUS=0", "SYOMEI="}) {
    for (const char* path : {"/list", "/data", "/LIST"}) {
      SCOPED_TRACE(std::string(path) + "?" + query);
      const auto r = site.get(path, query);
      EXPECT_EQ(r.status(), "302 Moved Temporarily");
      EXPECT_NE(r.headers().find("Location: " + kBase + "\r\n"), std::string::npos) << r.headers();
    }
  }
  // The lock file is made by the first process that opens the mutex.
  EXPECT_FALSE(std::filesystem::exists(site.lock_path()));
}

TEST_F(ListE2E, SearchWithoutHitsShowsTheNotFoundPage) {
  const std::string expected = cp932(
      "該当書籍は見付かりませんでした|"
      "検索項目を減らしたり、検索キーワードを短くする事で見付かる確率が高くなります");
  for (const char* path : {"/list", "/data"}) {
    SCOPED_TRACE(path);
    const auto r = site.get(path, "SYOMEI=zebra&PAGENUM=0");
    EXPECT_EQ(r.status(), "200 OK");
    EXPECT_EQ(r.body(), expected);
  }
  EXPECT_TRUE(site.log_lines().empty());
  EXPECT_TRUE(site.lock_is_free());
}

TEST_F(ListE2E, PostFromAFormGivesTheSamePageAsGet) {
  const std::string fields = "SYOMEI=cat&PAGENUM=1";
  auto post = site.env("/list");
  post["REQUEST_METHOD"] = "POST";
  post["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  post["CONTENT_LENGTH"] = std::to_string(fields.size());
  const auto by_post = site.run(post, fields);
  const auto by_get = site.get("/list", fields);
  EXPECT_EQ(by_get.status(), "200 OK");
  EXPECT_NE(by_get.body().find("21:0000000021"), std::string::npos);
  EXPECT_EQ(by_post.output, by_get.output);
}

// A failing tag is logged by the tag's wrapper and by the action's, ends in
// the internal-error page and still gives the database mutex back.
TEST_F(ListE2E, ZeroRowsMakesThePageListFail) {
  site.write_template("list.html", "<#SETUP rows=0>next=<#NEXT_PAGE caption=n>\n<#PAGE_LIST>");
  const auto r = site.get("/list", "SYOMEI=cat&PAGENUM=0");
  EXPECT_EQ(r.status(), "500 Internal Server Error");
  const auto lines = site.log_lines();
  ASSERT_EQ(lines.size(), 2u);
  for (const auto& line : lines)
    EXPECT_NE(line.find("] " + cp932("ゼロによる除算") + "\r"), std::string::npos) << line;
  EXPECT_TRUE(site.lock_is_free());
}

TEST_F(ListE2E, ZeroRowsWithoutThePageListShowsNoRowsAndANextLink) {
  site.write_template("list.html", "<#SETUP rows=0>next=<#NEXT_PAGE caption=n>\n<#FIND_VALUE_LIST>end");
  const auto r = site.get("/list", "SYOMEI=cat&PAGENUM=0");
  EXPECT_EQ(r.status(), "200 OK");
  EXPECT_EQ(r.body(), "next=" + link(list_query(1, "cat"), "next_page", "n") + "\nend");
}

// A page number whose start wraps to a negative count ("-1" is PAGENUM
// 4294967295): the search refuses to move backwards and the page fails
// cleanly (no signal, no sanitizer report, the mutex given back).
TEST_F(ListE2E, PageNumberThatWrapsNegativeFailsCleanly) {
  for (const char* pagenum : {"-1", "107374183", "2147483647"}) {
    SCOPED_TRACE(pagenum);
    const auto r = site.get("/list", std::string("SYOMEI=cat&PAGENUM=") + pagenum);
    EXPECT_EQ(r.status(), "500 Internal Server Error");
    EXPECT_TRUE(site.lock_is_free());
  }
}

// A row template that starts the list again would recurse without end; the
// failure passes the wrappers of the inner page handler, the row handler,
// the outer FIND_VALUE_LIST and the action, each logging it once.
TEST_F(ListE2E, ListInsideARowFailsInsteadOfRecursing) {
  site.write_template("listrow.html", "<#SEQUENCE><#FIND_VALUE_LIST>");
  const auto r = site.get("/list", "SYOMEI=cat&PAGENUM=0");
  EXPECT_EQ(r.status(), "500 Internal Server Error");
  EXPECT_EQ(site.log_lines().size(), 4u);
  EXPECT_TRUE(site.lock_is_free());
}

TEST_F(ListE2E, ListTagsAreCaseSensitiveAndEmptyWithoutASource) {
  site.write_template("list.html", "[<#find_value_list>][<#Total_Find_Count>]<#TOTAL_FIND_COUNT>");
  EXPECT_EQ(site.get("/list", "SYOMEI=cat").body(), "[][]45");
  // The top page has no data source: every list and record tag vanishes.
  site.write_template("top.html",
                      "[<#FIND_VALUE_LIST>][<#TOTAL_FIND_COUNT>][<#NEXT_PAGE caption=n>]"
                      "[<#PRIOR_PAGE caption=p>][<#PAGE_LIST>][<#SYOMEI>][<#KINGAKU>][<#KASIDASI>]"
                      "[<#KASIDASI_MARK>][<#NDC>][<#SEQUENCE>]");
  EXPECT_EQ(site.get("", "PAGENUM=3").body(), "[][][][][][][][][][][]");
}

}  // namespace
