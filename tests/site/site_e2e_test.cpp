// The sample site behind lighttpd: every kind of page answers with status
// 200, declares and uses code page 932, shows what the visitor asked for,
// and is valid HTML by html-validate; a held database mutex answers with the
// busy page; every kind of new-arrivals range finds books on the day the
// sample library is written.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "sample_site.h"

namespace fs = std::filesystem;
using mwtest::SampleSite;

namespace {

const std::string kScript = "/cgi-bin/mirelweb";

struct ValidatorRun {
  int exit_code = -1;
  std::string output;
};

// Runs html-validate with the project's configuration over `files`.
ValidatorRun validate_html(const std::vector<std::string>& files) {
  const std::string cli = mwtest::node_dir() + "/node_modules/.bin/html-validate";
  if (!fs::exists(cli)) return {-1, cli + " is missing: run the browser_npm_setup test first"};
  std::string command = "'" + cli + "' --config '" + mwtest::source_dir() +
                        "/tests/site/htmlvalidate.json' --formatter text";
  for (const auto& f : files) command += " '" + f + "'";
  command += " 2>&1";
  ValidatorRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return run;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.output.append(buf, n);
  const int status = ::pclose(pipe);
  run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// A scratch directory for the pages handed to the validator.
class PageDir {
 public:
  PageDir() {
    std::string tmpl = (fs::temp_directory_path() / "mwpages-XXXXXX").string();
    if (::mkdtemp(tmpl.data())) dir_ = tmpl;
  }
  ~PageDir() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  // Stores a page as UTF-8 (the validator reads UTF-8) and returns its path.
  std::string save(const std::string& name, const std::string& utf8) const {
    const std::string path = dir_ + "/" + name + ".html";
    std::ofstream(path, std::ios::binary) << utf8;
    return path;
  }

 private:
  std::string dir_;
};

std::string header_block(const std::string& raw) { return raw.substr(0, raw.find("\r\n\r\n")); }

// The number in <strong>N</strong> of the list template's hit count.
int hit_count(const std::string& utf8_page) {
  const std::string open = "<p class=\"hit-count\"><strong>";
  const size_t at = utf8_page.find(open);
  if (at == std::string::npos) return -1;
  return std::atoi(utf8_page.c_str() + at + open.size());
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

struct PageCase {
  const char* name;
  std::string path;   // after the script name
  std::string query;
  std::vector<std::string> shows;  // UTF-8 texts the page must contain
  int hits = -1;                   // expected hit count on a list page
  int rows = -1;                   // expected result rows on a list page
};

class SampleSitePages : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new SampleSite();
    server_ = new mwtest::Lighttpd(site_->box, site_->lighttpd_conf());
  }
  static void TearDownTestSuite() {
    delete server_;
    delete site_;
  }
  static SampleSite* site_;
  static mwtest::Lighttpd* server_;
};

SampleSite* SampleSitePages::site_ = nullptr;
mwtest::Lighttpd* SampleSitePages::server_ = nullptr;

std::string detail_query(const SampleSite& site, const std::string& title) {
  return "BOOKID=" + site.bookid_of(title) + "&PAGENUM=0&STATUS=0";
}

}  // namespace

