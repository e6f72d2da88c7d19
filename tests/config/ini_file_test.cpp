#include <gtest/gtest.h>

#include <optional>

#include "config/ini_file.h"
#include "platform/exception.h"
#include "tests/config/temp_dir.h"

using Mirel::from_ansi;
using Mirel::from_utf8;
using Mirel::UnicodeString;
using Mirel::to_ansi;
using mwtest::read_file;
using mwtest::TempDir;
using mwtest::write_file;

namespace {

TEST(IniRead, FindsValuesByTheRulesOfIniFiles) {
  const std::string file =
      "; a comment\r\n"
      "Html=outside any section\r\n"
      "[Path]\r\n"
      "  Html =  /srv/templates/  \r\n"
      "Db=\"  Mirel Win  \"\r\n"
      "Quoted='single'\r\n"
      "Half=\"open\r\n"
      "Empty=\r\n"
      "Twice=first\r\n"
      "twice=second\r\n"
      "Eq=a=b\r\n"
      "no equals sign\r\n"
      "[path]\r\n"
      "Other=from the repeated section\r\n"
      "[ Spaced ]\r\n"
      "K=v\r\n";
  const Tini_document doc = Tini_document::parse(file);
  struct Case { const char16_t* section; const char16_t* key; std::optional<UnicodeString> value; };
  const Case cases[] = {
      {u"Path", u"Html", u"/srv/templates/"},
      {u"PATH", u"hTML", u"/srv/templates/"},
      {u"Path", u"Db", u"  Mirel Win  "},
      {u"Path", u"Quoted", u"single"},
      {u"Path", u"Half", u"\"open"},
      {u"Path", u"Empty", u""},
      {u"Path", u"TWICE", u"first"},
      {u"Path", u"Eq", u"a=b"},
      {u"Path", u"no equals sign", std::nullopt},
      {u"Path", u"Other", std::nullopt},
      {u"Spaced", u"K", u"v"},
      {u"Missing", u"Html", std::nullopt},
      {u"Path", u"Missing", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(doc.value(c.section, c.key), c.value)
        << Mirel::to_utf8(c.section) << "/" << Mirel::to_utf8(c.key);
  }
  EXPECT_EQ(doc.keys(u"path"),
            (std::vector<UnicodeString>{u"Html", u"Db", u"Quoted", u"Half", u"Empty", u"Twice", u"Eq"}));
  EXPECT_TRUE(doc.keys(u"Nowhere").empty());
}

TEST(IniRead, AcceptsEveryLineEnd) {
  for (const std::string eol : {"\r\n", "\n", "\r"}) {
    const Tini_document doc = Tini_document::parse("[A]" + eol + "x=1" + eol + "[B]" + eol + "y=2");
    EXPECT_EQ(doc.value(u"A", u"x"), u"1");
    EXPECT_EQ(doc.value(u"B", u"y"), u"2");
    EXPECT_EQ(doc.value(u"A", u"y"), std::nullopt);
  }
}

TEST(IniRead, ReadsAtMost2047Characters) {
  const UnicodeString long_value(3000, u'あ');
  const Tini_document doc = Tini_document::parse(
      "[S]\r\nlong=" + to_ansi(long_value) + "\r\nexact=" + std::string(2047, 'x') + "\r\n");
  EXPECT_EQ(doc.value(u"S", u"long"), UnicodeString(2047, u'あ'));
  EXPECT_EQ(doc.value(u"S", u"exact")->size(), 2047u);
}

TEST(IniRead, DecodesCodePage932) {
  // ゼ, ソ and ゾ end in the bytes '[', '\\' and ']': they must neither open
  // nor close a section name.
  const std::string bytes = to_ansi(u"[ゾゼ]\r\n鍵ソ=ゾ値ゼ\r\n");
  ASSERT_EQ(bytes.substr(0, 5), "[\x83\x5D\x83\x5B");
  const Tini_document doc = Tini_document::parse(bytes);
  EXPECT_EQ(doc.value(u"ゾゼ", u"鍵ソ"), u"ゾ値ゼ");
}

TEST(IniRead, MissingFileGivesDefaults) {
  TempDir dir;
  Tread_ini_file<UnicodeString> reader(u"Path", u"Html", u"fallback");
  EXPECT_EQ(reader.read(dir / "absent.ini"), u"fallback");
  write_file(dir / "x.ini", "[Other]\r\nHtml=x\r\n");
  EXPECT_EQ(reader.read(dir / "x.ini"), u"fallback");
  write_file(dir / "y.ini", "[PATH]\nHTML=found\n");
  EXPECT_EQ(reader.read(dir / "y.ini"), u"found");
}

TEST(IniWrite, CreatesChangesAndKeepsEveryOtherLine) {
  struct Case {
    const char* name;
    std::string before;  // empty: no file
    Tini_value value;
    std::string after;
  };
  const Case cases[] = {
      {"new file", "", {u"Path", u"Html", u"/srv/"}, "[Path]\r\nHtml=/srv/\r\n"},
      {"new section after a file without final line end", "[A]\nx=1",
       {u"Path", u"Db", u"MirelWin"}, "[A]\nx=1\r\n[Path]\r\nDb=MirelWin\r\n"},
      {"new key at the end of its section, before blank lines and the next section",
       "; keep\n[path]\nHtml = a \n\n[Next]\nz=9\n", {u"Path", u"Db", u"D"},
       "; keep\n[path]\nHtml = a \nDb=D\r\n\n[Next]\nz=9\n"},
      {"new key in the last section without final line end", "[Path]\rHtml=a",
       {u"Path", u"Db", u"D"}, "[Path]\rHtml=a\r\nDb=D\r\n"},
      {"replace in place, other lines and line ends untouched",
       "[Other]\rdb=x\r[Path]\r\n  DB = old \r\nHtml=h\n", {u"path", u"Db", u"new"},
       "[Other]\rdb=x\r[Path]\r\nDB=new\r\nHtml=h\n"},
      {"CR and LF in a value cannot add lines", "", {u"S", u"k", u"a\r\n[X]\ny=1"},
       "[S]\r\nk=a  [X] y=1\r\n"},
      {"code page 932", "", {u"設定", u"鍵", u"値"}, to_ansi(u"[設定]\r\n鍵=値\r\n")},
  };
  for (const auto& c : cases) {
    TempDir dir;
    const std::string path = dir / "t.ini";
    if (!c.before.empty()) write_file(path, c.before);
    Tini_file<UnicodeString> ini(c.value.section, c.value.key);
    ini.write(path, c.value.value);
    EXPECT_EQ(read_file(path), c.after) << c.name;
  }
}

TEST(IniWrite, WrittenValuesReadBack) {
  TempDir dir;
  const std::string path = dir / "t.ini";
  write_ini_values(path, {{u"Path", u"Html", u"/a/"}, {u"Path", u"Db", u"X"}, {u"Path", u"html", u"/b/"}});
  EXPECT_EQ(read_file(path), "[Path]\r\nHtml=/b/\r\nDb=X\r\n");
  Tini_file<UnicodeString> db(u"PATH", u"DB");
  EXPECT_EQ(db.read(path), u"X");
  // Only one file in the directory: no temporary file is left behind.
  size_t files = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 1u);
}

TEST(IniWrite, FailureThrowsAndNamesTheFile) {
  TempDir dir;
  // The parent of the ini file is a regular file, so nothing can be created there.
  write_file(dir / "plain", "x");
  const std::string path = dir / "plain/mirelweb.ini";
  try {
    write_ini_values(path, {{u"Path", u"Html", u"x"}});
    FAIL() << "no exception";
  } catch (const Mirel::Exception& e) {
    EXPECT_EQ(e.message(), from_utf8(path) + u" に書き込めません");
  }
  EXPECT_NO_THROW(write_ini_values(path, {}));  // nothing to write, nothing done
}

}  // namespace
