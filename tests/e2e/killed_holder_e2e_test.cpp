// A holder of the database mutex that is killed with SIGKILL while it holds
// it: the kernel drops the lock with the process, and the next request is
// served normally, with nothing left behind that spoils it.
//
// The real request is stopped at a known point without any waiting on time:
// its template is a FIFO, so the program, having taken the mutex and opened
// the search, blocks reading the template; the test's own open of the FIFO
// for writing returns exactly when the program has opened it. The test then
// sees the mutex held, kills the program and asks again.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "catalogue_site.h"
#include "cgi_oracle.h"

using mwtest::CatalogueSite;
using mwtest::CgiResult;
using mwtest::Env;

namespace fs = std::filesystem;

namespace {

// Starts the program with `env` and its output thrown away; returns its pid.
pid_t spawn(const CatalogueSite& site, const Env& env) {
  std::vector<std::string> strings;
  for (const auto& [k, v] : env) strings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  const std::string program = site.box.program();
  const std::string dir = site.box.dir();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  return pid;
}

// Kills `pid` with SIGKILL and reaps it; true when the signal ended it.
bool kill_and_reap(pid_t pid) {
  ::kill(pid, SIGKILL);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

void write_site_templates(const CatalogueSite& site) {
  site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>\n<#FIND_VALUE_LIST>");
  site.write_template("listrow.html", "<#BOOKID>,");
  site.write_template("page_.html", "DETAIL <#BOOKID>|<#SYOMEI>");
}

// The next requests after the kill: every kind of page as usual, the log
// empty, the mutex free, no temporary file in the cache directory.
void expect_served_normally(const CatalogueSite& site) {
  EXPECT_TRUE(site.lock_is_free());
  const CgiResult list = site.get("/list", "SYOMEI=bird");
  EXPECT_EQ(mwtest::describe(mwtest::process_faults(list)), "");
  EXPECT_EQ(list.status(), "200 OK");
  EXPECT_EQ(list.body(), "LIST 5\n0000000086,\r\n0000000087,\r\n0000000088,\r\n0000000089,\r\n"
                         "0000000090,\r\n");
  EXPECT_EQ(site.get("/data", "BOOKID=0000000086").body(), "DETAIL 0000000086|Bird watching");
  EXPECT_EQ(site.get("/recommend", "PAGENUM=0&STATUS=1").status(), "200 OK");
  EXPECT_TRUE(site.log_lines().empty());
  EXPECT_TRUE(site.lock_is_free());
  const std::string cache = site.box.dir() + "data/mirelweb-cache";
  if (fs::is_directory(cache)) {
    for (const auto& e : fs::directory_iterator(cache))
      EXPECT_EQ(e.path().filename().string().find(".tmp"), std::string::npos) << e.path();
  }
}

}  // namespace

// Any process that holds the lock file's lock, killed.
TEST(KilledLockHolder, HolderProcessKilled) {
  CatalogueSite site;
  write_site_templates(site);
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    mwtest::HeldLock lock(site.lock_path());
    const char held = lock.held() ? 'y' : 'n';
    (void)::write(ready[1], &held, 1);
    for (;;) ::pause();
  }
  ::close(ready[1]);
  char held = 0;
  ASSERT_EQ(::read(ready[0], &held, 1), 1);
  ::close(ready[0]);
  ASSERT_EQ(held, 'y');
  EXPECT_FALSE(site.lock_is_free());
  EXPECT_TRUE(kill_and_reap(holder));
  expect_served_normally(site);
}

// A real request killed while it holds the mutex with its search open, for
// each action that takes the mutex.
struct Stop {
  const char* name;
  const char* path_info;
  const char* query;
  const char* blocking_template;
  // The new-arrivals action reads its template once before it takes the
  // mutex, for its settings: that first reading is given this text.
  const char* settings_pass = nullptr;
};

class KilledRequest : public ::testing::TestWithParam<Stop> {};

TEST_P(KilledRequest, NextRequestIsServed) {
  const Stop& stop = GetParam();
  CatalogueSite site;
  write_site_templates(site);
  const std::string fifo = site.box.dir() + "tpl/" + stop.blocking_template;
  fs::remove(fifo);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

  const pid_t request = spawn(site, site.env(stop.path_info, stop.query));
  // A program that never opens its template would leave the open below
  // waiting: the alarm ends the test binary instead of hanging it.
  ::alarm(300);
  if (stop.settings_pass) {
    const int first = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(first, 0);
    // A new FIFO in its place, so that the open below waits for the
    // program's second opening and cannot meet its first one.
    fs::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string text = stop.settings_pass;
    ASSERT_EQ(::write(first, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(first);
  }
  // Returns once the program has opened its template, that is with the
  // mutex taken and the search open.
  const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ::alarm(0);
  ASSERT_GE(writer, 0);
  EXPECT_FALSE(site.lock_is_free());
  EXPECT_TRUE(kill_and_reap(request));
  ::close(writer);

  fs::remove(fifo);
  write_site_templates(site);
  site.write_template("error.html", "<#ERR_NAME>|<#ERR_MSG>");
  expect_served_normally(site);
}

INSTANTIATE_TEST_SUITE_P(
    MidRequest, KilledRequest,
    ::testing::Values(Stop{"List", "/list", "SYOMEI=cat", "list.html"},
                      Stop{"Detail", "/data", "BOOKID=0000000001", "page_.html"},
                      // No book is recommended: the not-found page, under the mutex.
                      Stop{"Recommend", "/recommend", "PAGENUM=0&STATUS=1", "error.html"},
                      Stop{"NewArrivals", "/newbook", "PAGENUM=0&STATUS=2", "list.html",
                           "<#SETUP newbook_typeid=3 newbook_range=5>"}),
    [](const ::testing::TestParamInfo<Stop>& info) { return std::string(info.param.name); });
