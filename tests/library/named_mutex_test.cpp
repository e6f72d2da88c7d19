#include "library/named_mutex.h"

#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <fcntl.h>
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

using Mirel::MirelWeb::TLockMode;
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

// The number the next waiter of the lock file at `path` will draw: the
// counter in its first 8 bytes.
uint64_t next_number(const std::string& path) {
  unsigned char bytes[8] = {};
  std::ifstream(path, std::ios::binary).read(reinterpret_cast<char*>(bytes), 8);
  uint64_t n = 0;
  for (int i = 7; i >= 0; --i) n = n << 8 | bytes[i];
  return n;
}

// Blocks until `count` waiters have drawn their numbers from the lock file
// at `path` (inotify on the file, no polling): a waiter has its place in
// the queue once the counter has moved past its number. A counter that
// never gets there fails the test after a minute instead of hanging.
void wait_for_numbers(const std::string& path, uint64_t count) {
  const int in = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(in, 0);
  ASSERT_GE(::inotify_add_watch(in, path.c_str(), IN_MODIFY), 0);
  while (next_number(path) < count) {
    pollfd ready{in, POLLIN, 0};
    if (::poll(&ready, 1, 60000) != 1) {
      ::close(in);
      FAIL() << "the queue never reached " << count;
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
// taking the lock back before the others wake up. No waiter leaves a file.
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
    wait_for_numbers(holder.path(), static_cast<uint64_t>(id - '0') + 1);
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
  holder.close();
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    left.push_back(e.path().filename().string());
  EXPECT_EQ(left, std::vector<std::string>{"MirelWebMutex"});
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
  wait_for_numbers(holder.path(), 3);
  ASSERT_FALSE(HasFatalFailure());
  holder.release();
  EXPECT_EQ(from_child.receive(), 'G');
  EXPECT_EQ(exit_status_of(child), 0);
}

// Readers share the lock: the second one is let in while the first holds
// it (it answers before the first lets go), and a writer is kept out until
// both are done.
TEST(NamedMutex, TwoReadersHoldTheLockAtOnce) {
  ScratchDir dir;
  TNamedMutex first("MirelWebMutex", dir.path());
  ASSERT_TRUE(first.wait(60000, TLockMode::shared));
  Channel to_child, from_child;
  const pid_t child = spawn([&] {
    TNamedMutex second("MirelWebMutex", dir.path());
    from_child.send(second.wait(60000, TLockMode::shared) ? 'G' : 'X');
    to_child.receive();
    return 0;
  });
  EXPECT_EQ(from_child.receive(), 'G');
  TNamedMutex writer("MirelWebMutex", dir.path());
  EXPECT_FALSE(writer.wait(0, TLockMode::exclusive));
  first.release();
  EXPECT_FALSE(writer.wait(0, TLockMode::exclusive)) << "the second reader still holds it";
  to_child.send('q');
  EXPECT_EQ(exit_status_of(child), 0);
  EXPECT_TRUE(writer.wait(0, TLockMode::exclusive));
  EXPECT_FALSE(writer.wait(0, TLockMode::shared)) << "held in the other mode";
}

// A writer that comes while a reader holds the lock waits for it; a reader
// that comes after the writer waits behind the writer instead of joining the
// first reader, and gets in once the writer is done. A reader that only
// tries does not slip in either.
TEST(NamedMutex, ReadersThatComeWhileAWriterWaitsWaitBehindIt) {
  ScratchDir dir;
  TNamedMutex reader("MirelWebMutex", dir.path());
  ASSERT_TRUE(reader.wait(60000, TLockMode::shared));  // number 0
  Channel turns, to_writer;
  const pid_t writer = spawn([&] {
    TNamedMutex mutex("MirelWebMutex", dir.path());
    if (!mutex.wait(60000, TLockMode::exclusive)) return 1;
    turns.send('W');
    to_writer.receive();
    return 0;
  });
  wait_for_numbers(reader.path(), 2);
  ASSERT_FALSE(HasFatalFailure());
  const pid_t late = spawn([&] {
    TNamedMutex mutex("MirelWebMutex", dir.path());
    if (!mutex.wait(60000, TLockMode::shared)) return 1;
    turns.send('R');
    return 0;
  });
  wait_for_numbers(reader.path(), 3);
  ASSERT_FALSE(HasFatalFailure());
  TNamedMutex trier("MirelWebMutex", dir.path());
  EXPECT_FALSE(trier.wait(0, TLockMode::shared)) << "a writer is waiting";
  reader.release();
  EXPECT_EQ(turns.receive(), 'W');
  EXPECT_FALSE(trier.wait(0, TLockMode::shared)) << "the writer holds it";
  to_writer.send('q');
  EXPECT_EQ(turns.receive(), 'R');
  EXPECT_EQ(exit_status_of(writer), 0);
  EXPECT_EQ(exit_status_of(late), 0);
  EXPECT_TRUE(trier.wait(0, TLockMode::shared));
}

// A reader killed while it holds the lock: the writer that waited for it
// gets it at once.
TEST(NamedMutex, KilledReaderLeavesTheLockFree) {
  ScratchDir dir;
  Channel to_child, from_child;
  const pid_t child = spawn([&] {
    TNamedMutex holder("MirelWebMutex", dir.path());
    from_child.send(holder.wait(60000, TLockMode::shared) ? 'G' : 'X');
    to_child.receive();  // never answered: the test kills this process
    return 0;
  });
  ASSERT_EQ(from_child.receive(), 'G');
  TNamedMutex next("MirelWebMutex", dir.path());
  EXPECT_FALSE(next.wait(0, TLockMode::exclusive));
  ASSERT_EQ(::kill(child, SIGKILL), 0);
  EXPECT_EQ(exit_status_of(child), 128 + SIGKILL);
  EXPECT_TRUE(next.wait(60000, TLockMode::exclusive));
}

// The lock file is its owner's alone, whatever the umask, and it stays.
TEST(NamedMutex, LockFileIsTheOwnersAloneAndKept) {
  for (const mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
    ScratchDir dir;
    const mode_t old_mask = ::umask(mask);
    {
      TNamedMutex mutex("MirelWebMutex", dir.path());
      EXPECT_EQ(mutex.path(), dir.path() + "MirelWebMutex");
      ASSERT_TRUE(mutex.wait(1000));
    }
    ::umask(old_mask);
    struct stat st{};
    ASSERT_EQ(::stat((dir.path() + "MirelWebMutex").c_str(), &st), 0) << "never deleted";
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u) << "umask " << mask;
    TNamedMutex again("MirelWebMutex", dir.path());
    EXPECT_TRUE(again.wait(1000)) << "umask " << mask;
  }
}

// A lock file of this user that everyone could open (as older versions
// made it) is narrowed to its owner before it is used.
TEST(NamedMutex, ExistingLockFileOfThisUserIsNarrowed) {
  ScratchDir dir;
  const std::string path = dir.path() + "MirelWebMutex";
  { std::ofstream(path) << ""; }
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  TNamedMutex mutex("MirelWebMutex", dir.path());
  EXPECT_TRUE(mutex.wait(1000));
  struct stat st{};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0660u);
}

