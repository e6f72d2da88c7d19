// TTableReader on hand-made bytes: every version byte, every field type,
// the three memo formats, and damaged files (cut characters, counts larger
// than the file, missing terminators, truncation, bad memo pointers).
#include <gtest/gtest.h>
#include <unistd.h>

#include "dbase/dbf.h"
#include "tests/dbase/raw_table.h"
#include "tests/dbase/temp_dir.h"

namespace Mirel::Dbase {
namespace {

using namespace Testing;
using Kind = TValue::Kind;

// "漢字" "図書" "表" in code page 932 (表 has 0x5C as its second byte).
const std::string kKanji = "\x8A\xBF\x8E\x9A";
const std::string kTosho = "\x90\x7D\x8F\x91";
const std::string kHyo = "\x95\x5C";

std::string value_text(TTableReader& r, uint32_t rec, const char* field) {
  int f = r.field_index(field);
  EXPECT_GE(f, 0) << field;
  return f < 0 ? "?" : r.value(rec, static_cast<size_t>(f)).as_text();
}
Kind value_kind(TTableReader& r, uint32_t rec, const char* field) {
  int f = r.field_index(field);
  EXPECT_GE(f, 0) << field;
  return f < 0 ? Kind::Blob : r.value(rec, static_cast<size_t>(f)).kind;
}

TRawTable basic_table(uint8_t version) {
  TRawTable t;
  t.version = version;
  t.fields = {
      {"ID", 'C', 10}, {"NAME", 'C', 8}, {"PRICE", 'N', 6}, {"DAY", 'D', 8}, {"OK", 'L', 1}};
  t.records = {"0000000001" + kTosho + "    " + "   120" + "20240401" + "T",
               "0000000002" + kHyo + "      " + "      " + "        " + "?"};
  t.backlink = version == 0x30 || version == 0x31 || version == 0x32;
  return t;
}

class VersionTest : public ::testing::TestWithParam<uint8_t> {};

TEST_P(VersionTest, ReadsTheSameBasicTable) {
  TTempDir dir;
  std::string path = dir.file("t.dbf");
  write_bytes(path, basic_table(GetParam()).bytes());
  TTableReader r(path);
  EXPECT_EQ(r.version(), GetParam());
  ASSERT_EQ(r.fields().size(), 5u);
  ASSERT_EQ(r.record_count(), 2u);
  EXPECT_EQ(r.record_length(), 34u);
  EXPECT_EQ(value_text(r, 0, "ID"), "0000000001");
  EXPECT_EQ(value_text(r, 0, "NAME"), "図書");
  EXPECT_EQ(value_text(r, 0, "PRICE"), "120");
  EXPECT_EQ(value_kind(r, 0, "PRICE"), Kind::Integer);
  EXPECT_EQ(value_text(r, 0, "DAY"), "20240401");
  EXPECT_EQ(value_text(r, 0, "OK"), "1");
  EXPECT_EQ(value_text(r, 1, "NAME"), "表");
  EXPECT_EQ(value_kind(r, 1, "PRICE"), Kind::Null);
  EXPECT_EQ(value_kind(r, 1, "DAY"), Kind::Null);
  EXPECT_EQ(value_kind(r, 1, "OK"), Kind::Null);
}

INSTANTIATE_TEST_SUITE_P(AllVersionBytes, VersionTest,
                         ::testing::Values(0x02, 0x03, 0x04, 0x05, 0x30, 0x31, 0x32, 0x43, 0x7B,
                                           0x83, 0x8B, 0x8C, 0xCB, 0xE5, 0xF5, 0xFB));

TEST(Reader, DBase7Descriptors) {
  TTempDir dir;
  TRawTable t;
  t.version = 0x04;
  t.level7 = true;
  t.fields = {{"A_LONG_FIELD_NAME_OF_DBASE_7", 'C', 4}, {"N", 'I', 4}, {"D", 'O', 8}};
  double d = -2.5;
  uint64_t bits;
  std::memcpy(&bits, &d, 8);
  bits = ~bits;  // negatives are stored with every bit inverted, big-endian
  std::string be;
  for (int k = 7; k >= 0; --k) be.push_back(static_cast<char>(bits >> (8 * k)));
  t.records = {"abcd" + be32(0x80000000u + 42) + be};
  write_bytes(dir.file("t.dbf"), t.bytes());
  TTableReader r(dir.file("t.dbf"));
  ASSERT_EQ(r.fields().size(), 3u);
  EXPECT_EQ(r.fields()[0].name, "A_LONG_FIELD_NAME_OF_DBASE_7");
  EXPECT_EQ(value_text(r, 0, "A_LONG_FIELD_NAME_OF_DBASE_7"), "abcd");
  EXPECT_EQ(r.value(0, 1).integer, 42);
  EXPECT_EQ(r.value(0, 2).real, -2.5);
}

TEST(Reader, NumberRules) {
  TTempDir dir;
  TRawTable t;
  t.fields = {{"N0", 'N', 8}, {"N2", 'N', 8, 2}, {"F", 'F', 8, 1}};
  t.records = {"     -12   12.50    -0.5", "   +0007    3   1.0e3 ", "*****   abc           ",
               "99999999999999999999999"};
  write_bytes(dir.file("n.dbf"), t.bytes());
  TTableReader r(dir.file("n.dbf"));
  struct Row {
    uint32_t rec;
    size_t field;
    Kind kind;
    std::string text;
  } rows[] = {
      {0, 0, Kind::Integer, "-12"}, {0, 1, Kind::Real, "12.5"},
      {0, 2, Kind::Real, "-0.5"},   {1, 0, Kind::Integer, "7"},
      {1, 1, Kind::Real, "3"},      {1, 2, Kind::Real, "1000"},
      {2, 0, Kind::Null, ""},       {2, 1, Kind::Null, ""},
      {2, 2, Kind::Null, ""},       {3, 0, Kind::Integer, "99999999"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::to_string(row.rec) + "/" + std::to_string(row.field));
    TValue v = r.value(row.rec, row.field);
    EXPECT_EQ(v.kind, row.kind);
    EXPECT_EQ(v.as_text(), row.text);
  }
}

TEST(Reader, LogicalAndDateRules) {
  TTempDir dir;
  TRawTable t;
  t.fields = {{"L", 'L', 1}, {"D", 'D', 8}};
  t.records = {"t20240101", "Y00000000", "n        ", "F19991231", " 2024    "};
  write_bytes(dir.file("l.dbf"), t.bytes());
  TTableReader r(dir.file("l.dbf"));
  const char* expected[][2] = {
      {"1", "20240101"}, {"1", ""}, {"0", ""}, {"0", "19991231"}, {"", "2024"}};
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(r.value(i, 0).as_text(), expected[i][0]) << i;
    EXPECT_EQ(r.value(i, 1).as_text(), expected[i][1]) << i;
  }
  EXPECT_TRUE(r.value(1, 1).is_null());
  EXPECT_TRUE(r.value(4, 0).is_null());
}

TEST(Reader, VisualFoxProBinaryTypesAndNullFlags) {
  TTempDir dir;
  TRawTable t;
  t.version = 0x30;
  t.backlink = true;
  t.fields = {{"I", 'I', 4},
              {"B", 'B', 8},
              {"Y", 'Y', 8},
              {"T", 'T', 8},
              {"NC", 'C', 4, 0, 0x02},
              {"V", 'V', 6, 0, 0x02},
              {"_NullFlags", '0', 1, 0, 0x05}};
  // Julian day 2460402 is 2024-04-01; 13:45:30 is 49530000 ms.
  std::string flags_none(1, '\x02');  // V's length bit (bit 1) set, nothing NULL
  std::string flags_null(1, '\x05');  // NC (bit 0) and V (bit 2) NULL
  t.records = {le32(static_cast<uint32_t>(-5)) + f64(2.25) + le64(123456) + le32(2460402) +
                   le32(49530000) + "ab  " + std::string("xyz\0\0\x03", 6) + flags_none,
               le32(7) + f64(0) + le64(0) + le32(0) + le32(0) + "cd  " + "uvwxyz" + flags_null};
  write_bytes(dir.file("v.dbf"), t.bytes());
  TTableReader r(dir.file("v.dbf"));
  EXPECT_EQ(r.header_length(), 32u + 7 * 32 + 1 + 263);
  EXPECT_EQ(r.value(0, 0).integer, -5);
  EXPECT_EQ(r.value(0, 1).kind, Kind::Real);
  EXPECT_EQ(r.value(0, 1).real, 2.25);
  EXPECT_EQ(r.value(0, 2).real, 12.3456);
  EXPECT_EQ(r.value(0, 3).as_text(), "20240401134530");
  EXPECT_EQ(r.value(0, 4).as_text(), "ab");
  EXPECT_EQ(r.value(0, 5).as_text(), "xyz");
  EXPECT_EQ(r.value(1, 0).integer, 7);
  EXPECT_TRUE(r.value(1, 3).is_null());
  EXPECT_TRUE(r.value(1, 4).is_null());
  EXPECT_TRUE(r.value(1, 5).is_null());
  EXPECT_EQ(r.value(1, 6).kind, Kind::Blob);
}

TEST(Reader, UnknownTypesAreRawBlobs) {
  TTempDir dir;
  TRawTable t;
  t.fields = {{"Q", 'Q', 3}, {"X", 'X', 2}};
  t.records = {
      "a\x01z"
      "b "};
  write_bytes(dir.file("q.dbf"), t.bytes());
  TTableReader r(dir.file("q.dbf"));
  EXPECT_EQ(r.value(0, 0).kind, Kind::Blob);
  EXPECT_EQ(r.value(0, 0).text, std::string("a\x01z"));
  EXPECT_EQ(r.value(0, 1).text, "b ");
}

// --- memo files -----------------------------------------------------------

std::string memo_table(uint8_t version, const std::vector<std::string>& pointers) {
  TRawTable t;
  t.version = version;
  t.backlink = version == 0x30;
  uint8_t width = static_cast<uint8_t>(pointers.empty() ? 10 : pointers[0].size());
  t.fields = {{"ID", 'C', 2}, {"NOTE", 'M', width}};
  for (size_t i = 0; i < pointers.size(); ++i)
    t.records.push_back("0" + std::to_string(i) + pointers[i]);
  return t.bytes();
}

TEST(Memo, DBase3BlocksEndAt1A) {
  TTempDir dir;
  std::string memo(512, '\0');
  memo.replace(0, 4, le32(4));
  std::string long_text(600, 'x');
  std::string b1 = kKanji + "\r\n" + long_text + "\x1A\x1A";  // crosses into block 2
  b1.resize(1024, '\0');
  std::string b3 = std::string("short") + "\x1A";
  b3.resize(512, '\0');
  memo += b1 + b3;
  write_bytes(dir.file("m.dbt"), memo);
  write_bytes(dir.file("m.dbf"), memo_table(0x83, {"         1", "         3", "          ",
                                                   "0000000003", "        99"}));
  TTableReader r(dir.file("m.dbf"));
  EXPECT_EQ(r.memo_path(), dir.file("m.dbt"));
  EXPECT_EQ(r.value(0, 1).as_text(), "漢字\r\n" + long_text);
  EXPECT_EQ(r.value(1, 1).as_text(), "short");
  EXPECT_TRUE(r.value(2, 1).is_null());
  EXPECT_EQ(r.value(3, 1).as_text(), "short");
  EXPECT_TRUE(r.value(4, 1).is_null());  // past the end of the memo file
}

TEST(Memo, DBase4BlockHeaderAndBlockSize) {
  TTempDir dir;
  std::string memo(64, '\0');
  memo.replace(0, 4, le32(3));
  memo[20] = 64;                                     // block size 64
  std::string text = kTosho + std::string(70, 'y');  // longer than one block
  std::string b1 =
      std::string("\xFF\xFF\x08\x00", 4) + le32(static_cast<uint32_t>(8 + text.size())) + text;
  b1.resize(128, '\0');
  memo += b1;
  std::string b3 = std::string("\xFF\xFF\x08\x00", 4) + le32(1000) + "cut";  // length past the end
  memo += b3;
  write_bytes(dir.file("m4.dbt"), memo);
  write_bytes(dir.file("m4.dbf"), memo_table(0x8B, {"         1", "         3", "        40"}));
  TTableReader r(dir.file("m4.dbf"));
  EXPECT_EQ(r.value(0, 1).as_text(), "図書" + std::string(70, 'y'));
  EXPECT_EQ(r.value(1, 1).as_text(), "cut");
  EXPECT_TRUE(r.value(2, 1).is_null());
}

TEST(Memo, FoxProFptBigEndian) {
  TTempDir dir;
  std::string memo(64, '\0');
  memo.replace(0, 4, be32(3));
  memo[6] = 0;
  memo[7] = 64;
  std::string b1 = be32(1) + be32(4) + kKanji;
  b1.resize(64, '\0');
  std::string b2 = be32(1) + be32(5) + "hello";
  b2.resize(64, '\0');
  memo += b1 + b2;
  write_bytes(dir.file("f.FPT"), memo);  // other letter case than the table
  write_bytes(dir.file("f.dbf"), memo_table(0xF5, {"         1", "         2", "         0"}));
  TTableReader r(dir.file("f.dbf"));
  EXPECT_EQ(r.memo_path(), dir.file("f.FPT"));
  EXPECT_EQ(r.value(0, 1).as_text(), "漢字");
  EXPECT_EQ(r.value(1, 1).as_text(), "hello");
  EXPECT_TRUE(r.value(2, 1).is_null());

  // Visual FoxPro stores the block number as a 4-byte integer.
  write_bytes(dir.file("vf.fpt"), memo);
  write_bytes(dir.file("vf.dbf"), memo_table(0x30, {le32(2), le32(1), le32(0), le32(500)}));
  TTableReader v(dir.file("vf.dbf"));
  EXPECT_EQ(v.value(0, 1).as_text(), "hello");
  EXPECT_EQ(v.value(1, 1).as_text(), "漢字");
  EXPECT_TRUE(v.value(2, 1).is_null());
  EXPECT_TRUE(v.value(3, 1).is_null());
}

TEST(Memo, MissingMemoFileGivesNull) {
  TTempDir dir;
  write_bytes(dir.file("nomemo.dbf"), memo_table(0x83, {"         1"}));
  TTableReader r(dir.file("nomemo.dbf"));
  EXPECT_TRUE(r.memo_path().empty());
  EXPECT_TRUE(r.value(0, 1).is_null());
  EXPECT_EQ(r.value(0, 0).as_text(), "00");
}

// --- damaged and unusual files ------------------------------------------------

TEST(Damage, CutDoubleByteCharacterBecomesReplacement) {
  TTempDir dir;
  TRawTable t;
  t.fields = {{"A", 'C', 5}, {"B", 'C', 3}};
  t.records = {"ab" + kKanji.substr(0, 2) + "\x8E" + "ok ",  // a lead byte cut off at the end
               "\x8A"
               " bcd"
               "xyz"};  // a lead byte without a trail byte
  write_bytes(dir.file("cut.dbf"), t.bytes());
  TTableReader r(dir.file("cut.dbf"));
  ASSERT_EQ(r.record_count(), 2u);
  EXPECT_EQ(r.value(0, 0).as_text(), "ab漢\xEF\xBF\xBD");
  EXPECT_EQ(r.value(0, 1).as_text(), "ok");
  EXPECT_EQ(r.value(1, 0).as_text(),
            "\xEF\xBF\xBD"
            " bcd");
  EXPECT_EQ(r.value(1, 1).as_text(), "xyz");
}

TEST(Damage, CountLargerThanFileAndPartialRecord) {
  TTempDir dir;
  TRawTable t = basic_table(0x03);
  t.header_count = 1000;
  t.end_of_file = false;
  std::string bytes = t.bytes() + std::string(20, 'z');  // part of a third record
  write_bytes(dir.file("c.dbf"), bytes);
  TTableReader r(dir.file("c.dbf"));
  EXPECT_EQ(r.header_record_count(), 1000u);
  EXPECT_EQ(r.record_count(), 2u);
  EXPECT_EQ(value_text(r, 1, "ID"), "0000000002");
  EXPECT_THROW(r.record(2), EDbaseError);
}

TEST(Damage, CountSmallerThanFileWins) {
  TTempDir dir;
  TRawTable t = basic_table(0x03);
  t.header_count = 1;
  write_bytes(dir.file("c.dbf"), t.bytes());
  EXPECT_EQ(TTableReader(dir.file("c.dbf")).record_count(), 1u);
}

TEST(Damage, MissingTerminators) {
  TTempDir dir;
  TRawTable t = basic_table(0x03);
  t.terminator = false;
  t.end_of_file = false;
  write_bytes(dir.file("t.dbf"), t.bytes());
  TTableReader r(dir.file("t.dbf"));
  EXPECT_EQ(r.fields().size(), 5u);
  EXPECT_EQ(r.record_count(), 2u);
  EXPECT_EQ(value_text(r, 0, "NAME"), "図書");
}

TEST(Damage, DeletedRecordsAreFlagged) {
  TTempDir dir;
  TRawTable t = basic_table(0x03);
  t.deleted = {true, false};
  write_bytes(dir.file("d.dbf"), t.bytes());
  TTableReader r(dir.file("d.dbf"));
  EXPECT_TRUE(r.is_deleted(0));
  EXPECT_FALSE(r.is_deleted(1));
  EXPECT_EQ(r.record(0)[0], '*');
  EXPECT_EQ(value_text(r, 0, "ID"), "0000000001");  // still readable
}

TEST(Damage, FilesThatAreNoTables) {
  TTempDir dir;
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"short header", std::string(20, '\x03')},
      {"record length 0",
       [] {
         std::string b = basic_table(0x03).bytes();
         b[10] = b[11] = 0;
         return b;
       }()},
      {"fields beyond the record",
       [] {
         std::string b = basic_table(0x03).bytes();
         b[10] = 5;
         b[11] = 0;
         return b;
       }()},
      {"no descriptors",
       [] {
         std::string b(33, '\0');
         b[0] = 3;
         b[8] = 33;
         b[10] = 10;
         b[32] = 0x0D;
         return b;
       }()},
  };
  for (const Case& c : cases) {
    write_bytes(dir.file("bad.dbf"), c.bytes);
    EXPECT_THROW(TTableReader(dir.file("bad.dbf")), EDbaseError) << c.name;
  }
  try {
    TTableReader r(dir.file("missing.dbf"));
    FAIL() << "no exception";
  } catch (const EDbaseError& e) {
    EXPECT_NE(std::string(e.what()).find("missing.dbf"), std::string::npos) << e.what();
  }
}

