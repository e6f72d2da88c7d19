// Requests past the limits of mirelweb.ini's section "Limits": just under
// each limit the search runs, just over it the answer is the
// narrow-your-search page with status 200 and no log line, given while
// another holder keeps the database lock (so the request never waited for
// it). A search past its time budget ends in the same page and leaves the
// lock free. Client headers named like CGI variables change nothing.
#include <gtest/gtest.h>

#include <string>

#include "catalogue_site.h"

using mwtest::CatalogueSite;
using mwtest::cp932;
using mwtest::Env;
using mwtest::HeldLock;

namespace {

const std::string kNarrow = "ERROR 検索条件を絞り込んでください";

void write_templates(const CatalogueSite& site) {
  site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>");
  site.write_template("error.html", "ERROR <#ERR_NAME>");
}

void set_limits(const CatalogueSite& site, const std::string& limits) {
  site.box.write_file("mirelweb.ini", "[Path]\r\nHtml=" + site.box.dir() +
                                          "tpl/\r\nDb=TESTLIB\r\n[Limits]\r\n" + limits);
}

// `words` words of "cat", each found in the titles 1..45.
std::string cats(int words) {
  std::string out;
  for (int i = 0; i < words; ++i) out += i ? "+cat" : "cat";
  return out;
}

struct LimitCase {
  const char* name;
  std::string query;  // GET; empty: a POST of `body`
  std::string body;
  bool past;          // past a limit: the narrow page; else the list of 45
};

class Limits : public ::testing::TestWithParam<LimitCase> {};

TEST_P(Limits, PastALimitIsTheNarrowPageWithoutTheLock) {
  const LimitCase& c = GetParam();
  CatalogueSite site;
  write_templates(site);
  set_limits(site, "MaxBodyBytes=200\r\nMaxValueBytes=100\r\nMaxWords=4\r\n");
  Env env = site.env("/list", c.query);
  if (c.query.empty()) {
    env["REQUEST_METHOD"] = "POST";
    env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
    env["CONTENT_LENGTH"] = std::to_string(c.body.size());
  }
  if (c.past) {
    // Held by another: a request that waited would give the busy page.
    HeldLock lock(site.lock_path());
    ASSERT_TRUE(lock.held());
    env["MIRELWEB_TEST_MUTEX_WAIT_MS"] = "50";
    const auto r = site.run(env, c.body);
    EXPECT_EQ(r.status(), "200 OK");
    EXPECT_EQ(r.body(), cp932(kNarrow));
  } else {
    const auto r = site.run(env, c.body);
    EXPECT_EQ(r.status(), "200 OK");
    EXPECT_EQ(r.body(), "LIST 45");
  }
  EXPECT_TRUE(site.log_lines().empty());
}

// "SYOMEI=cat&KENMEI=" and padding to `size` bytes (a field nobody reads).
std::string body_of(size_t size) {
  std::string body = "SYOMEI=cat&X=";
  return body + std::string(size - body.size(), 'x');
}

INSTANTIATE_TEST_SUITE_P(
    UnderAndOver, Limits,
    ::testing::Values(
        LimitCase{"BodyAtTheLimit", "", body_of(200), false},
        LimitCase{"BodyOverTheLimit", "", body_of(201), true},
        // 100 and 101 bytes: "cat" and blanks (words stay few).
        LimitCase{"ValueAtTheLimit", "SYOMEI=cat" + std::string(97, '+'), "", false},
        LimitCase{"ValueOverTheLimit", "SYOMEI=cat" + std::string(98, '+'), "", true},
        LimitCase{"SortFieldOverTheLimit", "SYOMEI=cat&ORDER=" + std::string(101, 'M'), "", true},
        LimitCase{"WordsAtTheLimit", "SYOMEI=" + cats(4), "", false},
        LimitCase{"WordsOverTheLimit", "SYOMEI=" + cats(5), "", true},
        LimitCase{"WordsOverTheLimitInAPost", "", "SYOMEI=" + cats(5), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Limits, ASearchPastItsTimeBudgetIsTheNarrowPageAndFreesTheLock) {
#ifdef MIRELWEB_TEST_HOOKS
  CatalogueSite site;
  write_templates(site);
  set_limits(site, "SearchMilliseconds=1\r\n");
  Env env = site.env("/list", "SYOMEI=cat+story");
  // Every reading of the budget's clock is a second later.
  env["MIRELWEB_TEST_SEARCH_CLOCK_STEP_MS"] = "1000";
  const auto r = site.run(env);
  EXPECT_EQ(r.status(), "200 OK");
  EXPECT_EQ(r.body(), cp932(kNarrow));
  EXPECT_TRUE(site.log_lines().empty());
  EXPECT_TRUE(site.lock_is_free());
  // Without the budget the same search is found.
  set_limits(site, "SearchMilliseconds=0\r\n");
  EXPECT_EQ(site.run(env).body(), "LIST 45");
#else
  GTEST_SKIP() << "built without MIRELWEB_TEST_HOOKS";
#endif
}

// A client's headers arrive as HTTP_<NAME>; none of them may stand in for
// the variables the server set.
TEST(Limits, ClientHeadersNamedLikeCgiVariablesChangeNothing) {
  CatalogueSite site;
  write_templates(site);
  Env env = site.env("/list", "SYOMEI=dog");
  env["HTTP_QUERY_STRING"] = "SYOMEI=cat";
  env["HTTP_PATH_INFO"] = "/data";
  env["HTTP_CONTENT_LENGTH"] = "5";
  EXPECT_EQ(site.run(env).body(), "LIST 40");
  // Without the server's own variables nothing is searched.
  Env bare = site.env("", "");
  bare.erase("PATH_INFO");
  bare["HTTP_QUERY_STRING"] = "SYOMEI=cat";
  bare["HTTP_PATH_INFO"] = "/list";
  site.write_template("top.html", "TOP");
  EXPECT_EQ(site.run(bare).body(), "TOP");
  // A POST is read as long as CONTENT_LENGTH says, whatever a header says.
  Env post = site.env("/list", "");
  post["REQUEST_METHOD"] = "POST";
  post["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  post["CONTENT_LENGTH"] = "10";
  post["HTTP_CONTENT_LENGTH"] = "3";
  EXPECT_EQ(site.run(post, "SYOMEI=cat").body(), "LIST 45");
  EXPECT_TRUE(site.log_lines().empty());
}

}  // namespace
