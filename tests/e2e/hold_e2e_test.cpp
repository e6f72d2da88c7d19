// The library's maintenance hold, `mirelweb-db hold`, against the program:
// while it holds the database mutex every request gets the busy page after
// its wait, requests that come while it waits for the readers before it wait
// behind it, and the mutex is free again however its command ends. The test
// knows that the hold holds from its command's first line of output, and that
// it waits in line from the counter of the lock file's queue.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "catalogue_site.h"
#include "library/named_mutex.h"

using mwtest::CatalogueSite;
using mwtest::cp932;

namespace {

const std::string kBusy = "データベースアクセスが混雑しています|"
                          "アクセスの集中によって、データベースアクセスでタイムアウトが発生しました。<br>"
                          "しばらく時間をおいて、再度アクセスを試してください。";

struct THold {
  pid_t pid = -1;
  int in = -1;   // the command's standard input
  int out = -1;  // the command's standard output
};

// Starts `mirelweb-db hold ARGS...` with the site's lock directory.
THold start_hold(const CatalogueSite& site, std::vector<std::string> args) {
  args.insert(args.begin(), {mwtest::binary_dir() + "/mirelweb-db", "hold"});
  int in[2], out[2];
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return {};
  const std::string tmpdir = "TMPDIR=" + site.tmp_dir();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    char path[] = "PATH=/usr/bin:/bin";
    char* envp[] = {const_cast<char*>(tmpdir.c_str()), path, nullptr};
    ::execve(argv[0], argv.data(), envp);
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  return {pid, in[1], out[0]};
}

std::string read_line(int fd) {
  std::string line;
  char c;
  while (::read(fd, &c, 1) == 1 && c != '\n') line += c;
  return line;
}

int exit_status_of(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A request with the wait shortened: the busy page while the hold holds.
mwtest::CgiResult list_request(const CatalogueSite& site) {
  mwtest::Env env = site.env("/list", "SYOMEI=bird");
  env["MIRELWEB_TEST_MUTEX_WAIT_MS"] = "100";
  return site.run(env);
}

// The counter of the lock file's queue (its first bytes).
unsigned numbers_drawn(const std::string& lock) {
  unsigned char bytes[2] = {};
  std::ifstream(lock, std::ios::binary).read(reinterpret_cast<char*>(bytes), 2);
  return bytes[0] + (bytes[1] << 8);
}

// Blocks (inotify on the lock file) until `count` numbers have been drawn.
void wait_for_numbers(const std::string& lock, unsigned count) {
  const int in = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(::inotify_add_watch(in, lock.c_str(), IN_MODIFY), 0);
  while (numbers_drawn(lock) < count) {
    pollfd ready{in, POLLIN, 0};
    ASSERT_EQ(::poll(&ready, 1, 60000), 1) << "the queue never reached " << count;
    alignas(inotify_event) char buffer[4096];
    ASSERT_GT(::read(in, buffer, sizeof buffer), 0);
  }
  ::close(in);
}

void write_templates(const CatalogueSite& site) {
  site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>");
}

void expect_served(const CatalogueSite& site) {
  EXPECT_TRUE(site.lock_is_free());
  EXPECT_EQ(site.get("/list", "SYOMEI=bird").body(), "LIST 5");
  EXPECT_TRUE(site.log_lines().empty());
}

struct Ending {
  const char* name;
  int status;  // of the hold
  // Ends the command, given its pid and the hold.
  void (*end)(pid_t command, const THold& hold);
};

void PrintTo(const Ending& ending, std::ostream* os) { *os << ending.name; }

class HoldCommand : public ::testing::TestWithParam<Ending> {};

}  // namespace

TEST_P(HoldCommand, RequestsGetTheBusyPageUntilTheCommandEnds) {
#ifndef MIRELWEB_TEST_HOOKS
  GTEST_SKIP() << "built without MIRELWEB_TEST_HOOKS: every busy page would take a minute";
#endif
  CatalogueSite site;
  write_templates(site);
  ASSERT_TRUE(site.lock_is_free());  // makes the lock file, as the first request would
  const THold hold = start_hold(site, {"--wait", "60", "--", "sh", "-c", "echo $$; read x; exit 3"});
  ASSERT_GT(hold.pid, 0);
  const std::string line = read_line(hold.out);  // the command runs: the hold holds
  ASSERT_FALSE(line.empty());
  const pid_t command = static_cast<pid_t>(std::stol(line));
  EXPECT_FALSE(site.lock_is_free());
  const auto busy = list_request(site);
  EXPECT_EQ(busy.status(), "200 OK");
  EXPECT_EQ(busy.body(), cp932(kBusy));
  GetParam().end(command, hold);
  EXPECT_EQ(exit_status_of(hold.pid), GetParam().status);
  ::close(hold.in);
  ::close(hold.out);
  expect_served(site);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, HoldCommand,
    ::testing::Values(
        // Its exit status is the hold's.
        Ending{"Exits", 3, [](pid_t, const THold& h) { (void)::write(h.in, "\n", 1); }},
        Ending{"Killed", 128 + SIGKILL, [](pid_t c, const THold&) { ::kill(c, SIGKILL); }},
        // Passed on to the command; the hold lets go once it has ended.
        Ending{"HoldTerminated", 128 + SIGTERM,
               [](pid_t, const THold& h) { ::kill(h.pid, SIGTERM); }}),
    [](const auto& info) { return std::string(info.param.name); });

// A hold that waits for a reader: requests that come meanwhile wait behind
// it (and get the busy page), instead of joining the reader.
TEST(Hold, RequestsThatComeWhileTheHoldWaitsWaitBehindIt) {
#ifndef MIRELWEB_TEST_HOOKS
  GTEST_SKIP() << "built without MIRELWEB_TEST_HOOKS: the busy page would take a minute";
#endif
  CatalogueSite site;
  write_templates(site);
  Mirel::MirelWeb::TNamedMutex reader(Mirel::MirelWeb::kMirelWebMutexName, site.tmp_dir());
  ASSERT_TRUE(reader.wait(60000, Mirel::MirelWeb::TLockMode::shared));
  const unsigned before = numbers_drawn(site.lock_path());
  const THold hold = start_hold(site, {"--for", "0"});
  ASSERT_GT(hold.pid, 0);
  wait_for_numbers(site.lock_path(), before + 1);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(list_request(site).body(), cp932(kBusy));
  reader.release();
  EXPECT_EQ(exit_status_of(hold.pid), 0);
  ::close(hold.in);
  ::close(hold.out);
  expect_served(site);
}

// A hold that cannot have the mutex runs nothing (status 75); a command that
// cannot be started ends the hold with 127; usage errors with 2. The mutex
// is free afterwards.
TEST(Hold, FailuresRunNothingAndLeaveTheLockFree) {
  CatalogueSite site;
  write_templates(site);
  const std::string marker = site.box.dir() + "ran";
  ASSERT_TRUE(site.lock_is_free());
  struct Case {
    std::vector<std::string> args;
    bool lock_held;
    int status;
  };
  const Case cases[] = {
      {{"--wait", "0", "--", "touch", marker}, true, 75},
      {{"--", "no-such-command-here"}, false, 127},
      {{}, false, 2},
      {{"--for", "1", "--", "touch", marker}, false, 2},
      {{"--wait", "soon", "--", "touch", marker}, false, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    {
      std::optional<mwtest::HeldLock> lock;
      if (c.lock_held) {
        lock.emplace(site.lock_path());
        ASSERT_TRUE(lock->held());
      }
      const THold hold = start_hold(site, c.args);
      ASSERT_GT(hold.pid, 0);
      ::close(hold.in);
      ::close(hold.out);
      EXPECT_EQ(exit_status_of(hold.pid), c.status);
    }
    EXPECT_FALSE(std::filesystem::exists(marker));
    EXPECT_TRUE(site.lock_is_free());
  }
}

// Run by root, the hold never leaves a lock file that the web server's user
// could not open: one it creates goes to the owner of the directory, and in
// a directory of root's it creates none; one the directory's owner made is
// used.
TEST(Hold, RootGivesTheLockFileToTheOwnerOfItsDirectory) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  CatalogueSite site;
  const std::string lock = site.lock_path();
  std::filesystem::remove(lock);
  THold hold = start_hold(site, {"--", "true"});
  EXPECT_EQ(exit_status_of(hold.pid), 1);
  EXPECT_FALSE(std::filesystem::exists(lock));
  ::close(hold.in);
  ::close(hold.out);

  constexpr uid_t kNobody = 65534;
  ASSERT_EQ(::chown(site.tmp_dir().c_str(), kNobody, kNobody), 0);
  hold = start_hold(site, {"--", "true"});
  EXPECT_EQ(exit_status_of(hold.pid), 0);
  struct stat st{};
  ASSERT_EQ(::stat(lock.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kNobody);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ::close(hold.in);
  ::close(hold.out);

  // The next night's hold finds the file the web server's user made.
  hold = start_hold(site, {"--", "true"});
  EXPECT_EQ(exit_status_of(hold.pid), 0);
  ::close(hold.in);
  ::close(hold.out);
  ASSERT_EQ(::chown(site.tmp_dir().c_str(), 0, 0), 0);
}
