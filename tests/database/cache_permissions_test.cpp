// Who may read and replace the caches: a cache file is never more readable
// than the table it copies (and follows a later chmod of the table), the
// directory the engine makes is 0750 and lock files 0600; a cache file that
// this user cannot replace is reported by its own path with the chown that
// fixes it.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "db_fixture.h"

namespace Mirel::Database::Testing {
namespace {

namespace fs = std::filesystem;

constexpr uid_t kNobody = 65534;

unsigned mode_of(const std::string& path) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

// Gives every file of the tables (the cache directory aside) `mode` and,
// when not -1, the group `gid`.
void set_table_modes(const TInstallation& inst, mode_t mode, gid_t gid = static_cast<gid_t>(-1)) {
  for (const auto& e : fs::directory_iterator(inst.data())) {
    if (!e.is_regular_file()) continue;
    ASSERT_EQ(::chmod(e.path().c_str(), mode), 0);
    if (gid != static_cast<gid_t>(-1)) {
      ASSERT_EQ(::chown(e.path().c_str(), -1, gid), 0);
    }
  }
}

TEST(CachePermissions, CacheIsNeverMoreReadableThanItsTable) {
  TInstallation inst;
  fixture_library().write(inst.data());
  const std::string cache = inst.cache() + "/kasidasi.sqlite";
  const bool root = ::geteuid() == 0;
  struct Case {
    const char* name;
    mode_t table;
    bool other_group;  // the tables' group is not the cache's (needs root)
    unsigned expected;
  };
  const Case cases[] = {
      {"everyone reads the table", 0644, false, 0644},
      {"the table's group reads it, and it is the cache's group", 0640, false, 0640},
      {"only the owner reads the table", 0600, false, 0600},
      {"another group reads the table", 0640, true, 0600},
      {"everyone again", 0664, false, 0644},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.other_group && !root) continue;
    set_table_modes(inst, c.table, c.other_group ? kNobody : ::getegid());
    // The change of mode alone brings the cache up to date.
    EXPECT_EQ(query_rows("select count(*) from kasidasi.dbf"), (TRows{{"1"}}));
    EXPECT_EQ(mode_of(cache), c.expected);
  }
  EXPECT_EQ(mode_of(inst.cache()) & 0027, 0u) << "a directory made by the engine is 0750";
  EXPECT_EQ(mode_of(cache + ".lock"), 0600u);
}

// Runs `body` as the user nobody in a child process; its text comes back.
std::string as_nobody(const std::function<std::string()>& body) {
  int out[2];
  if (::pipe(out) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    std::string text = "setuid failed";
    if (::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0)
      text = body();
    (void)!::write(out[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  ::waitpid(pid, nullptr, 0);
  return text;
}

// The caches were refreshed by root; the web server's user (here nobody)
// owns the directory but not the files in it. Its requests read the table
// into memory and say which file to chown, not that the directory is
// not writable.
TEST(CachePermissions, CacheFileOfAnotherUserIsReportedByItsPath) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  TInstallation inst;
  fixture_library().write(inst.data());
  EXPECT_EQ(query_rows("select count(*) from master.dbf"), (TRows{{"4"}}));  // root's files
  ASSERT_EQ(::chmod(inst.root().c_str(), 0755), 0);
  ASSERT_EQ(::chown(inst.cache().c_str(), kNobody, kNobody), 0);
  set_table_modes(inst, 0664);  // the cache is out of date now
  const std::string lock = inst.cache() + "/master.sqlite.lock";
  const std::string report = as_nobody([] {
    int warnings = 0;
    set_warning_handler([&](const UnicodeString&) { ++warnings; });
    const bool rows = query_rows("select count(*) from master.dbf") == TRows{{"4"}} &&
                      query_rows("select count(*) from master.dbf") == TRows{{"4"}};
    set_warning_handler(nullptr);
    return std::string(rows ? "" : "wrong rows ") + std::to_string(warnings) + " " +
           to_utf8(last_warning());
  });
  EXPECT_EQ(report.substr(0, 2), "1 ") << report;
  EXPECT_NE(report.find(lock), std::string::npos) << report;
  EXPECT_NE(report.find("chown nobody: " + lock), std::string::npos) << report;
}

}  // namespace
}  // namespace Mirel::Database::Testing
