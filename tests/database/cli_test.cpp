// The mirelweb-db tool on the fixture library: its three commands, its
// output encodings and its exit status on failure.

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "db_fixture.h"

namespace Mirel::Database::Testing {
namespace {

struct TRun {
  int status = -1;
  std::string out;
};

// Runs the tool with `args` (already shell-quoted); standard error is
// captured after standard output.
TRun run_tool(const std::string& args) {
  const std::string cmd = std::string(MW_BINARY_DIR) + "/mirelweb-db " + args + " 2>&1";
  TRun r;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return r;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int st = ::pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture_library().write(inst.data());
    inst.write_ini("[Aliases]\nMirelWin=data\nOther=data\n");
  }
  std::string dir() const { return "-p '" + inst.root() + "' "; }
  TInstallation inst;
};

TEST_F(CliTest, TablesListsEveryTableWithItsRecords) {
  const TRun r = run_tool(dir() + "tables");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "feature\t5\nfukuhon\t1\nhimoku\t3\nkasidasi\t1\nkkubun\t4\nkounyu\t3\nmaster\t4\n"
            "skubun\t4\nsyozai\t5\nyoyaku\t2\n");
}

TEST_F(CliTest, QueryPrintsAHeaderAndTabSeparatedRows) {
  const TRun r = run_tool(dir() + "query Other \"select MS_BOOKID, MS_ISBN, MS_SYOMEI from "
                                  "'master.dbf' where MS_BOOKID < '0000000003' order by 1\"");
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out,
            "MS_BOOKID\tMS_ISBN\tMS_SYOMEI\n0000000001\t9784003101018\t吾輩は猫である\n"
            "0000000002\t\tこころ\n");
  const TRun lines = run_tool(dir() + "query \"select 'a' || char(9) || 'b\\c' || char(10) AS x\"");
  EXPECT_EQ(lines.out, "x\na\\tb\\\\c\\n\n");
}

TEST_F(CliTest, Cp932OutputAndInput) {
  const std::string title_cp932 = to_ansi(u"こころ");
  const TRun r = run_tool(dir() + "-e cp932 query \"select MS_BOOKID from master.dbf where "
                                  "MS_SYOMEI = '" + title_cp932 + "'\"");
  EXPECT_EQ(r.out, "MS_BOOKID\n0000000002\n");
  const TRun t = run_tool(dir() + "-e cp932 query \"select MS_SYOMEI from master.dbf where "
                                  "MS_BOOKID = '0000000002'\"");
  EXPECT_EQ(t.out, "MS_SYOMEI\n" + title_cp932 + "\n");
}

TEST_F(CliTest, RefreshSaysWhatItDid) {
  EXPECT_NE(run_tool(dir() + "refresh").out.find("master\t4\trebuilt\n"), std::string::npos);
  age_tables(inst.data());
  run_tool(dir() + "refresh");  // the aged files may differ from what was recorded
  EXPECT_NE(run_tool(dir() + "refresh MIRELWIN").out.find("master\t4\tcurrent\n"),
            std::string::npos);
}

// On a terminal each table's line shows its progress (a full build of
// master's cache up to 100 %) and gives way to the result line; through a
// pipe, as under cron, only the result lines come.
TEST_F(CliTest, RefreshShowsProgressOnATerminalOnly) {
  const TRun piped = run_tool(dir() + "refresh");
  EXPECT_EQ(piped.out.find_first_of("\r%\033"), std::string::npos) << piped.out;
  std::filesystem::remove_all(inst.cache());
  const std::string tool = std::string(MW_BINARY_DIR) + "/mirelweb-db";
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::execl(tool.c_str(), tool.c_str(), "-p", inst.root().c_str(), "refresh", nullptr);
    ::_exit(127);
  }
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(terminal, buf, sizeof buf);
    if (n > 0) out.append(buf, static_cast<size_t>(n));
    else if (n < 0 && errno == EINTR) continue;
    else break;  // EIO once the tool has ended
  }
  ::close(terminal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  EXPECT_NE(out.find("master\t100%"), std::string::npos) << out;
  EXPECT_NE(out.find("\r\033[Kmaster\t4\trebuilt"), std::string::npos) << out;
  EXPECT_LT(out.find("master\t100%"), out.find("master\t4\trebuilt")) << out;
}

TEST_F(CliTest, FailuresExitWithAMessage) {
  struct Case {
    std::string args;
    int status;
    std::string contains;
  };
  const Case cases[] = {
      {"query NoAlias \"select 1\"", 1, "NoAlias"},
      {"query \"select * from gone.dbf\"", 1, "gone.dbf"},
      {"query \"select nope from master.dbf\"", 1, "nope"},
      {"tables Missing", 1, "Missing"},
      {"", 2, "usage"},
      {"frobnicate", 2, "usage"},
      {"-e latin1 tables", 2, "usage"},
  };
  for (const Case& c : cases) {
    const TRun r = run_tool(dir() + c.args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.out;
    EXPECT_NE(r.out.find(c.contains), std::string::npos) << c.args << ": " << r.out;
  }
}

// A cache directory of another user (the web server's) is not written by
// this one: the tool says which command runs it as that user instead.
TEST_F(CliTest, CacheDirectoryOfAnotherUserIsRefusedWithTheCommandToRun) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give the directory away";
  std::filesystem::create_directories(inst.cache());
  ASSERT_EQ(::chown(inst.cache().c_str(), 65534, 65534), 0);
  for (const std::string command : {"refresh", "tables", "query \"select 1\""}) {
    const TRun r = run_tool(dir() + command);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_NE(r.out.find(inst.cache()), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("runuser -u nobody -- " + std::string(MW_BINARY_DIR) + "/mirelweb-db -p " +
                         inst.root() + " "),
              std::string::npos)
        << r.out;
  }
  EXPECT_TRUE(std::filesystem::is_empty(inst.cache())) << "nothing written";
}

}  // namespace
}  // namespace Mirel::Database::Testing
