#include "library/named_mutex.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/exception.h"
#include "scratch_dir.h"

using Mirel::MirelWeb::TNamedMutex;

namespace {

// One direction of a pipe between the test and a forked child: single-byte
// messages, read with a blocking read so that each side waits for the other.
class Channel {
 public:
  Channel() { EXPECT_EQ(::pipe(fds_), 0); }
  ~Channel() {
    for (int fd : fds_) if (fd >= 0) ::close(fd);
  }
  void send(char c) { ASSERT_EQ(::write(fds_[1], &c, 1), 1); }
  // The byte sent, or '\0' when the writing side closed.
  char receive() {
    char c = 0;
    return ::read(fds_[0], &c, 1) == 1 ? c : '\0';
  }

 private:
  int fds_[2] = {-1, -1};
};

// Runs `body` in a child process that ends with its result as exit status;
// no test machinery runs in the child.
pid_t spawn(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}

// Blocks until the file `name` exists in `dir` (inotify, no polling). A
// file that never comes fails the test after a minute instead of hanging.
void wait_for_file(const std::string& dir, const std::string& name) {
  const int in = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(in, 0);
  ASSERT_GE(::inotify_add_watch(in, dir.c_str(), IN_CREATE), 0);
  while (!std::filesystem::exists(dir + name)) {
    pollfd ready{in, POLLIN, 0};
    if (::poll(&ready, 1, 60000) != 1) {
      ::close(in);
      FAIL() << name << " never appeared";
    }
    alignas(inotify_event) char buffer[4096];
    ASSERT_GT(::read(in, buffer, sizeof buffer), 0);
  }
  ::close(in);
}

int exit_status_of(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(NamedMutex, SecondProcessWaitsUntilTheFirstReleases) {
  ScratchDir dir;
  TNamedMutex first("MirelWebMutex", dir.path());
  ASSERT_TRUE(first.wait(60000));

  Channel to_child, from_child;
  const pid_t child = spawn([&] {
    TNamedMutex second("MirelWebMutex", dir.path());
    from_child.send(second.wait(0) ? 'T' : 'F');  // must not get it yet
    const bool got = second.wait(60000);          // returns once the parent releases
    from_child.send(got ? 'G' : 'X');
    to_child.receive();                            // hold until told to finish
    second.release();
    return 0;
  });
  ASSERT_GT(child, 0);

  EXPECT_EQ(from_child.receive(), 'F');
  first.release();
  EXPECT_EQ(from_child.receive(), 'G');
  EXPECT_FALSE(first.wait(0)) << "the child holds the lock now";
  to_child.send('q');
  EXPECT_EQ(exit_status_of(child), 0);
  EXPECT_TRUE(first.wait(60000));
}

TEST(NamedMutex, WaitEndsWithoutTheLockWhenTheHolderKeepsIt) {
  ScratchDir dir;
  Channel to_child, from_child;
  const pid_t child = spawn([&] {
    TNamedMutex holder("MirelWebMutex", dir.path());
    from_child.send(holder.wait(0) ? 'G' : 'X');
    to_child.receive();
    return 0;
  });
  ASSERT_EQ(from_child.receive(), 'G');

  TNamedMutex waiter("MirelWebMutex", dir.path());
  EXPECT_FALSE(waiter.wait(0));
  EXPECT_FALSE(waiter.wait(30));
  EXPECT_FALSE(waiter.is_held());

  to_child.send('q');
  EXPECT_EQ(exit_status_of(child), 0);
  EXPECT_TRUE(waiter.wait(0));
}

TEST(NamedMutex, TwoHandlesInOneProcessExcludeEachOther) {
  ScratchDir dir;
  TNamedMutex a("MirelWebMutex", dir.path());
  TNamedMutex b("MirelWebMutex", dir.path());
  ASSERT_TRUE(a.wait(0));
  EXPECT_TRUE(a.wait(0)) << "the holder may ask again";
  EXPECT_FALSE(b.wait(10));
  a.close();
  EXPECT_TRUE(b.wait(0));
  b.release();
  b.release();  // releasing twice is harmless
  {
    TNamedMutex c("MirelWebMutex", dir.path());
    ASSERT_TRUE(c.wait(0));
  }  // the destructor releases
  EXPECT_TRUE(b.wait(0));
}

// A holder that dies without releasing must not make every later request
// wait in vain: the next waiter obtains the lock at once.
TEST(NamedMutex, KilledHolderLeavesTheLockFree) {
  ScratchDir dir;
  Channel to_child, from_child;
  const pid_t child = spawn([&] {
    TNamedMutex holder("MirelWebMutex", dir.path());
    from_child.send(holder.wait(0) ? 'G' : 'X');
    to_child.receive();  // never answered: the test kills this process
    return 0;
  });
  ASSERT_EQ(from_child.receive(), 'G');

  TNamedMutex next("MirelWebMutex", dir.path());
  EXPECT_FALSE(next.wait(0));
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  EXPECT_EQ(exit_status_of(child), 128 + SIGKILL);
  EXPECT_TRUE(next.wait(0));
}

// Waiters take their turns in the order they began to wait, and a holder
// that lets go and asks again goes to the back of the line instead of
// taking the lock back before the others wake up. A waiter has its place
// once its file "<name>.<number>" exists.
TEST(NamedMutex, WaitersTakeTurnsInTheOrderTheyCame) {
  ScratchDir dir;
  TNamedMutex holder("MirelWebMutex", dir.path());
  ASSERT_TRUE(holder.wait(60000));  // number 0
  Channel turns;
  std::vector<pid_t> children;
  for (char id : {'1', '2', '3'}) {
    children.push_back(spawn([&, id] {
      TNamedMutex mutex("MirelWebMutex", dir.path());
      if (!mutex.wait(60000)) return 1;
      turns.send(id);
      mutex.release();
      return 0;
    }));
    wait_for_file(dir.path(), std::string("MirelWebMutex.") + id);
    ASSERT_FALSE(HasFatalFailure());
  }
  holder.release();
  ASSERT_TRUE(holder.wait(60000));
  turns.send('H');
  holder.release();
  std::string order;
  for (int i = 0; i < 4; ++i) order += turns.receive();
  EXPECT_EQ(order, "123H");
  for (pid_t child : children) EXPECT_EQ(exit_status_of(child), 0);
}

// A waiter that gives up leaves the line: the one behind it is not held up.
TEST(NamedMutex, WaiterThatGivesUpDoesNotHoldUpTheNext) {
  ScratchDir dir;
  TNamedMutex holder("MirelWebMutex", dir.path());
  ASSERT_TRUE(holder.wait(60000));
  TNamedMutex quitter("MirelWebMutex", dir.path());
  EXPECT_FALSE(quitter.wait(20));
  Channel from_child;
  const pid_t child = spawn([&] {
    TNamedMutex next("MirelWebMutex", dir.path());
    from_child.send(next.wait(60000) ? 'G' : 'X');
    return 0;
  });
  wait_for_file(dir.path(), "MirelWebMutex.2");
  ASSERT_FALSE(HasFatalFailure());
  holder.release();
  EXPECT_EQ(from_child.receive(), 'G');
  EXPECT_EQ(exit_status_of(child), 0);
}

TEST(NamedMutex, LockFileIsSharedByEveryUserAndKept) {
  ScratchDir dir;
  const mode_t old_mask = ::umask(077);
  {
    TNamedMutex mutex("MirelWebMutex", dir.path());
    EXPECT_EQ(mutex.path(), dir.path() + "MirelWebMutex");
    ASSERT_TRUE(mutex.wait(0));
  }
  ::umask(old_mask);
  struct stat st{};
  ASSERT_EQ(::stat((dir.path() + "MirelWebMutex").c_str(), &st), 0) << "never deleted";
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0666u);
}

TEST(NamedMutex, ExistingLockFileIsOpenedAsItIs) {
  ScratchDir dir;
  const std::string path = dir.path() + "MirelWebMutex";
  { std::ofstream(path) << "x"; }
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  TNamedMutex mutex("MirelWebMutex", dir.path());
  EXPECT_TRUE(mutex.wait(0)) << "read access is enough for the lock";
  struct stat st{};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u) << "an existing file keeps its mode";
}

