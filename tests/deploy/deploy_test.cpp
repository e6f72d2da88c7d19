// The README's deployment recipes as written (docs/deploy/), each serving
// the sample site through its web server: every kind of page answers, the
// database tool, the ini files and the error log beside the program are
// not reachable, searches without hits leave nothing in the lock
// directory, and a request that came over TLS gets https:// links.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "deployment.h"

using mwtest::DeployedSite;
using mwtest::WebServer;

namespace {

const std::string kScript = "/cgi-bin/mirelweb";

std::string lines_indented(const std::string& text) {
  std::istringstream in(text);
  std::string out, line;
  while (std::getline(in, line)) out += (line.empty() ? "" : "    ") + line + "\n";
  return out;
}

std::string readme() {
  std::ifstream in(mwtest::source_dir() + "/README.md", std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DeploymentRecipes, TheReadmeShowsEachRecipeAsWritten) {
  const std::string text = readme();
  for (const char* name :
       {"apache-mirelweb.conf", "lighttpd-mirelweb.conf", "logrotate-mirelweb", "cron-mirelweb"}) {
    SCOPED_TRACE(name);
    const std::string recipe = mwtest::recipe_text(name);
    ASSERT_FALSE(recipe.empty());
    EXPECT_NE(text.find(lines_indented(recipe)), std::string::npos)
        << "README.md must quote docs/deploy/" << name << " verbatim, indented by four spaces";
  }
}

struct ServerKind {
  const char* name;
  std::function<std::unique_ptr<WebServer>(const DeployedSite&)> serve;
};
void PrintTo(const ServerKind& kind, std::ostream* os) { *os << kind.name; }

class Deployment : public ::testing::TestWithParam<ServerKind> {
 protected:
  void SetUp() override { server_ = GetParam().serve(deployed_); }
  std::string url(const std::string& path_and_query) const {
    return "127.0.0.1:" + std::to_string(server_->port()) + kScript + path_and_query;
  }
  mwtest::HttpResponse get(const std::string& target, const std::string& headers = "") const {
    return mwtest::http_get(server_->port(), target, headers);
  }

  DeployedSite deployed_;
  std::unique_ptr<WebServer> server_;
};

TEST_P(Deployment, ServesEveryPageAndTheStylesheet) {
  const mwtest::SampleSite& site = deployed_.site;
  struct Page {
    const char* name;
    std::string target;
    std::string shows;  // UTF-8
  } pages[] = {
      {"top", kScript, "<h1>蔵書検索</h1>"},
      {"list", kScript + "/list?" + mwtest::title_query("物語"), "伊勢物語"},
      {"detail", kScript + "/data?BOOKID=" + site.bookid_of("源氏物語 下") + "&PAGENUM=0&STATUS=0",
       "<h1 class=\"book-title\">源氏物語 下</h1>"},
      {"recommend", kScript + "/recommend?PAGENUM=0&STATUS=1", "<span class=\"query_key\">司書のおすすめ</span>"},
      {"newbook", kScript + "/newbook?PAGENUM=0&STATUS=2", "<span class=\"query_key\">新着図書</span>"},
      {"not-found", kScript + "/list?" + mwtest::title_query("存在しない書名"),
       "<h1>該当書籍は見付かりませんでした</h1>"},
  };
  for (const auto& page : pages) {
    SCOPED_TRACE(page.name);
    const auto r = get(page.target);
    EXPECT_EQ(r.status, 200) << r.raw << server_->error_log();
    EXPECT_NE(mwtest::utf8_of(r.body).find(page.shows), std::string::npos) << r.raw;
  }
  const auto css = get("/mirelweb.css");
  EXPECT_EQ(css.status, 200) << css.raw;
  EXPECT_NE(css.raw.find("Content-Type: text/css"), std::string::npos) << css.raw;
  EXPECT_EQ(get("/favicon.svg").status, 200);
  EXPECT_EQ(get("/opensearch.xml").status, 200);

  const auto root = get("/");
  EXPECT_TRUE(root.status == 301 || root.status == 302) << root.raw;
  EXPECT_NE(root.raw.find("Location: "), std::string::npos);
  EXPECT_NE(root.raw.find(kScript + "\r\n"), std::string::npos) << root.raw;

  EXPECT_EQ(site.error_log(), "");
  // The caches went where the layout puts them.
  EXPECT_FALSE(std::filesystem::is_empty(deployed_.cache_dir()));
}

TEST_P(Deployment, OnlyTheProgramIsReachable) {
  for (const std::string target :
       {"/cgi-bin/mirelweb-db", "/cgi-bin/mirelweb-db?tables", "/cgi-bin/mirelweb-db/tables",
        "/cgi-bin/mirelweb.ini", "/cgi-bin/aliases.ini", "/cgi-bin/Error.txt",
        "/cgi-bin/mirelweb/../mirelweb-db", "/cgi-bin/mirelweb/../mirelweb.ini",
        "/cgi-bin/mirelweb/..%2Fmirelweb.ini", "/cgi-bin/mirelwebx", "/mirelweb.ini"}) {
    SCOPED_TRACE(target);
    const auto r = get(target);
    // Not found or forbidden; a program that ran would answer 200 or 500.
    EXPECT_GE(r.status, 400) << r.raw;
    EXPECT_LT(r.status, 500) << r.raw;
    EXPECT_EQ(r.body.find("MirelWin"), std::string::npos) << r.raw;
    EXPECT_EQ(r.body.find("[Path]"), std::string::npos) << r.raw;
  }
}

TEST_P(Deployment, SearchesWithoutHitsLeaveNoFileBehind) {
  for (int i = 0; i < 20; ++i) {
    const auto r = get(kScript + "/list?" + mwtest::title_query("存在しない書名" + std::to_string(i)));
    ASSERT_EQ(r.status, 200) << r.raw;
  }
  for (const auto& name : deployed_.lock_dir_entries())
    EXPECT_TRUE(name == "MirelWebMutex" || name == "MirelWebMutex.ticket") << name;
  EXPECT_EQ(deployed_.site.error_log(), "");
}

TEST_P(Deployment, ARequestOverTlsGetsHttpsLinks) {
  const std::string list = "/list?" + mwtest::title_query("物語");
  const auto plain = get(kScript + list);
  EXPECT_NE(plain.body.find("href=\"http://" + url("/data?BOOKID=")), std::string::npos) << plain.body;
  const auto tls = get(kScript + list, "X-Test-Https: on\r\n");
  EXPECT_NE(tls.body.find("href=\"https://" + url("/data?BOOKID=")), std::string::npos) << tls.body;
  EXPECT_EQ(tls.body.find("http://"), std::string::npos) << tls.body;
}

INSTANTIATE_TEST_SUITE_P(WebServers, Deployment,
                         ::testing::Values(ServerKind{"lighttpd", mwtest::serve_with_lighttpd},
                                           ServerKind{"apache", mwtest::serve_with_apache}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
