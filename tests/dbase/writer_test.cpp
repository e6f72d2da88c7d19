// Tables written by TTableWriter read back through TTableReader: every
// writable field type, memo texts, deletion marks, appending to an existing
// table and rewriting records in place.
#include <gtest/gtest.h>

#include "dbase/dbf.h"
#include "tests/dbase/temp_dir.h"

namespace Mirel::Dbase {
namespace {

using Testing::TTempDir;
using Kind = TValue::Kind;

std::vector<TFieldDef> book_fields() {
  return {{"BOOKID", 'C', 10}, {"TITLE", 'C', 11}, {"PRICE", 'N', 8}, {"RATE", 'N', 6, 2},
          {"UKEIRE", 'D', 8},  {"OK", 'L', 1},     {"NOTE", 'M', 10}};
}

TEST(Writer, RoundTripOfEveryType) {
  TTempDir dir;
  std::string path = dir.file("books.dbf");
  {
    auto w = TTableWriter::create(path, book_fields());
    w->append({"0000000001", "吾輩は猫である", "1200", "1.5", "20240401", "T", "長い\r\n内容"});
    w->append({"0000000002", "", "", "", "", "", ""});
    w->append({"0000000003", "ABC", "-7", "-0.25", "00000000", "F", ""}, true);
    w->close();
  }
  TTableReader r(path);
  EXPECT_EQ(r.version(), 0x83);
  EXPECT_EQ(r.language_driver(), 0x13);
  EXPECT_EQ(r.record_count(), 3u);
  EXPECT_EQ(r.header_record_count(), 3u);
  EXPECT_EQ(r.fields().size(), 7u);
  EXPECT_EQ(r.field_index("price"), 2);
  EXPECT_EQ(r.field_index("nope"), -1);
  EXPECT_FALSE(r.memo_path().empty());

  struct Row {
    uint32_t rec;
    const char* field;
    Kind kind;
    std::string text;
  };
  const Row rows[] = {
      {0, "BOOKID", Kind::Text, "0000000001"},
      {0, "TITLE", Kind::Text,
       "吾輩は猫で"},  // 11 bytes: the sixth character would be cut, so it is left out
      {0, "PRICE", Kind::Integer, "1200"},
      {0, "RATE", Kind::Real, "1.5"},
      {0, "UKEIRE", Kind::Text, "20240401"},
      {0, "OK", Kind::Integer, "1"},
      {0, "NOTE", Kind::Text, "長い\r\n内容"},
      {1, "TITLE", Kind::Null, ""},
      {1, "PRICE", Kind::Null, ""},
      {1, "RATE", Kind::Null, ""},
      {1, "UKEIRE", Kind::Null, ""},
      {1, "OK", Kind::Null, ""},
      {1, "NOTE", Kind::Null, ""},
      {2, "TITLE", Kind::Text, "ABC"},
      {2, "PRICE", Kind::Integer, "-7"},
      {2, "RATE", Kind::Real, "-0.25"},
      {2, "UKEIRE", Kind::Null, ""},
      {2, "OK", Kind::Integer, "0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.field) + " of record " + std::to_string(row.rec));
    TValue v = r.value(row.rec, static_cast<size_t>(r.field_index(row.field)));
    EXPECT_EQ(v.kind, row.kind);
    EXPECT_EQ(v.as_text(), row.text);
  }
  EXPECT_FALSE(r.is_deleted(0));
  EXPECT_TRUE(r.is_deleted(2));
}

TEST(Writer, TableWithoutMemoIsVersion03AndHasNoMemoFile) {
  TTempDir dir;
  std::string path = dir.file("kubun.dbf");
  TTableWriter::create(path, {{"CODE", 'C', 2}, {"NAME", 'C', 20}})->append({"01", "一般"});
  TTableReader r(path);
  EXPECT_EQ(r.version(), 0x03);
  EXPECT_TRUE(r.memo_path().empty());
  EXPECT_EQ(r.record_count(), 1u);
  EXPECT_EQ(r.value(0, 1).text, "一般");
}

TEST(Writer, AppendRewriteAndDeleteOnExistingTable) {
  TTempDir dir;
  std::string path = dir.file("loans.dbf");
  TTableWriter::create(path, book_fields())->append({"0000000001", "一", "", "", "", "", "最初"});
  {
    auto w = TTableWriter::open(path);
    EXPECT_EQ(w->record_count(), 1u);
    EXPECT_EQ(w->append({"0000000002", "二", "", "", "", "", "二番目"}), 1u);
    w->flush();
    // Visible to a reader after flush, before close.
    TTableReader mid(path);
    EXPECT_EQ(mid.record_count(), 2u);
    EXPECT_EQ(mid.value(1, 6).text, "二番目");
    w->rewrite(0, {"0000000001", "改", "5", "", "", "", "書き直し"});
    w->set_deleted(1, true);
  }
  TTableReader r(path);
  ASSERT_EQ(r.record_count(), 2u);
  EXPECT_EQ(r.value(0, 1).text, "改");
  EXPECT_EQ(r.value(0, 2).integer, 5);
  EXPECT_EQ(r.value(0, 6).text, "書き直し");
  EXPECT_TRUE(r.is_deleted(1));
  EXPECT_EQ(r.value(1, 6).text, "二番目");
}

TEST(Writer, RejectsBadDefinitionsAndValues) {
  TTempDir dir;
  EXPECT_THROW(TTableWriter::create(dir.file("a.dbf"), {}), EDbaseError);
  EXPECT_THROW(TTableWriter::create(dir.file("a.dbf"), {{"TOOLONGNAME1", 'C', 5}}), EDbaseError);
  EXPECT_THROW(TTableWriter::create(dir.file("a.dbf"), {{"X", 'C', 0}}), EDbaseError);
  EXPECT_THROW(TTableWriter::create(dir.file("a.dbf"), {{"X", 'Q', 4}}), EDbaseError);
  auto w = TTableWriter::create(dir.file("b.dbf"), {{"N", 'N', 3}});
  EXPECT_THROW(w->append({"12345"}), EDbaseError);
  EXPECT_THROW(w->append({"abc"}), EDbaseError);
  EXPECT_THROW(TTableWriter::open(dir.file("missing.dbf")), EDbaseError);
}

}  // namespace
}  // namespace Mirel::Dbase