TEST(NamedMutex, RefusesWhatIsNotAPlainFile) {
  ScratchDir dir;
  const std::string target = dir.path() + "elsewhere";
  const std::string existing = dir.path() + "existing";
  { std::ofstream(existing) << "keep"; }
  struct Case { const char* name; std::function<void(const std::string&)> plant; };
  const Case cases[] = {
      {"dangling link", [&](const std::string& p) { ASSERT_EQ(::symlink(target.c_str(), p.c_str()), 0); }},
      {"link to a file", [&](const std::string& p) { ASSERT_EQ(::symlink(existing.c_str(), p.c_str()), 0); }},
      {"directory", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); }},
      {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = std::string("lock-") + c.name;
    c.plant(dir.path() + name);
    EXPECT_THROW(TNamedMutex(name, dir.path()), Mirel::Exception);
  }
  EXPECT_FALSE(std::filesystem::exists(target)) << "a link was followed";
  std::ifstream in(existing);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
}

TEST(NamedMutex, MissingDirectoryIsReportedWithThePath) {
  ScratchDir dir;
  try {
    TNamedMutex mutex("MirelWebMutex", dir.path() + "missing");
    FAIL() << "no exception";
  } catch (const Mirel::Exception& e) {
    EXPECT_NE(std::string(e.what()).find(dir.path() + "missing/MirelWebMutex"), std::string::npos)
        << e.what();
  }
}

TEST(NamedMutex, DefaultDirectoryIsTheTemporaryFilesDirectory) {
  ScratchDir dir;
  const char* saved = std::getenv("TMPDIR");
  const std::string saved_value = saved ? saved : "";
  // Without the trailing '/': the separator is added.
  const std::string tmpdir = dir.path().substr(0, dir.path().size() - 1);
  ::setenv("TMPDIR", tmpdir.c_str(), 1);
  {
    TNamedMutex mutex;
    EXPECT_EQ(mutex.path(), dir.path() + "MirelWebMutex");
    EXPECT_TRUE(std::filesystem::exists(mutex.path()));
  }
  if (saved) ::setenv("TMPDIR", saved_value.c_str(), 1); else ::unsetenv("TMPDIR");
}
