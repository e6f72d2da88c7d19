// The new arrivals as a feed ("/feed") inside one module: the range of the
// new-arrivals settings in list.html, entries from the row template that
// FIND_VALUE_LIST names, the feed's content type only on the feed itself,
// a feed without entries when nothing is new, and the lock wait of
// [Web] LockWaitSeconds taken by the module.
#include <gtest/gtest.h>

#include "library/named_mutex.h"
#include "tests/web/web_sandbox.h"

using webtest::WebSandbox;
using namespace Mirel;
using namespace Mirel::MirelWeb;

namespace {

class FeedAction : public ::testing::Test {
 protected:
  void SetUp() override {
    Dbase::TLibraryBuilder lib;
    for (int i = 1; i <= 4; ++i) {
      Dbase::TBook b;
      b.bookid = Dbase::book_id(i);
      b.syomei = i == 4 ? "A & <B>" : "Book " + std::to_string(i);
      b.ukeire = i == 1 ? "20240101" : "20240301";
      lib.add_book(b);
    }
    box.write_library(lib);
    box.write_template("error.html", "ERROR:<#ERR_NAME>");
    box.write_template("list.html", "<#SETUP newbook_typeid=1 newbook_range=1>LIST");
    box.write_template("feed.xml", "<feed><#UKEIRE format=rfc3339><#FIND_VALUE_LIST row=entry.xml></feed>");
    box.write_template("entry.xml", "<e><#SYOMEI escape=xml>|<#DETAIL_URL></e>");
  }
  WebSandbox box;
};

TEST_F(FeedAction, EntriesOfTheNewArrivalsRangeFromTheNamedRowTemplate) {
  box.start("/feed");
  box.serve();
  EXPECT_EQ(box.response->StatusCode(), 200);
  EXPECT_EQ(box.response->ContentType(), "application/atom+xml");
  const std::string body = box.body();
  // The newest date holds books 2 to 4, newest first; ties by book id.
  EXPECT_NE(body.find("<e>Book 2|http://lib.example/cgi-bin/mirelweb/data?BOOKID=0000000002</e>\r\n"
                      "<e>Book 3|http://lib.example/cgi-bin/mirelweb/data?BOOKID=0000000003</e>\r\n"
                      "<e>A &amp; &lt;B&gt;|http://lib.example/cgi-bin/mirelweb/data?BOOKID=0000000004</e>\r\n"
                      "</feed>"),
            std::string::npos)
      << body;
  EXPECT_EQ(body.rfind("<feed>2024-03-01T00:00:00", 0), 0u) << body;
  EXPECT_TRUE(box.mutex_is_free());
}

TEST_F(FeedAction, NothingNewIsAFeedWithoutEntries) {
  // The calendar range of the last 7 days holds none of the books of 2024.
  box.write_template("list.html", "<#SETUP newbook_typeid=2 newbook_range=7>LIST");
  box.start("/feed");
  box.serve();
  EXPECT_EQ(box.response->ContentType(), "application/atom+xml");
  const std::string body = box.body();
  EXPECT_EQ(body.rfind("<feed>", 0), 0u) << body;
  EXPECT_EQ(body.find("<e>"), std::string::npos) << body;
  EXPECT_NE(body.find("T00:00:00"), std::string::npos) << body;
  EXPECT_EQ(box.log(), "");
}

TEST_F(FeedAction, BusyIsTheHtmlBusyPage) {
  auto& module = box.start("/feed");
  module.mutex_timeout = 0;
  TNamedMutex other(kMirelWebMutexName, box.dir.path());
  ASSERT_TRUE(other.wait(0));
  box.serve();
  EXPECT_EQ(box.body(), "ERROR:データベースアクセスが混雑しています");
  EXPECT_EQ(box.response->ContentType(), "text/html");
}

TEST(LockWait, TheModuleWaitsWhatTheInstallationSays) {
  WebSandbox box;
  TWebMainEnvironment environment;
  environment.program_dir = box.dir.path();
  environment.log_path = box.dir / "Error.txt";
  environment.limits.lock_wait_ms = 5000;
  EXPECT_EQ(TWebMain(environment).mutex_timeout, 5000u);
}

}  // namespace
