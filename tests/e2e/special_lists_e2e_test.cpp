// The two special lists end to end: the recommended books ("/recommend")
// and the new arrivals ("/newbook") over small libraries written by the
// project's dBASE writer, with the range kinds and widths that the list
// template's SETUP tag chooses, paging that stays on its own list, and the
// pages for an empty recommendation table and a template without SETUP.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "cgi_runner.h"
#include "dbase/library_builder.h"
#include "platform/unicode_string.h"

using Mirel::Dbase::book_id;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;
using mwtest::CgiResult;
using mwtest::CgiSandbox;

namespace {

const std::string kBase = "http://lib.example/cgi-bin/mirelweb";

// The query string of a special list's links: only PAGENUM and STATUS set.
std::string special_query(int pagenum, int status) {
  return "PAGENUM=" + std::to_string(pagenum) +
         "&SYOMEI=&CHOSYA=&SYUPAN=&ISBN=&KENMEI=&ORDER=&ORDERKIND=&STATUS=" + std::to_string(status);
}

// A program directory with its configuration, templates (written as code
// page 932) and a library under data/ (alias "Lib"); requests run with the
// directory's own tmp/ as TMPDIR, so the database mutex is the test's own.
class LibrarySite {
 public:
  LibrarySite() {
    std::filesystem::create_directories(box.dir() + "data");
    std::filesystem::create_directories(box.dir() + "tmp");
    box.write_file("mirelweb.ini", "[Path]\r\nHtml=" + box.dir() + "tpl/\r\nDb=Lib\r\n");
    box.write_file("aliases.ini", "[Aliases]\r\nLib=" + box.dir() + "data\r\n");
    write_template("error.html", "ERROR:<#ERR_NAME>");
    write_template("listrow.html", "<#SEQUENCE>=<#BOOKID>;");
  }

  void write_template(const std::string& name, const std::string& utf8) const {
    box.write_file("tpl/" + name, Mirel::to_ansi(Mirel::from_utf8(utf8)));
  }
  void write_library(const TLibraryBuilder& library) const { library.write(box.dir() + "data"); }

  CgiResult get(const std::string& path_info, const std::string& query) const {
    auto env = CgiSandbox::get_env(path_info, query);
    env["TMPDIR"] = box.dir() + "tmp/";
    return box.run(env);
  }
  // The page body as UTF-8.
  std::string body(const std::string& path_info, const std::string& query) const {
    const CgiResult r = get(path_info, query);
    EXPECT_EQ(r.status(), "200 OK") << path_info << "?" << query << "\n" << r.output;
    return Mirel::to_utf8(Mirel::from_ansi(r.body()));
  }