TEST(Damage, FileShrinkingWhileReadIsAnError) {
  TTempDir dir;
  TRawTable t = basic_table(0x03);
  write_bytes(dir.file("s.dbf"), t.bytes());
  TTableReader r(dir.file("s.dbf"));
  ASSERT_EQ(r.record_count(), 2u);
  ASSERT_EQ(::truncate(dir.file("s.dbf").c_str(), static_cast<off_t>(r.header_length())), 0);
  EXPECT_THROW(r.record(0), EDbaseError);
}

TEST(Damage, RangeOfRecordsIsTheirBytesOrAnError) {
  TTempDir dir;
  TRawTable t = basic_table(0x03);
  write_bytes(dir.file("r.dbf"), t.bytes());
  TTableReader r(dir.file("r.dbf"));
  ASSERT_EQ(r.record_count(), 2u);
  const std::string first(r.record(0)), second(r.record(1));
  EXPECT_EQ(r.records(0, 2), first + second);
  EXPECT_EQ(r.records(1, 1), second);
  EXPECT_EQ(r.record(0), first);  // record() reads its own window again
  EXPECT_EQ(r.records(2, 0), "");
  EXPECT_THROW(r.records(1, 2), EDbaseError);
  EXPECT_THROW(r.records(3, 0), EDbaseError);
  // Cut in the middle of the second record while open.
  ASSERT_EQ(::truncate(dir.file("r.dbf").c_str(),
                       static_cast<off_t>(r.header_length() + r.record_length() + 5)),
            0);
  EXPECT_EQ(r.records(0, 1), first);
  EXPECT_THROW(r.records(0, 2), EDbaseError);
}