constexpr uid_t kNobody = 65534;

// Whatever another user may have put at the lock path before the first
// request is refused, with a message that names the file, and the file it
// stands for is neither written nor given a new mode.
TEST(NamedMutex, RefusesWhatAnotherUserCouldHoldOrReplace) {
  ScratchDir dir;
  const std::string target = dir.path() + "elsewhere";
  const std::string existing = dir.path() + "existing";
  { std::ofstream(existing) << "keep"; }
  ASSERT_EQ(::chmod(existing.c_str(), 0644), 0);
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* name;
    std::function<void(const std::string&)> plant;
    bool needs_root = false;
  };
  const Case cases[] = {
      {"dangling link", [&](const std::string& p) { ASSERT_EQ(::symlink(target.c_str(), p.c_str()), 0); }},
      {"link to a file", [&](const std::string& p) { ASSERT_EQ(::symlink(existing.c_str(), p.c_str()), 0); }},
      {"hard link", [&](const std::string& p) { ASSERT_EQ(::link(existing.c_str(), p.c_str()), 0); }},
      {"directory", [](const std::string& p) { ASSERT_EQ(::mkdir(p.c_str(), 0700), 0); }},
      {"fifo", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); }},
      {"file of another user",
       [](const std::string& p) {
         { std::ofstream(p) << ""; }
         ASSERT_EQ(::chmod(p.c_str(), 0600), 0);
         ASSERT_EQ(::chown(p.c_str(), kNobody, kNobody), 0);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && !root) continue;  // only root can give a file away
    const std::string name = std::string("lock-") + c.name;
    c.plant(dir.path() + name);
    try {
      TNamedMutex mutex(name, dir.path());
      ADD_FAILURE() << "accepted";
    } catch (const Mirel::Exception& e) {
      EXPECT_NE(std::string(e.what()).find(dir.path() + name), std::string::npos) << e.what();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(target)) << "a link was followed";
  std::ifstream in(existing);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "keep");
  struct stat st{};
  ASSERT_EQ(::stat(existing.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

// In a directory that everyone may write without the sticky bit, anyone
// could put their own file in place of the lock file: refused.
TEST(NamedMutex, RefusesADirectoryWhereOthersCouldReplaceTheFile) {
  ScratchDir dir;
  const std::string open_dir = dir.path() + "open";
  ASSERT_EQ(::mkdir(open_dir.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open_dir.c_str(), 0777), 0);
  EXPECT_THROW(TNamedMutex("MirelWebMutex", open_dir), Mirel::Exception);
  ASSERT_EQ(::chmod(open_dir.c_str(), 01777), 0);
  TNamedMutex sticky("MirelWebMutex", open_dir);
  EXPECT_TRUE(sticky.wait(1000));
}

// Another local user can neither open the lock file (so neither hold its
// lock nor rewrite it) nor remove it from a sticky directory.
TEST(NamedMutex, AnotherUserCanNeitherOpenNorRemoveTheFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  ScratchDir dir;
  const std::string shared = dir.path() + "shared";
  ASSERT_EQ(::mkdir(shared.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  TNamedMutex mutex("MirelWebMutex", shared);
  const std::string path = mutex.path();
  const pid_t child = spawn([&] {
    if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) return 2;
    if (::open(path.c_str(), O_RDONLY) >= 0) return 3;
    if (::unlink(path.c_str()) == 0) return 4;
    const std::string own = shared + "/own";
    const int fd = ::open(own.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return 5;
    ::close(fd);
    if (::rename(own.c_str(), path.c_str()) == 0) return 6;
    return 0;
  });
  EXPECT_EQ(exit_status_of(child), 0);
  EXPECT_TRUE(mutex.wait(1000));
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