TEST_F(SampleSitePages, EveryPageAnswers200WithValidHtml) {
  const SampleSite& site = *site_;
  const bool same_day = mwtest::local_date() == site.today();
  ASSERT_FALSE(site.bookid_of("源氏物語 下").empty());
  std::string isbn_of_kokoro;
  for (const auto& b : site.library().books())
    if (b.syomei == "こころ") isbn_of_kokoro = b.isbn;
  ASSERT_FALSE(isbn_of_kokoro.empty());

  const std::vector<PageCase> pages = {
      {"top", "", "", {"<h1>蔵書検索</h1>", "class=\"recommend\">司書のおすすめ</a>",
                       "class=\"newbook\">新着図書</a>", "<label for=\"syomei\">書名</label>"}},
      {"list-title", "/list", mwtest::title_query("物語"),
       {"<td class=\"query_key\">物語</td>", "<span class=\"cur_page\">1</span>", "class=\"next_page\"",
        "伊勢物語"}, 17, 10},
      {"list-title-page-2", "/list", mwtest::title_query("物語", 1),
       {"class=\"prior_page\"", "<span class=\"cur_page\">2</span>", "源氏物語 下", "貸出中"}, 17, 7},
      {"list-past-the-end", "/list", mwtest::title_query("物語", 5), {"class=\"prior_page\""}, 17, 0},
      {"list-author", "/list", "CHOSYA=%89%C4%96%DA&PAGENUM=0", {"吾輩は猫である", "夏目漱石"}, 6, 6},
      {"list-publisher-sorted", "/list",
       "SYUPAN=%95%9F%89%B9%8A%D9&ORDER=MS_SYUNEN&ORDERKIND=DESC&PAGENUM=0", {"こんとあき"}, 9, 9},
      {"list-isbn", "/list", "ISBN=" + isbn_of_kokoro + "&PAGENUM=0", {"こころ", "貸出中"}, 1, 1},
      {"list-subject", "/list", "KENMEI=%8AG%96%7B&PAGENUM=0", {"<td class=\"query_key\">絵本</td>"}, 18, 10},
      {"detail-on-loan", "/data", detail_query(site, "源氏物語 下"),
       {"<h1 class=\"book-title\">源氏物語 下</h1>", "<div class=\"disabled\">貸出中</div>",
        "class=\"back_to_list\">資料一覧に戻る</a>", "紫式部 著／角田光代 訳", "河出書房新社"}},
      {"detail-missing", "/data", detail_query(site, "だるまさんが"),
       {"<div class=\"disabled\">所在不明</div>", "児童書架"}},
      {"detail-not-for-loan", "/data", detail_query(site, "広辞苑 第七版"),
       {"<div class=\"disabled\">貸出禁止</div>", "<td>R813.1</td>", "参考図書コーナー"}},
      {"detail-available", "/data", detail_query(site, "竹取物語"),
       {"<div class=\"enabled\">貸出可</div>", "<tr><th scope=\"row\">件名</th><td>---</td></tr>"}},
      {"detail-contents", "/data", detail_query(site, "銀河鉄道の夜"),
       {"セロ弾きのゴーシュ", "<td>913.6</td>"}},
      {"recommend", "/recommend", "PAGENUM=0&STATUS=1", {"<span class=\"query_key\">司書のおすすめ</span>"}, 11, 10},
      {"recommend-page-2", "/recommend", "PAGENUM=1&STATUS=1", {"class=\"prior_page\""}, 11, 1},
      {"newbook", "/newbook", "PAGENUM=0&STATUS=2", {"<span class=\"query_key\">新着図書</span>", "カフネ"},
       same_day ? Mirel::Dbase::kSampleAccessionedIn14Days : -1, same_day ? 10 : -1},
      {"not-found", "/list", mwtest::title_query("存在しない書名"),
       {"<h1>該当書籍は見付かりませんでした</h1>", "value=\"存在しない書名\""}},
  };

  PageDir dir;
  std::vector<std::string> files;
  for (const auto& page : pages) {
    SCOPED_TRACE(page.name);
    const auto r = mwtest::http_get(server_->port(),
                                    kScript + page.path + (page.query.empty() ? "" : "?" + page.query));
    ASSERT_EQ(r.status, 200) << r.raw;
    EXPECT_NE(header_block(r.raw).find("Content-Type: text/html"), std::string::npos);
    const std::string html = mwtest::utf8_of(r.body);
    EXPECT_EQ(html.find("\xEF\xBF\xBD"), std::string::npos) << "bytes that are not code page 932";
    EXPECT_NE(html.find("<meta charset=\"Shift_JIS\">"), std::string::npos);
    EXPECT_NE(html.find("<link rel=\"stylesheet\" href=\"/mirelweb.css\">"), std::string::npos);
    for (const auto& text : page.shows) EXPECT_NE(html.find(text), std::string::npos) << text;
    if (page.hits >= 0) {
      EXPECT_EQ(hit_count(html), page.hits);
    }
    if (page.rows >= 0) {
      EXPECT_EQ(count_of(html, "class=\"goto_detail\""), static_cast<size_t>(page.rows));
    }
    files.push_back(dir.save(page.name, html));
  }
  // A search form sent by POST finds what the same GET finds.
  const auto posted = mwtest::http_post(server_->port(), kScript + "/list", mwtest::title_query("物語"));
  EXPECT_EQ(posted.status, 200);
  EXPECT_EQ(hit_count(mwtest::utf8_of(posted.body)), 17);

  const auto css = mwtest::http_get(server_->port(), "/mirelweb.css");
  EXPECT_EQ(css.status, 200);

  const auto validation = validate_html(files);
  EXPECT_EQ(validation.exit_code, 0) << validation.output;
  EXPECT_EQ(site.error_log(), "");
}

TEST_F(SampleSitePages, PagesLinkToEachOtherAbsolutely) {
  // The program's links carry the address the visitor used, so that the
  // site works under whatever host name it is served.
  const auto r = mwtest::http_get(server_->port(), kScript + "/list?" + mwtest::title_query("物語"));
  const std::string html = mwtest::utf8_of(r.body);
  const std::string base = "http://127.0.0.1:" + std::to_string(server_->port()) + kScript;
  EXPECT_NE(html.find("href=\"" + base + "/data?BOOKID="), std::string::npos);
  EXPECT_NE(html.find("href=\"" + base + "/list?PAGENUM=1&SYOMEI=%95%A8%8C%EA&"), std::string::npos);
  EXPECT_NE(html.find("href=\"" + base + "/recommend?PAGENUM=0&STATUS=1\" class=\"recommend\""),
            std::string::npos);
  EXPECT_NE(html.find("href=\"" + base + "\" class=\"back_to_home\">蔵書検索</a>"), std::string::npos);
}

