// Two processes at one stale cache: the one that finds the table's lock
// taken waits for it, then looks at the table again and builds from what
// is there now. The handshake is a pipe plus the kernel's own list of
// blocked locks (/proc/locks), so the test never sleeps.

#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "database/database.h"
#include "db_fixture.h"
#include "dbase/dbf.h"

namespace Mirel::Database::Testing {
namespace {

// Whether some process waits for a flock on the file with this inode.
bool someone_waits_for(ino_t inode) {
  std::ifstream locks("/proc/locks");
  std::string line;
  const std::string needle = ":" + std::to_string(inode) + " ";
  while (std::getline(locks, line))
    if (line.find("->") != std::string::npos && line.find(needle) != std::string::npos)
      return true;
  return false;
}

void write_all(int fd, const std::string& s) {
  size_t done = 0;
  while (done < s.size()) {
    const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

std::string read_all(int fd) {
  std::string out;
  char buf[256];
  ssize_t n;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

// In a child: runs `sql` and writes its first column's values, or the error.
[[noreturn]] void child_query(int out_fd, const char* sql) {
  std::string result;
  try {
    for (const auto& row : query_rows(sql)) result += row[0] + "\n";
  } catch (const std::exception& e) {
    result = std::string("ERROR ") + e.what();
  }
  write_all(out_fd, result);
  ::_exit(0);
}

TEST(Concurrency, WaiterForTheTableLockBuildsFromTheTableAsItIsThen) {
  if (!std::ifstream("/proc/locks")) GTEST_SKIP() << "no /proc/locks";
  TInstallation inst;
  fixture_library().write(inst.data());
  age_tables(inst.data());
  std::filesystem::create_directories(inst.cache());
  const std::string lock_path = inst.cache() + "/master.sqlite.lock";
  const int lock_fd = ::open(lock_path.c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(lock_fd, 0);
  ASSERT_EQ(::flock(lock_fd, LOCK_EX), 0);

  int started[2], result[2];
  ASSERT_EQ(::pipe(started), 0);
  ASSERT_EQ(::pipe(result), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(lock_fd);  // the lock belongs to the parent's open file
    ::close(started[0]);
    ::close(result[0]);
    write_all(started[1], "S");
    child_query(result[1], "select MS_SYOMEI from master.dbf where MS_BOOKID = '0000000003'");
  }
  ::close(started[1]);
  ::close(result[1]);
  char c = 0;
  ASSERT_EQ(::read(started[0], &c, 1), 1);

  // The child must come to wait for our lock; finishing instead would mean
  // it built the cache without taking it.
  const ino_t lock_inode = inode_of(lock_path);
  int status = 0;
  while (!someone_waits_for(lock_inode)) {
    ASSERT_EQ(::waitpid(child, &status, WNOHANG), 0) << "the child did not wait for the lock";
    sched_yield();
  }

  // While it waits, the table changes; the child must see the new title.
  {
    auto w = Dbase::TTableWriter::open(inst.data() + "/master.dbf");
    Dbase::TBook b = fixture_library().books()[2];
    b.syomei = "それから";
    w->rewrite(2, Dbase::master_row(b));
  }
  age_tables(inst.data(), 1800);
  ::close(lock_fd);

  EXPECT_EQ(read_all(result[0]), "それから\n");
  ::close(result[0]);
  ::close(started[0]);
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  EXPECT_EQ(query_rows("select MS_SYOMEI from master.dbf where MS_BOOKID = '0000000003'"),
            (TRows{{"それから"}}));
  for (const auto& e : std::filesystem::directory_iterator(inst.cache()))
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
}

TEST(Concurrency, ProcessesQueryingAStaleCacheAtOnceAllGetWholeResults) {
  TInstallation inst;
  fixture_library().write(inst.data());
  constexpr int kChildren = 3;
  pid_t pids[kChildren];
  int fds[kChildren];
  for (int i = 0; i < kChildren; ++i) {
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    pids[i] = ::fork();
    ASSERT_GE(pids[i], 0);
    if (pids[i] == 0) {
      ::close(p[0]);
      child_query(p[1], kRecommendSql);
    }
    ::close(p[1]);
    fds[i] = p[0];
  }
  for (int i = 0; i < kChildren; ++i) {
    const std::string out = read_all(fds[i]);
    ::close(fds[i]);
    EXPECT_EQ(out, "0000000001\n0000000002\n0000000002\n0000000005\n") << "child " << i;
    int status = 0;
    ASSERT_EQ(::waitpid(pids[i], &status, 0), pids[i]);
  }
}

}  // namespace
}  // namespace Mirel::Database::Testing
