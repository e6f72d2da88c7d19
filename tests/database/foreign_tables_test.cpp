// Tables as other programs write them, read through the engine and printed
// by mirelweb-db: field names in code page 932, dBASE 7 field properties,
// NUL bytes and binary memos, 0x5C trail bytes, fields named like the row
// id, Excel's character fields with decimals, language drivers and .cpg
// files, the messages for headers that are no table, and the cap on a memo
// without its end marker. The tables are laid out byte by byte by
// tests/dbase/raw_table.h.

#include <sys/wait.h>

#include <cstdio>
#include <functional>

#include <gtest/gtest.h>

#include "db_fixture.h"
#include "tests/dbase/raw_table.h"

namespace Mirel::Database::Testing {
namespace {

using Dbase::Testing::TRawField;
using Dbase::Testing::TRawTable;

std::string run_tool(const std::string& args, int& status) {
  const std::string cmd = std::string(MW_BINARY_DIR) + "/mirelweb-db " + args + " 2>&1";
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int st = ::pclose(p);
  status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return out;
}

void put(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

void set16(std::string& b, size_t at, uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}

// A table of one C field holding `value`, with language driver `driver`.
std::string text_table(uint8_t driver, const std::string& value) {
  TRawTable t;
  t.driver = driver;
  t.fields = {{"S", 'C', 6}};
  t.records = {value};
  return t.bytes();
}

// A memo file of 512-byte blocks (dBASE III): the header, then `blocks`.
std::string dbt(const std::vector<std::string>& blocks) {
  std::string out(512, '\0');
  out[0] = static_cast<char>(blocks.size() + 1);
  for (const std::string& b : blocks) {
    std::string block = b;
    block.resize((block.size() + 511) / 512 * 512, '\0');
    out += block;
  }
  return out;
}

// dBASE 7: the language driver's name after the header, 48-byte
// descriptors, and field properties between the terminator and the records.
std::string dbase7_with_properties(const std::vector<TRawField>& fields,
                                   const std::vector<std::string>& records) {
  TRawTable t;
  t.version = 0x04;
  t.level7 = true;
  t.fields = fields;
  t.records = records;
  std::string b = t.bytes();
  std::memcpy(&b[32], "DB437US0", 8);
  const size_t header = 68 + 48 * fields.size() + 1;
  const std::string properties = std::string("\x01\x00\x00\x00\x0F\x00", 6) + std::string(30, '\0');
  b.insert(header, properties);
  set16(b, 8, static_cast<uint32_t>(header + properties.size()));
  return b;
}

struct TCase {
  const char* name;
  // Writes t.dbf (and what goes beside it) into the tables directory.
  std::function<void(const std::string& dir)> make;
  std::string args;      // after -p: the command
  std::string expected;  // the whole output; for a failure, part of the message
  int status = 0;
  std::string alias_settings = {};
  // A change made after the first run, and the output of a second run.
  std::function<void(const std::string& dir)> change = {};
  std::string expected_after = {};
};

// Keeps gtest from printing a case as bytes.
void PrintTo(const TCase& c, std::ostream* os) { *os << c.name; }

const std::string kNameKanji = "\x8F\x91\x90\xD0\x96\xBC";  // 書籍名
const std::string kNeko = "\x94\x4C";                       // 猫
const std::string kHyo = "\x95\x5C";                        // 表, 0x5C second
const std::string kShi = "\x8E\xA6";                        // 示

const TCase kCases[] = {
    {"FieldNamesInCodePage932",
     [](const std::string& d) {
       TRawTable t;
       t.fields = {{kNameKanji, 'C', 4}};
       t.records = {kNeko};
       put(d + "/t.dbf", t.bytes());
     },
     "query \"select 書籍名, \\\"書籍名\\\" from t\"", "書籍名\t書籍名\n猫\t猫\n"},
    {"DBase7FieldPropertiesAreSkipped",
     [](const std::string& d) {
       put(d + "/t.dbf", dbase7_with_properties({{"ID", 'C', 3}, {"NAME", 'C', 5}},
                                                {"001hello", "002world"}));
     },
     "query \"select * from t\"", "ID\tNAME\n001\thello\n002\tworld\n"},
    {"DBase7HeaderThatDoesNotParse",
     [](const std::string& d) {
       std::string b = dbase7_with_properties({{"ID", 'C', 3}}, {"001"});
       b[68 + 32] = '\x01';  // the type of the only field
       put(d + "/t.dbf", b);
     },
     "query \"select * from t\"", "フィールド記述を読み取れません", 1},
    {"NulBytesAndBinaryMemos",
     [](const std::string& d) {
       TRawTable t;
       t.version = 0x83;
       t.fields = {{"M", 'M', 10}, {"G", 'G', 10}, {"K", 'C', 1}};
       t.records = {"         1         2k"};
       put(d + "/t.dbf", t.bytes());
       put(d + "/t.dbt", dbt({std::string("ab\0cd\x1A\x1A", 7), std::string("\x89PNG\0\x01\x1A", 7)}));
     },
     "query \"select M, G, K from t\"", "M\tG\tK\nab\\0cd\t<binary, 6 bytes>\tk\n"},
    {"Cp932OutputEscapesCharactersNotBytes",
     [](const std::string& d) { put(d + "/t.dbf", text_table(0x13, kHyo + "\\" + kShi)); },
     "-e cp932 query \"select S from t\"", "S\n" + kHyo + "\\\\" + kShi + "\n"},
    {"FieldNamedRowidKeepsItsValues",
     [](const std::string& d) {
       TRawTable t;
       t.fields = {{"ROWID", 'N', 3}, {"NAME", 'C', 1}};
       t.records = {" 10a", " 20b"};
       put(d + "/t.dbf", t.bytes());
     },
     "query \"select ROWID, _rowid_ AS n, NAME from t order by 2\"",
     "ROWID\tn\tNAME\n10\t1\ta\n20\t2\tb\n", 0, "",
     [](const std::string& d) {
       // Changed in place: the update finds its rows by the free name.
       TRawTable t;
       t.fields = {{"ROWID", 'N', 3}, {"NAME", 'C', 1}};
       t.records = {" 10a", " 30c", " 40d"};
       put(d + "/t.dbf", t.bytes());
       age_tables(d);
     },
     "ROWID\tn\tNAME\n10\t1\ta\n30\t2\tc\n40\t3\td\n"},
    {"FieldsNamedRowidOidAndRowidUnderscore",
     [](const std::string& d) {
       TRawTable t;
       t.fields = {{"ROWID", 'C', 1}, {"_ROWID_", 'C', 1}, {"OID", 'C', 1}};
       t.records = {"xyz"};
       put(d + "/t.dbf", t.bytes());
     },
     "query \"select * from t\"", "ROWID\t_ROWID_\tOID_2\nx\ty\tz\n"},
    {"ExcelCharacterFieldWithDecimals",
     [](const std::string& d) {
       TRawTable t;
       t.fields = {{"NAME", 'C', 8, 2}, {"N", 'N', 4}};
       t.records = {"abcdefgh  12"};
       put(d + "/t.dbf", t.bytes());
     },
     "query \"select NAME, N from t\"", "NAME\tN\nabcdefgh\t12\n"},
    {"ClipperLongCharacterField",
     [](const std::string& d) {
       TRawTable t;
       t.fields = {{"LONG", 'C', 44, 1}};  // 44 + 1 * 256 bytes
       t.header_count = 1;
       std::string b = t.bytes();
       set16(b, 10, 301);
       b.pop_back();  // the end-of-file byte
       b += ' ' + std::string(299, 'x') + "y";
       put(d + "/t.dbf", b);
     },
     "query \"select length(LONG), substr(LONG, 300) from t\"", "length(LONG)\tsubstr(LONG, 300)\n300\ty\n"},
    {"DriverSpanishAnsiIs1252",
     [](const std::string& d) { put(d + "/t.dbf", text_table(0x59, "caf\xE9")); },
     "query \"select S from t\"", "S\ncafé\n"},
    {"DriverEnglishOemIs437",
     [](const std::string& d) { put(d + "/t.dbf", text_table(0x1B, "\x81")); },
     "query \"select S from t\"", "S\nü\n"},
    {"DriverMazoviaIsNamedNotGuessed",
     [](const std::string& d) { put(d + "/t.dbf", text_table(0x69, "x")); },
     "query \"select S from t\"", "コードページ CP620", 1},
    {"CpgFileWhenNoDriver",
     [](const std::string& d) {
       put(d + "/t.dbf", text_table(0x00, "\xE9"));
       put(d + "/T.CPG", "ANSI 1252\r\n");
     },
     "query \"select S from t\"", "S\né\n", 0, "",
     [](const std::string& d) {
       put(d + "/T.CPG", "1251");
       age_tables(d);
     },
     "S\nй\n"},
    {"CpgFileIgnoredBesideADriver",
     [](const std::string& d) {
       put(d + "/t.dbf", text_table(0x13, kNeko));
       put(d + "/t.cpg", "1252");
     },
     "query \"select S from t\"", "S\n猫\n"},
    {"AliasCodePageWinsOverCpg",
     [](const std::string& d) {
       put(d + "/t.dbf", text_table(0x00, kNeko));
       put(d + "/t.cpg", "1252");
     },
     "query \"select S from t\"", "S\n猫\n", 0, "[Alias:MirelWin]\nCodePage=932\n"},
    {"NoFields",
     [](const std::string& d) {
       std::string b(33, '\0');
       b[0] = 0x03;
       set16(b, 8, 33);
       set16(b, 10, 1);
       b[32] = 0x0D;
       put(d + "/t.dbf", b + "\x1A");
     },
     "query \"select * from t\"", "にはフィールドがありません", 1},
    {"FoxBase",
     [](const std::string& d) {
       // FoxBASE / dBASE II: count, date, record length, 16-byte descriptors.
       std::string b(521, '\0');
       b[0] = 0x02;
       b[1] = 1;
       set16(b, 6, 6);
       std::memcpy(&b[8], "NAME", 4);
       b[19] = 'C';
       b[20] = 5;
       b[24] = 0x0D;
       put(d + "/t.dbf", b + " hello\x1A");
     },
     "query \"select * from t\"", "FoxBASE (dBASE II) 形式", 1},
    {"HeaderCutInsideTheDescriptors",
     [](const std::string& d) {
       TRawTable t;
       t.fields = {{"A", 'C', 2}, {"B", 'C', 2}, {"C", 'C', 2}};
       t.records = {"aabbcc"};
       put(d + "/t.dbf", t.bytes().substr(0, 32 + 2 * 32 + 10));
     },
     "query \"select * from t\"", "フィールド記述の途中で切れています", 1},
    {"HeaderLengthBeyondTheFile",
     [](const std::string& d) {
       TRawTable t;
       t.fields = {{"A", 'C', 2}};
       std::string b = t.bytes();
       set16(b, 8, 300);
       put(d + "/t.dbf", b);
     },
     "query \"select * from t\"", "がファイルの大きさ (66 バイト) を超えます", 1},
    {"MemoWithoutEndMarkerIsCapped",
     [](const std::string& d) {
       TRawTable t;
       t.version = 0x83;
       t.fields = {{"M", 'M', 10}};
       t.records = {"         1", "         1"};
       put(d + "/t.dbf", t.bytes());
       put(d + "/t.dbt", dbt({std::string(200 * 1024, 'x')}));
     },
     "query \"select length(M) from t\"", "length(M)\n65536\n65536\n"},
};

class ForeignTables : public ::testing::TestWithParam<TCase> {};

TEST_P(ForeignTables, ReadAsTheyAreMeant) {
  const TCase& c = GetParam();
  TInstallation inst;
  inst.write_ini("[Aliases]\nMirelWin=data\n" + c.alias_settings);
  c.make(inst.data());
  age_tables(inst.data());  // no rereading of a table written a moment ago
  const std::string args = "-p '" + inst.root() + "' " + c.args;
  int status = -1;
  const std::string out = run_tool(args, status);
  EXPECT_EQ(status, c.status) << out;
  if (c.status == 0)
    EXPECT_EQ(out, c.expected);
  else
    EXPECT_NE(out.find(c.expected), std::string::npos) << out;
  if (c.change) {
    c.change(inst.data());
    EXPECT_EQ(run_tool(args, status), c.expected_after);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ForeignTables, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace Mirel::Database::Testing
