#include <gtest/gtest.h>
#include <sys/stat.h>

#include "error/error_log.h"
#include "error/mwerror.h"
#include "tests/config/temp_dir.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;
using mwtest::read_file;
using mwtest::TempDir;

namespace {

TEST(LogLine, HasTheExactShape) {
  struct Case {
    const char* name;
    TLocalTime when;
    std::string client;
    UnicodeString message;
    std::string line;
  };
  const Case cases[] = {
      {"afternoon", {2024, 3, 7, 13, 5, 9}, "192.0.2.7", u"boom",
       "[2024/03/07 13:05:09] [error] [client 192.0.2.7] boom\r\n"},
      {"hour without leading zero", {2024, 12, 31, 9, 0, 0}, "::1", u"x",
       "[2024/12/31 9:00:00] [error] [client ::1] x\r\n"},
      {"midnight drops the time", {2025, 1, 1, 0, 0, 0}, "10.0.0.1", u"m",
       "[2025/01/01] [error] [client 10.0.0.1] m\r\n"},
      {"one second past midnight keeps it", {2025, 1, 1, 0, 0, 1}, "10.0.0.1", u"m",
       "[2025/01/01 0:00:01] [error] [client 10.0.0.1] m\r\n"},
      {"no message", {2024, 3, 7, 1, 2, 3}, "", u"",
       "[2024/03/07 1:02:03] [error] [client ] \r\n"},
      {"CR and LF become spaces", {2024, 3, 7, 1, 2, 3}, "a\r\nb", u"one\r\n[2024/01/01] forged\rx\ny",
       "[2024/03/07 1:02:03] [error] [client a  b] one  [2024/01/01] forged x y\r\n"},
      {"code page 932", {2024, 3, 7, 1, 2, 3}, "h", u"ファイル は開けません",
       "[2024/03/07 1:02:03] [error] [client h] " + to_ansi(u"ファイル は開けません") + "\r\n"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(format_log_line(c.when, c.client, c.message), c.line) << c.name;
}

// Every control byte (C0 and DEL) from the request becomes a space, in the
// message and in the address, and the Japanese text beside it stays whole
// (no code page 932 character contains one of these bytes).
TEST(LogLine, EveryControlCharacterBecomesASpace) {
  UnicodeString message = u"表";
  std::string client = "c";
  for (char16_t c = 0; c < 0x20; ++c) message += c, client += static_cast<char>(c);
  message += u'\x7F';
  client += '\x7F';
  message += u"示";
  const std::string line = format_log_line({2024, 3, 7, 1, 2, 3}, client, message);
  EXPECT_EQ(line, "[2024/03/07 1:02:03] [error] [client c" + std::string(33, ' ') + "] " +
                      to_ansi(u"表") + std::string(33, ' ') + to_ansi(u"示") + "\r\n");
}

TEST(ErrorLog, AppendsWholeLinesToWhatIsThere) {
  TempDir dir;
  const std::string path = dir / "Error.txt";
  mwtest::write_file(path, "earlier line\r\n");
  const TLocalTime noon{2024, 5, 6, 12, 0, 0};
  {
    TErrorLog first(path, [&] { return noon; });
    TErrorLog second(path, [&] { return noon; });
    ASSERT_TRUE(first.is_open());
    first.write("1.1.1.1", u"a");
    second.write("2.2.2.2", u"b");
    first.write("1.1.1.1", u"c");
  }
  EXPECT_EQ(read_file(path),
            "earlier line\r\n"
            "[2024/05/06 12:00:00] [error] [client 1.1.1.1] a\r\n"
            "[2024/05/06 12:00:00] [error] [client 2.2.2.2] b\r\n"
            "[2024/05/06 12:00:00] [error] [client 1.1.1.1] c\r\n");
}

// The log holds visitors' addresses and searches: a new file is readable
// by its owner and group only.
TEST(ErrorLog, NewLogIsNotReadableByEveryone) {
  TempDir dir;
  const std::string path = dir / "Error.txt";
  const mode_t old_mask = ::umask(0);
  { TErrorLog log(path); }
  ::umask(old_mask);
  struct stat st{};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(ErrorLog, LogThatCannotBeOpenedDoesNothing) {
  TempDir dir;
  mwtest::write_file(dir / "plain", "x");
  TErrorLog log(dir / "plain/Error.txt");
  EXPECT_FALSE(log.is_open());
  EXPECT_NO_THROW(log.write("h", u"lost"));
}

TEST(ErrorLog, ThrowingClockLosesTheLineOnly) {
  TempDir dir;
  TErrorLog log(dir / "Error.txt", []() -> TLocalTime { throw std::runtime_error("clock"); });
  EXPECT_NO_THROW(log.write("h", u"lost"));
  EXPECT_EQ(read_file(dir / "Error.txt"), "");
}

TEST(ErrorPair, ReplacesOnlyTheTwoTagsWithLetterCase) {
  Tmwerror error;
  set_busy_error(error);
  struct Case { const char16_t* tag; UnicodeString expected; };
  const Case cases[] = {
      {u"ERR_NAME", u"データベースアクセスが混雑しています"},
      {u"ERR_MSG",
       u"アクセスの集中によって、データベースアクセスでタイムアウトが発生しました。<br>"
       u"しばらく時間をおいて、再度アクセスを試してください。"},
      {u"err_name", u""},
      {u"Err_Msg", u""},
      {u"OTHER", u""},
  };
  for (const auto& c : cases) {
    UnicodeString out;
    error.replace(c.tag, {}, out);
    EXPECT_EQ(out, c.expected) << to_utf8(c.tag);
  }
  set_not_found_error(error);
  EXPECT_EQ(error.get_name(), u"該当書籍は見付かりませんでした");
  EXPECT_EQ(error.get_message(), u"検索項目を減らしたり、検索キーワードを短くする事で見付かる確率が高くなります");
}

}  // namespace
