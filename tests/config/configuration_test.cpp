#include <gtest/gtest.h>

#include <cstdlib>

#include "config/mw_settings.h"
#include "platform/exception.h"
#include "tests/config/temp_dir.h"
#include "tests/unprivileged.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;
using mwtest::exists;
using mwtest::read_file;
using mwtest::TempDir;
using mwtest::write_file;

namespace {

TStrings conf_lines(const std::string& bytes) {
  TempDir dir;
  write_file(dir / "mirelweb.conf", bytes);
  TStrings lines;
  load_conf_lines(dir / "mirelweb.conf", lines);
  return lines;
}

TEST(ConfLines, NormalisesEveryLine) {
  struct Case { const char* name; std::string bytes; TStrings lines; };
  const Case cases[] = {
      {"comments, blanks and line ends",
       "# header\r\n  HTML_PATH = /srv/tpl/   # the templates\r\n\r\nno equals\n\tDB_ALIAS\t=MirelWin\r",
       {u"HTML_PATH=/srv/tpl/", u"DB_ALIAS=MirelWin"}},
      {"only the first = separates", "DB_ALIAS=a=b\n", {u"DB_ALIAS=a=b"}},
      {"# in a value cuts it", "HTML_PATH=/a#b/\n", {u"HTML_PATH=/a"}},
      {"= after the comment does not count", "NAME # x=y\n", {}},
      {"empty value", "DB_ALIAS=\n", {u"DB_ALIAS="}},
      {"code page 932", to_ansi(u"HTML_PATH=/図書/\r\n"), {u"HTML_PATH=/図書/"}},
      {"UTF-8 byte order mark", "\xEF\xBB\xBF" "HTML_PATH=/\xE5\x9B\xB3/\n", {u"HTML_PATH=/図/"}},
      {"UTF-16 LE byte order mark", std::string("\xFF\xFE" "A\0=\0x\0\r\0\n\0B\0=\0y\0", 18),
       {u"A=x", u"B=y"}},
      {"UTF-16 BE byte order mark", std::string("\xFE\xFF\0A\0=\0x\0\r\0B\0=\0y", 16),
       {u"A=x", u"B=y"}},
      {"empty file", "", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(conf_lines(c.bytes), c.lines) << c.name;
}

TEST(ConfLines, NamesMatchWithoutCaseFirstWins) {
  const TStrings lines = conf_lines("db_alias=first\nDB_ALIAS=second\n");
  EXPECT_EQ(value_of(lines, u"DB_ALIAS"), u"first");
}

TEST(ConfLines, UnreadableFileGivesTheFileOpenMessage) {
  TempDir dir;
  ::mkdir((dir / "mirelweb.conf").c_str(), 0755);  // exists, but cannot be read as a file
  TStrings lines;
  try {
    load_conf_lines(dir / "mirelweb.conf", lines);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    const UnicodeString prefix = u"ファイル " + from_utf8(dir / "mirelweb.conf") + u" は開けません。 ";
    EXPECT_EQ(e.message().substr(0, prefix.size()), prefix);
    EXPECT_GT(e.message().size(), prefix.size() + 1);
    EXPECT_EQ(e.message().back(), u' ');
  }
}

TEST(Configuration, ReadsTheIniFileAndIgnoresTheOldFile) {
  TempDir dir;
  write_file(dir / "mirelweb.ini", "[path]\r\nhtml=/srv/tpl/\r\ndb=Lib\r\n");
  write_file(dir / "mirelweb.conf", "HTML_PATH=/old/\n");
  const Tmw_path p = read_configuration(dir.path());
  EXPECT_EQ(p.html_path, u"/srv/tpl/");
  EXPECT_EQ(p.db_alias, u"Lib");
  EXPECT_TRUE(exists(dir / "mirelweb.conf"));
}

TEST(Configuration, IniWithoutPathSectionGivesEmptyValues) {
  TempDir dir;
  write_file(dir / "mirelweb.ini", "[Other]\r\nHtml=/x/\r\n");
  write_file(dir / "mirelweb.conf", "HTML_PATH=/old/\n");
  const Tmw_path p = read_configuration(dir.path());
  EXPECT_EQ(p.html_path, u"");
  EXPECT_EQ(p.db_alias, u"");
}

TEST(Configuration, NoFilesGiveEmptyValues) {
  TempDir dir;
  const Tmw_path p = read_configuration(dir.path());
  EXPECT_TRUE(p.html_path.empty() && p.db_alias.empty());
  EXPECT_FALSE(exists(dir / "mirelweb.ini"));
}

TEST(Configuration, MigratesTheOldFile) {
  TempDir dir;
  write_file(dir / "mirelweb.conf", "HTML_PATH =  " + dir.path() + "tpl/  # templates\r\nDB_ALIAS=MirelWin\r\n");
  const Tmw_path p = read_configuration(dir.path());
  EXPECT_EQ(p.html_path, from_ansi(dir.path()) + u"tpl/");
  EXPECT_EQ(p.db_alias, u"MirelWin");
  EXPECT_EQ(read_file(dir / "mirelweb.ini"), "[Path]\r\nHtml=" + dir.path() + "tpl/\r\nDb=MirelWin\r\n");
  EXPECT_FALSE(exists(dir / "mirelweb.conf"));

  // The next request reads the ini file.
  const Tmw_path again = read_configuration(dir.path());
  EXPECT_EQ(again.html_path, p.html_path);
  EXPECT_EQ(again.db_alias, p.db_alias);
}

TEST(Configuration, OldFileWithoutValuesIsDeletedWithoutCreatingTheIniFile) {
  TempDir dir;
  write_file(dir / "mirelweb.conf", "# nothing here\nHTML_PATH=\nOTHER=1\n");
  const Tmw_path p = read_configuration(dir.path());
  EXPECT_TRUE(p.html_path.empty() && p.db_alias.empty());
  EXPECT_FALSE(exists(dir / "mirelweb.ini"));
  EXPECT_FALSE(exists(dir / "mirelweb.conf"));
}

TEST(Configuration, UnwritableDirectoryFailsAndKeepsTheOldFile) {
  TempDir dir;
  // Permission bits do not bind root: a root test run reads the
  // configuration as nobody, in a child process.
  const bool as_root = mwtest::running_as_root();
  if (!as_root && !mwtest::permissions_are_enforced(dir))
    GTEST_SKIP() << "permission bits do not stop this user";
  write_file(dir / "mirelweb.conf", "DB_ALIAS=MirelWin\n");
  ::chmod(dir.path().c_str(), 0555);
  auto attempt = [&]() -> std::string {
    try {
      read_configuration(dir.path());
      return "no exception";
    } catch (const Exception& e) {
      return to_utf8(e.message());
    }
  };
  if (as_root) mwtest::give_tree_to_nobody(dir.path());
  const std::string outcome = as_root ? mwtest::text_as_nobody(attempt) : attempt();
  EXPECT_EQ(outcome, dir / "mirelweb.ini" + " に書き込めません");
  ::chmod(dir.path().c_str(), 0755);
  EXPECT_TRUE(exists(dir / "mirelweb.conf"));
  EXPECT_FALSE(exists(dir / "mirelweb.ini"));
}

TEST(Configuration, IniFileThatCannotBeWrittenKeepsTheOldFile) {
  // Fails for every user, root included: mirelweb.ini is a dangling link
  // into a regular file, so it does not exist and cannot be created.
  TempDir dir;
  write_file(dir / "mirelweb.conf", "DB_ALIAS=MirelWin\n");
  write_file(dir / "plain", "x");
  ASSERT_EQ(::symlink((dir / "plain/mirelweb.ini").c_str(), (dir / "mirelweb.ini").c_str()), 0);
  try {
    read_configuration(dir.path());
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), from_utf8(dir / "mirelweb.ini") + u" に書き込めません");
  }
  EXPECT_TRUE(exists(dir / "mirelweb.conf"));
}

TEST(Configuration, WritePathSkipsEmptyValues) {
  TempDir dir;
  Tmwini_path ini;
  ini.write_path(dir / "a.ini", Tmw_path{u"", u"Db1", {}});
  EXPECT_EQ(read_file(dir / "a.ini"), "[Path]\r\nDb=Db1\r\n");
  ini.write_path(dir / "a.ini", Tmw_path{u"/h/", u"", {}});
  EXPECT_EQ(read_file(dir / "a.ini"), "[Path]\r\nDb=Db1\r\nHtml=/h/\r\n");
  const Tmw_path p = ini.read(dir / "a.ini");
  EXPECT_EQ(p.html_path, u"/h/");
  EXPECT_EQ(p.db_alias, u"Db1");
}

TEST(TempPath, TakesTmpdirOrTmp) {
  const char* saved = std::getenv("TMPDIR");
  const std::string keep = saved ? saved : "";
  struct Case { const char* value; const char16_t* expected; };
  const Case cases[] = {{"/var/tmp", u"/var/tmp/"}, {"/x/", u"/x/"}, {"", u"/tmp/"}, {nullptr, u"/tmp/"}};
  for (const auto& c : cases) {
    if (c.value) ::setenv("TMPDIR", c.value, 1); else ::unsetenv("TMPDIR");
    EXPECT_EQ(temp_path(), c.expected) << (c.value ? c.value : "(unset)");
  }
  if (saved) ::setenv("TMPDIR", keep.c_str(), 1); else ::unsetenv("TMPDIR");
}

}  // namespace