// --- code pages ---------------------------------------------------------------

TEST(CodePage, DriverByteAndOverride) {
  TTempDir dir;
  TRawTable t;
  t.fields = {{"S", 'C', 6}};
  t.records = {"caf\xE9"};  // "café" in code page 1252
  struct Case {
    uint8_t driver;
    std::string override_cp;
    std::string codepage;
    std::string text;
  } cases[] = {
      {0x57, "", "CP932", "caf\xEF\xBF\xBD"},  // ANSI: the host's 932; 0xE9 is a cut lead byte
      {0x00, "", "CP932", "caf\xEF\xBF\xBD"},
      {0xEE, "", "CP932", "caf\xEF\xBF\xBD"},  // unknown driver
      {0x03, "", "CP932", "caf\xEF\xBF\xBD"},  // "Windows ANSI" too
      {0xC8, "", "CP1250", "caf\xC3\xA9"},     // names its code page
      {0x57, "CP1252", "CP1252", "caf\xC3\xA9"},
      {0x13, "UTF-8", "UTF-8", "caf\xEF\xBF\xBD"},  // not valid UTF-8 either
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.driver) + " " + c.override_cp);
    t.driver = c.driver;
    write_bytes(dir.file("cp.dbf"), t.bytes());
    TTableReader r(dir.file("cp.dbf"), TReadOptions{c.override_cp});
    EXPECT_EQ(r.language_driver(), c.driver);
    EXPECT_EQ(r.codepage(), c.codepage);
    EXPECT_EQ(r.value(0, 0).as_text(), c.text);
  }
  t.driver = 0x57;
  t.records = {"\xE2\x97\x8F\xE3\x81\x82"};  // "●あ" in UTF-8
  write_bytes(dir.file("u8.dbf"), t.bytes());
  EXPECT_EQ(TTableReader(dir.file("u8.dbf"), TReadOptions{"UTF-8"}).value(0, 0).as_text(), "●あ");
  EXPECT_THROW(TTableReader(dir.file("u8.dbf"), TReadOptions{"NO-SUCH-CODEPAGE"}), EDbaseError);
}

TEST(CodePage, Cp932TableAgreesWithPlatformConversion) {
  // Every single byte and every lead/trail pair, against iconv through the
  // platform layer.
  for (int lead = 0; lead < 256; ++lead) {
    std::string one(1, static_cast<char>(lead));
    ASSERT_EQ(cp932_to_utf8(one), to_utf8(from_ansi(one))) << lead;
    if (lead < 0x81) continue;
    for (int trail = 0x30; trail < 256; ++trail) {
      std::string pair = one + static_cast<char>(trail);
      std::string mine = cp932_to_utf8(pair);
      ASSERT_EQ(mine, to_utf8(from_ansi(pair))) << lead << " " << trail;
      if (mine.find("\xEF\xBF\xBD") == std::string::npos && mine.size() > 1) {
        ASSERT_EQ(utf8_to_cp932(mine), to_ansi(from_utf8(mine))) << lead << " " << trail;
      }
    }
  }
  EXPECT_EQ(utf8_to_cp932("a\xE2\x82\xAC\xF0\x9F\x98\x80\xFF"),
            "a???");  // no euro, emoji, bad byte
}

}  // namespace
}  // namespace Mirel::Dbase
