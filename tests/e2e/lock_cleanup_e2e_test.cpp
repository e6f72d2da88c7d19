// The database mutex as a web server meets it: a server may end the program
// with SIGTERM the moment it has the whole response (lighttpd does), or
// while the request still waits for its turn. Either way nothing is left in
// the temporary directory but the one lock file, and the next request is
// served. A no-hit page is written only after the mutex is free. A file
// that another user planted at the lock path fails the request with a log
// line that names it.
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
#include <string>
#include <vector>

#include "catalogue_site.h"

using mwtest::CatalogueSite;
using mwtest::Env;

namespace fs = std::filesystem;

namespace {

struct TRunning {
  pid_t pid = -1;
  int out = -1;  // the read end of the program's standard output
};

// Starts the program with `env`; its standard output is a pipe of the
// smallest size, so that a page larger than that keeps the program
// writing until the test reads.
TRunning start(const CatalogueSite& site, const Env& env) {
  std::vector<std::string> strings;
  for (const auto& [k, v] : env) strings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  const std::string program = site.box.program();
  const std::string dir = site.box.dir();
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return {};
  (void)::fcntl(out[1], F_SETPIPE_SZ, 4096);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(out[1], 1);
    ::dup2(null, 2);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    ::execve(program.c_str(), argv, envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  return {pid, out[0]};
}

// Sends SIGTERM and reaps; true when the program was still there to get it
// or had ended normally.
void terminate_and_reap(pid_t pid) {
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
}

// Reads the whole response (header block and Content-Length bytes of body)
// without waiting for the end of the output.
std::string read_response(int fd) {
  std::string data;
  char buffer[8192];
  for (;;) {
    const size_t head_end = data.find("\r\n\r\n");
    if (head_end != std::string::npos) {
      const size_t at = data.find("Content-Length: ");
      if (at != std::string::npos && at < head_end &&
          data.size() >= head_end + 4 + std::stoul(data.substr(at + 16)))
        return data;
    }
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) return data;
    data.append(buffer, static_cast<size_t>(n));
  }
}

std::vector<std::string> files_in(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

void expect_next_request_served(const CatalogueSite& site) {
  const auto list = site.get("/list", "SYOMEI=bird");
  EXPECT_EQ(list.status(), "200 OK");
  EXPECT_EQ(list.body(), "LIST 5");
  EXPECT_TRUE(site.log_lines().empty());
  EXPECT_EQ(files_in(site.tmp_dir()), std::vector<std::string>{"MirelWebMutex"});
  EXPECT_TRUE(site.lock_is_free());
}

}  // namespace

// A no-hit page far larger than the pipe: while the program is still
// writing it, the mutex is already free. The test then reads the whole
// response and ends the program at once, as lighttpd does.
TEST(LockCleanup, NoHitPageIsWrittenAfterTheMutexIsFreeAndSigtermLeavesNothing) {
  CatalogueSite site;
  site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>");
  std::string filler;
  for (int i = 0; i < 2000; ++i) filler += std::string(99, 'x') + "\n";
  site.write_template("error.html", "<#ERR_NAME>" + filler);
  const TRunning run = start(site, site.env("/list", "SYOMEI=nothing-like-this"));
  ASSERT_GT(run.pid, 0);
  pollfd ready{run.out, POLLIN, 0};
  ASSERT_EQ(::poll(&ready, 1, 60000), 1) << "no output";
  // The pipe holds 4096 bytes of a 200 kB page: the program is writing.
  EXPECT_TRUE(site.lock_is_free()) << "the page is written under the mutex";
  const std::string response = read_response(run.out);
  terminate_and_reap(run.pid);
  ::close(run.out);
  EXPECT_EQ(response.find("Status: 200 OK"), 0u);
  EXPECT_NE(response.find(mwtest::cp932("該当書籍は見付かりませんでした") + "xxx"), std::string::npos);
  EXPECT_GT(response.size(), 200000u);
  expect_next_request_served(site);
}

// A request killed with SIGTERM while it waits in the queue behind a
// holder: it leaves no file, and the queue does not wait for it.
TEST(LockCleanup, RequestKilledWhileWaitingLeavesNothing) {
  CatalogueSite site;
  site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>");
  ASSERT_EQ(site.get("/list", "SYOMEI=bird").body(), "LIST 5");  // makes the lock file
  const std::string lock = site.lock_path();
  auto numbers_drawn = [&] {
    unsigned char bytes[8] = {};
    std::ifstream(lock, std::ios::binary).read(reinterpret_cast<char*>(bytes), 8);
    return bytes[0] + (bytes[1] << 8);
  };
  const int before = numbers_drawn();
  {
    mwtest::HeldLock holder(lock);
    ASSERT_TRUE(holder.held());
    const int in = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(in, lock.c_str(), IN_MODIFY), 0);
    const TRunning run = start(site, site.env("/list", "SYOMEI=bird"));
    ASSERT_GT(run.pid, 0);
    // The request has its place in the queue once it has drawn a number.
    while (numbers_drawn() == before) {
      pollfd ready{in, POLLIN, 0};
      ASSERT_EQ(::poll(&ready, 1, 60000), 1) << "the request never queued";
      alignas(inotify_event) char buffer[4096];
      ASSERT_GT(::read(in, buffer, sizeof buffer), 0);
    }
    ::close(in);
    terminate_and_reap(run.pid);
    ::close(run.out);
  }
  expect_next_request_served(site);
}

// What another user put at the lock path before the first request makes
// every search fail until it is removed, with a log line naming the file;
// the file a link points at is left as it was.
TEST(LockCleanup, PlantedLinkFailsTheRequestWithALogLineNamingIt) {
  CatalogueSite site;
  site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>");
  const std::string victim = site.box.dir() + "victim";
  site.box.write_file("victim", "keep");
  ASSERT_EQ(::symlink(victim.c_str(), site.lock_path().c_str()), 0);
  const auto refused = site.get("/list", "SYOMEI=bird");
  EXPECT_EQ(refused.status(), "500 Internal Server Error");
  ASSERT_FALSE(site.log_lines().empty());
  EXPECT_NE(site.log_lines()[0].find(site.lock_path()), std::string::npos) << site.log_lines()[0];
  EXPECT_EQ(site.box.read_file("victim"), "keep");
  fs::remove(site.lock_path());
  fs::remove(site.box.dir() + "Error.txt");
  fs::remove(victim);
  expect_next_request_served(site);
}