  CgiSandbox box;
};

// The "SEQUENCE=BOOKID;" rows between the two bars of the list templates.
std::vector<std::string> rows_of(const std::string& body) {
  std::vector<std::string> rows;
  const size_t open = body.find('|');
  const size_t close = body.find('|', open + 1);
  if (open == std::string::npos || close == std::string::npos) return rows;
  const std::string list = body.substr(open + 1, close - open - 1);
  size_t start = 0;
  // Each row is followed by CR LF.
  for (size_t end; (end = list.find(';', start)) != std::string::npos; start = end + 1) {
    while (start < end && (list[start] == '\r' || list[start] == '\n')) ++start;
    rows.push_back(list.substr(start, end - start));
  }
  return rows;
}

// Only the book ids of rows_of, in order, as numbers.
std::vector<int> ids_of(const std::string& body) {
  std::vector<int> ids;
  for (const std::string& row : rows_of(body)) ids.push_back(std::stoi(row.substr(row.find('=') + 1)));
  return ids;
}

// ---------------------------------------------------------------- recommend

TEST(RecommendE2E, ListWithPagingThatStaysOnRecommend) {
  LibrarySite site;
  TLibraryBuilder lib;
  for (int i = 1; i <= 14; ++i) {
    TBook b;
    b.bookid = book_id(i);
    b.syomei = "Book " + std::to_string(i);
    lib.add_book(b);
  }
  for (int i = 1; i <= 12; ++i) {
    lib.add_feature(book_id(i));
    // A recommended id without a master record is dropped.
    if (i == 6) lib.add_feature(book_id(9999));
  }
  // Two reservations of book 3: the book is listed twice.
  lib.add_reservation(book_id(3), "20240501", "u1", 1);
  lib.add_reservation(book_id(3), "20240502", "u2", 2);
  site.write_library(lib);
  site.write_template("list.html",
                      "<#SETUP rows=5 recommend_caption=おすすめ><#QUERY_KEY_LIST>#<#TOTAL_FIND_COUNT>"
                      "|<#FIND_VALUE_LIST>|<#PRIOR_PAGE caption=P><#NEXT_PAGE caption=N>/<#PAGE_LIST>");

  std::vector<int> all;
  std::vector<std::string> sequence;
  for (int page = 0; page < 3; ++page) {
    const std::string body = site.body("/recommend", "PAGENUM=" + std::to_string(page) + "&STATUS=1");
    EXPECT_EQ(body.rfind("<span class=\"query_key\">おすすめ</span>#13|", 0), 0u) << body;
    for (const std::string& row : rows_of(body)) sequence.push_back(row.substr(0, row.find('=')));
    const std::vector<int> ids = ids_of(body);
    EXPECT_EQ(ids.size(), page < 2 ? 5u : 3u) << body;
    all.insert(all.end(), ids.begin(), ids.end());

    const std::string prior = page > 0 ? "<a href=\"" + kBase + "/recommend?" + special_query(page - 1, 1) +
                                             "\" class=\"prior_page\">P</a>"
                                       : "";
    const std::string next = page < 2 ? "<a href=\"" + kBase + "/recommend?" + special_query(page + 1, 1) +
                                            "\" class=\"next_page\">N</a>"
                                      : "";
    EXPECT_NE(body.find("|" + prior + next + "/"), std::string::npos) << body;
    // Every page number links back to /recommend.
    for (int other = 0; other < 3; ++other) {
      if (other == page) continue;
      EXPECT_NE(body.find("<a href=\"" + kBase + "/recommend?" + special_query(other, 1) +
                          "\" class=\"page_list\">" + std::to_string(other + 1) + "</a>"),
                std::string::npos)
          << body;
    }
  }
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (std::vector<int>{1, 2, 3, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
  std::vector<std::string> expected_sequence;
  for (int i = 1; i <= 13; ++i) expected_sequence.push_back(std::to_string(i));
  EXPECT_EQ(sequence, expected_sequence);
}

TEST(RecommendE2E, EmptyFeatureTableGivesTheNotFoundPage) {
  LibrarySite site;
  TLibraryBuilder lib;
  TBook b;
  b.bookid = book_id(1);
  b.syomei = "Lonely";
  lib.add_book(b);
  // Recommended, but without a master record: no row either.
  TLibraryBuilder only_orphans = lib;
  only_orphans.add_feature(book_id(2));
  site.write_template("list.html", "LIST");
  for (const TLibraryBuilder* l : {&lib, &only_orphans}) {
    site.write_library(*l);
    // Twice: the first request left the mutex free for the second.
    for (int i = 0; i < 2; ++i)
      EXPECT_EQ(site.body("/recommend", "PAGENUM=0&STATUS=1"), "ERROR:該当書籍は見付かりませんでした");
  }
  // Not finding anything is no failure: no log line.
  EXPECT_EQ(site.box.read_file("Error.txt"), "");
}

// ---------------------------------------------------------------- new arrivals

// A local date `offset` days from today as "yyyymmdd".
std::string day(int offset) {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  ::localtime_r(&now, &local);
  local.tm_mday += offset;
  local.tm_hour = 12;  // away from daylight-saving jumps
  std::mktime(&local);
  char text[40];
  std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday);
  return text;
}

// Accession dates relative to today, by book id.
const std::map<int, int> kDayOffsets = {{1, 1},   {2, 0},    {3, 0},   {4, -1}, {5, -13},
                                        {6, -14}, {7, -30}, {8, 2},   {9, 3}};

void write_dated_library(const LibrarySite& site) {
  TLibraryBuilder lib;
  for (const auto& [id, offset] : kDayOffsets) {
    TBook b;
    b.bookid = book_id(id);
    b.syomei = "New " + std::to_string(id);
    b.ukeire = day(offset);
    lib.add_book(b);
  }
  site.write_library(lib);
}

std::string newbook_list(const std::string& setup_parameters) {
  return "<#SETUP rows=20 newbook_caption=新着 " + setup_parameters +
         "><#QUERY_KEY_LIST>#<#TOTAL_FIND_COUNT>|<#FIND_VALUE_LIST>|<#NEXT_PAGE caption=N>";
}

TEST(NewBookE2E, RangeKindsAndWidthsNewestFirst) {
  struct Case {
    const char* setup;
    std::vector<int> ids;  // in page order
  };
  const Case cases[] = {
      // The last 14 calendar days up to today.
      {"newbook_typeid=2 newbook_range=14", {2, 3, 4, 5}},
      // No width: today to the day after tomorrow.
      {"newbook_typeid=2", {8, 1, 2, 3}},
      {"newbook_typeid=2 newbook_range=1", {2, 3}},
      // The newest three distinct accession dates.
      {"newbook_typeid=1 newbook_range=3", {9, 8, 1}},
      {"newbook_typeid=1 newbook_range=5", {9, 8, 1, 2, 3, 4}},
      {"newbook_typeid=1 newbook_range=100", {9, 8, 1, 2, 3, 4, 5, 6, 7}},
      {"newbook_typeid=1", {9}},
      // Kind 0: the newest accession date alone, whatever the width.
      {"newbook_range=5", {9}},
      {"newbook_typeid=7 newbook_range=5", {9}},
      // The newest four distinct book ids, highest first.
      {"newbook_typeid=3 newbook_range=4", {9, 8, 7, 6}},
      {"newbook_typeid=3", {9}},
  };
  LibrarySite site;
  for (const Case& c : cases) {
    site.write_template("list.html", newbook_list(c.setup));
    // The library is written anew for each case, and the case repeated when
    // the day changed while it ran, so its dates are those of the request's day.
    std::string body;
    for (int attempt = 0; attempt < 2; ++attempt) {
      const std::string today = day(0);
      write_dated_library(site);
      body = site.body("/newbook", "PAGENUM=0&STATUS=2");
      if (day(0) == today) break;
    }
    EXPECT_EQ(body.rfind("<span class=\"query_key\">新着</span>#" + std::to_string(c.ids.size()) + "|", 0),
              0u)
        << c.setup << "\n" << body;
    EXPECT_EQ(ids_of(body), c.ids) << c.setup << "\n" << body;
  }
}

TEST(NewBookE2E, BookIdRangeOfFiftyWithPagingThatStaysOnNewbook) {
  LibrarySite site;
  TLibraryBuilder lib;
  for (int i = 1; i <= 60; ++i) {
    TBook b;
    b.bookid = book_id(i);
    b.syomei = "Id " + std::to_string(i);
    b.ukeire = "20200101";
    lib.add_book(b);
  }
  site.write_library(lib);
  site.write_template("list.html", newbook_list("newbook_typeid=3 newbook_range=50"));

  const std::string first = site.body("/newbook", "PAGENUM=0&STATUS=2");
  EXPECT_NE(first.find("#50|1=0000000060;\r\n2=0000000059;\r\n"), std::string::npos) << first;
  EXPECT_EQ(ids_of(first).size(), 20u);
  EXPECT_NE(first.find("|<a href=\"" + kBase + "/newbook?" + special_query(1, 2) +
                       "\" class=\"next_page\">N</a>"),
            std::string::npos)
      << first;

  const std::string last = site.body("/newbook", "PAGENUM=2&STATUS=2");
  std::vector<int> expected;
  for (int id = 20; id >= 11; --id) expected.push_back(id);
  EXPECT_EQ(ids_of(last), expected) << last;
  EXPECT_EQ(rows_of(last).front(), "41=0000000020");
  // The last page has no next link.
  EXPECT_EQ(last.find("next_page"), std::string::npos) << last;
}

TEST(NewBookE2E, NoHitInTheRangeGivesTheNotFoundPage) {
  LibrarySite site;
  TLibraryBuilder lib;
  TBook b;
  b.bookid = book_id(1);
  b.ukeire = "19990101";
  lib.add_book(b);
  site.write_library(lib);
  site.write_template("list.html", newbook_list("newbook_typeid=2 newbook_range=7"));
  EXPECT_EQ(site.body("/newbook", "PAGENUM=0&STATUS=2"), "ERROR:該当書籍は見付かりませんでした");
}

TEST(NewBookE2E, ListTemplateWithoutSetupFailsWithALogLine) {
  LibrarySite site;
  TLibraryBuilder lib;
  TBook b;
  b.bookid = book_id(1);
  b.ukeire = "20240101";
  lib.add_book(b);
  site.write_library(lib);
  // A lower-case tag is no SETUP tag.
  site.write_template("list.html", "<#setup newbook_typeid=1 newbook_range=3><#FIND_VALUE_LIST>");
  const CgiResult r = site.get("/newbook", "PAGENUM=0&STATUS=2");
  EXPECT_EQ(r.status(), "500 Internal Server Error");
  const std::string body = Mirel::to_utf8(Mirel::from_ansi(r.body()));
  EXPECT_NE(body.find("list.html に SETUP タグ"), std::string::npos) << body;
  ASSERT_TRUE(site.box.exists("Error.txt"));
  const std::string log = Mirel::to_utf8(Mirel::from_ansi(site.box.read_file("Error.txt")));
  EXPECT_NE(log.find("newbook_typeid"), std::string::npos) << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

}  // namespace