TEST(HtmlValidator, RejectsABrokenPage) {
  // The validation above means something only if a faulty page fails.
  PageDir dir;
  const std::string broken = dir.save(
      "broken",
      "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"Shift_JIS\">\n<title>x</title>\n"
      "</head>\n<body>\n<p id=\"a\">一</p>\n<p id=\"a\">二\n<div>三</p>\n</body>\n</html>\n");
  const auto run = validate_html({broken});
  EXPECT_NE(run.exit_code, 0) << run.output;
  EXPECT_NE(run.output.find("no-dup-id"), std::string::npos) << run.output;
}

namespace {

void expect_busy_page_through_lighttpd(const std::string& environment) {
  SampleSite site;
  mwtest::HeldMutex mutex(site.lock_path());
  ASSERT_TRUE(mutex.held());
  mwtest::Lighttpd server(site.box, site.lighttpd_conf(environment));
  const auto r = mwtest::http_get(server.port(), kScript + "/list?" + mwtest::title_query("物語"));
  ASSERT_EQ(r.status, 200) << r.raw;
  const std::string html = mwtest::utf8_of(r.body);
  EXPECT_NE(html.find("<h1>データベースアクセスが混雑しています</h1>"), std::string::npos) << html;
  EXPECT_NE(html.find("タイムアウトが発生しました。<br>しばらく時間をおいて"), std::string::npos) << html;
  EXPECT_EQ(html.find("class=\"goto_detail\""), std::string::npos);
  EXPECT_EQ(site.error_log(), "");
  PageDir dir;
  const auto validation = validate_html({dir.save("busy", html)});
  EXPECT_EQ(validation.exit_code, 0) << validation.output;
}

}  // namespace

TEST(SampleSiteBusy, HeldMutexAnswersWithTheBusyPage) {
#ifdef MIRELWEB_TEST_HOOKS
  expect_busy_page_through_lighttpd("\"MIRELWEB_TEST_MUTEX_WAIT_MS\" => \"100\"");
#else
  GTEST_SKIP() << "built without MIRELWEB_TEST_HOOKS; site_busy_page_full_wait waits the full minute";
#endif
}

// Run on its own by CTest (label "slow"): the program's full wait.
TEST(SampleSiteBusySlow, DISABLED_FullWait) { expect_busy_page_through_lighttpd(""); }

// Every kind of new-arrivals range of the SETUP tag finds the books that
// the sample library dated for it.
TEST(SampleSiteNewArrivals, EveryRangeKindFindsBooks) {
  struct Kind {
    const char* setup;
    int hits;
    const char* newest;  // the first row: newest first, ties by ascending book id
  };
  const Kind kinds[] = {
      {"newbook_typeid=0 newbook_range=14", Mirel::Dbase::kSampleAccessionedToday, "カフネ"},
      {"newbook_typeid=1 newbook_range=3", Mirel::Dbase::kSampleInNewestThreeDates, "カフネ"},
      {"newbook_typeid=2 newbook_range=14", Mirel::Dbase::kSampleAccessionedIn14Days, "カフネ"},
      {"newbook_typeid=3 newbook_range=10", 10, "大ピンチずかん"},
  };
  SampleSite site;
  const std::string list = site.template_bytes("list.html");
  const std::string sample_setup = "newbook_typeid=2 newbook_range=14";
  const size_t at = list.find(sample_setup);
  ASSERT_NE(at, std::string::npos) << "list.html no longer carries the sample's new-arrivals range";
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.setup);
    std::string changed = list;
    changed.replace(at, sample_setup.size(), kind.setup);
    site.write_template_bytes("list.html", changed);
    const auto r = site.get("/newbook", "PAGENUM=0&STATUS=2");
    ASSERT_EQ(r.status(), "200 OK") << r.output;
    const std::string html = mwtest::utf8_of(r.body());
    // The calendar window moves at midnight; the count is only checked
    // when the request ran on the day the library was dated from.
    if (std::string(kind.setup).find("typeid=2") == std::string::npos ||
        mwtest::local_date() == site.today()) {
      EXPECT_EQ(hit_count(html), kind.hits);
    }
    EXPECT_GT(hit_count(html), 0);
    const size_t first_row = html.find("class=\"goto_detail\">");
    ASSERT_NE(first_row, std::string::npos);
    EXPECT_EQ(html.compare(first_row + 20, std::string(kind.newest).size(), kind.newest), 0)
        << html.substr(first_row, 80);
  }
  EXPECT_EQ(site.error_log(), "");
}
