// The new arrivals as an Atom feed made by the program from the sample
// site's feed.xml and feedrow.xml: the feed validates against the RELAX NG
// grammar of RFC 4287 (tests/e2e/atom.rnc, turned into the XML syntax by
// trang, checked by xmllint) and stays well-formed with "&" and "<" in a
// title.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "catalogue_site.h"
#include "dbase/library_builder.h"

using mwtest::CatalogueSite;
using mwtest::cp932;
using Mirel::Dbase::book_id;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;

namespace {

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// Runs `command` in a shell; its exit status, with its output in `output`.
int run(const std::string& command, std::string& output) {
  output.clear();
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  return ::pclose(pipe);
}

class FeedE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    TLibraryBuilder lib;
    const char* const titles[] = {"Old book", "Tom & Jerry <1>", "銀河鉄道の夜", "Untitled"};
    for (int i = 1; i <= 4; ++i) {
      TBook b;
      b.bookid = book_id(i);
      b.syomei = titles[i - 1];
      b.chosya = i == 4 ? "" : "A & B";
      b.ukeire = i == 1 ? "20230101" : i == 2 ? "20240301" : "20240302";
      lib.add_book(b);
    }
    lib.write(site.box.dir() + "data");
    site.write_template("list.html", "<#SETUP newbook_typeid=1 newbook_range=2>");
    for (const char* name : {"feed.xml", "feedrow.xml"})
      site.box.write_file(std::string("tpl/") + name,
                          file_bytes(mwtest::source_dir() + "/site/templates/" + name));
  }

  // Whether `xml` validates against the Atom grammar; xmllint's report in `report`.
  bool valid_atom(const std::string& xml, std::string& report) {
    const std::string dir = site.box.dir();
    site.box.write_file("feed-out.xml", xml);
    const std::string rng = dir + "atom.rng";
    if (run("trang -I rnc -O rng '" + mwtest::source_dir() + "/tests/e2e/atom.rnc' '" + rng + "'",
            report) != 0)
      return false;
    return run("xmllint --noout --relaxng '" + rng + "' '" + dir + "feed-out.xml'", report) == 0;
  }

  CatalogueSite site;
};

TEST_F(FeedE2E, NewArrivalsValidateAsAtom) {
  const auto r = site.get("/feed", "");
  EXPECT_EQ(r.status(), "200 OK");
  EXPECT_NE(r.headers().find("Content-Type: application/atom+xml"), std::string::npos) << r.headers();
  const std::string body = r.body();
  // The two newest accession dates: books 2 to 4, newest first.
  EXPECT_NE(body.find("<title>Tom &amp; Jerry &lt;1&gt;</title>"), std::string::npos);
  EXPECT_NE(body.find(cp932("<title>銀河鉄道の夜</title>")), std::string::npos);
  EXPECT_EQ(body.find("Old book"), std::string::npos);
  EXPECT_NE(body.find("<id>" + mwtest::kBase + "/data?BOOKID=0000000002</id>"), std::string::npos);
  std::string report;
  EXPECT_TRUE(valid_atom(body, report)) << report << body;
}

TEST_F(FeedE2E, NothingNewIsAValidEmptyFeed) {
  site.write_template("list.html", "<#SETUP newbook_typeid=2 newbook_range=1>");
  const auto r = site.get("/feed", "");
  EXPECT_EQ(r.body().find("<entry>"), std::string::npos);
  std::string report;
  EXPECT_TRUE(valid_atom(r.body(), report)) << report << r.body();
}

// The grammar is strict enough to catch a broken feed: without its id.
TEST_F(FeedE2E, TheGrammarRejectsAFeedWithoutId) {
  const auto r = site.get("/feed", "");
  std::string body = r.body();
  const size_t id = body.find("<id>");
  ASSERT_NE(id, std::string::npos);
  body.erase(id, body.find("</id>", id) + 5 - id);
  std::string report;
  EXPECT_FALSE(valid_atom(body, report)) << body;
}

}  // namespace
