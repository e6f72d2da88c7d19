// The busy page: while another holder keeps the database mutex for longer
// than a request waits, the request answers with the error page of the busy
// texts, status 200 and no log line, and never opens the search. So for
// every action that takes the mutex.
//
// The program waits 60 seconds. A build configured with
// -DMIRELWEB_TEST_HOOKS=ON lets MIRELWEB_TEST_MUTEX_WAIT_MS shorten the wait
// of every holder, and BusyE2E.ShortWait uses it; the full wait is exercised by
// SlowBusyE2E.DISABLED_FullWait, which CTest runs on its own in the "slow"
// group (see CMakeLists.txt) and which needs no hook.
#include <gtest/gtest.h>

#include <utility>

#include "catalogue_site.h"

using mwtest::CatalogueSite;
using mwtest::cp932;
using mwtest::HeldLock;

namespace {

void expect_busy_page(const mwtest::Env& env, const char* path_info = "/list",
                      const char* query = "SYOMEI=cat&PAGENUM=0") {
  SCOPED_TRACE(path_info);
  CatalogueSite site;
  site.write_template("list.html", "<#SETUP newbook_typeid=3 newbook_range=5><#TOTAL_FIND_COUNT>");
  HeldLock lock(site.lock_path());
  ASSERT_TRUE(lock.held());
  mwtest::Env e = site.env(path_info, query);
  e.insert(env.begin(), env.end());
  const auto r = site.run(e);
  EXPECT_EQ(r.status(), "200 OK");
  EXPECT_EQ(r.body(), cp932("データベースアクセスが混雑しています|"
                            "アクセスの集中によって、データベースアクセスでタイムアウトが発生しました。<br>"
                            "しばらく時間をおいて、再度アクセスを試してください。"));
  EXPECT_TRUE(site.log_lines().empty());
  // The search was never opened: no table cache was built.
  EXPECT_FALSE(site.box.exists("data/mirelweb-cache"));
}

}  // namespace

TEST(BusyE2E, ShortWait) {
#ifdef MIRELWEB_TEST_HOOKS
  for (const auto& [path_info, query] : {std::pair{"/list", "SYOMEI=cat&PAGENUM=0"},
                                         std::pair{"/recommend", "PAGENUM=0&STATUS=1"},
                                         std::pair{"/newbook", "PAGENUM=0&STATUS=2"}})
    expect_busy_page({{"MIRELWEB_TEST_MUTEX_WAIT_MS", "100"}}, path_info, query);
#else
  GTEST_SKIP() << "built without MIRELWEB_TEST_HOOKS; the slow group waits the full time";
#endif
}

TEST(SlowBusyE2E, DISABLED_FullWait) { expect_busy_page({}); }
