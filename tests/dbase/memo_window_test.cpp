// Memo texts are read through a window of the memo file that is kept
// between reads. Whatever order the records are read in, and wherever a
// memo lies against the window's edges, every memo must come back whole.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "dbase/dbf.h"
#include "tests/dbase/temp_dir.h"

namespace Mirel::Dbase {
namespace {

using Testing::TTempDir;

// The memo of record i: empty for every ninth record, one far longer than
// the window for record 200, otherwise a text of varying length (up to a
// few 512-byte blocks) that names its record.
std::string memo_text(uint32_t i) {
  if (i % 9 == 4) return {};
  const size_t length = i == 200 ? 150000 : 20 + (i * 379) % 1700;
  std::string text = "memo " + std::to_string(i) + ":";
  while (text.size() < length) text += static_cast<char>('a' + (text.size() + i) % 26);
  return text;
}

class MemoWindow : public ::testing::Test {
 protected:
  static constexpr uint32_t kRecords = 400;

  void SetUp() override {
    path_ = dir_.file("memos.dbf");
    auto w = TTableWriter::create(path_, {{"ID", 'N', 6}, {"NOTE", 'M', 10}});
    for (uint32_t i = 0; i < kRecords; ++i) w->append({std::to_string(i), memo_text(i)});
    w->close();
  }

  // Reads the records in the given order and counts the memos that differ.
  int mismatches(const std::vector<uint32_t>& order) {
    TTableReader r(path_);
    EXPECT_EQ(r.record_count(), kRecords);
    int bad = 0;
    for (uint32_t i : order) {
      const TValue v = r.value(i, 1);
      const std::string want = memo_text(i);
      if (v.is_null() ? !want.empty() : v.text != want) {
        ADD_FAILURE() << "record " << i << " read " << v.text.size() << " bytes, want "
                      << want.size();
        ++bad;
      }
    }
    return bad;
  }

  TTempDir dir_;
  std::string path_;
};

TEST_F(MemoWindow, EveryMemoWholeInAnyReadingOrder) {
  std::vector<uint32_t> forward, backward, strided;
  for (uint32_t i = 0; i < kRecords; ++i) {
    forward.push_back(i);
    backward.push_back(kRecords - 1 - i);
    strided.push_back(i * 157 % kRecords);
  }
  EXPECT_EQ(mismatches(forward), 0);
  EXPECT_EQ(mismatches(backward), 0);
  EXPECT_EQ(mismatches(strided), 0);
}

TEST_F(MemoWindow, TheSameMemoTwiceAndNeighboursOfALongOne) {
  EXPECT_EQ(mismatches({5, 5, 199, 200, 201, 200, 199, 0, 399, 0}), 0);
}

// The raw bytes of a memo, as the cache compares them: the same memos,
// without decoding, wherever they lie against the window.
TEST_F(MemoWindow, RawBytesOfTheMemoARecordPointsTo) {
  TTableReader r(path_);
  std::string raw = "left over";
  for (uint32_t i : {5u, 4u, 199u, 200u, 201u, 0u, 399u, 200u}) {
    r.memo_of(r.record(i), 1, raw);
    EXPECT_EQ(raw, memo_text(i)) << "record " << i;
  }
  r.memo_of(r.record(5), 0, raw);  // not a memo field
  EXPECT_EQ(raw, "");
}

TEST(MemoRaw, BytesInTheTablesCodePage) {
  TTempDir dir;
  const std::string path = dir.file("notes.dbf");
  auto w = TTableWriter::create(path, {{"NOTE", 'M', 10}});
  w->append({"寄贈本"});
  w->append({""});
  w->close();
  TTableReader r(path);
  std::string raw;
  r.memo_of(r.record(0), 0, raw);
  EXPECT_EQ(raw, utf8_to_cp932("寄贈本"));
  r.memo_of(r.record(1), 0, raw);
  EXPECT_EQ(raw, "");
}

// A memo whose end marker is lost runs to the end of the memo file: more
// blocks added after it would make it longer, which memo_of reports.
TEST(MemoRaw, AMemoRunningToTheEndOfTheFileIsNotSettled) {
  TTempDir dir;
  const std::string path = dir.file("notes.dbf");
  auto w = TTableWriter::create(path, {{"NOTE", 'M', 10}});
  w->append({"first"});
  w->append({""});
  w->append({"last"});
  w->close();
  const std::string memo_path = dir.file("notes.dbt");
  std::string memo;
  {
    std::ifstream in(memo_path, std::ios::binary);
    memo.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const size_t end = memo.rfind("\x1A\x1A");
  ASSERT_NE(end, std::string::npos);
  memo.replace(end, 2, "  ");
  std::ofstream(memo_path, std::ios::binary | std::ios::trunc) << memo;

  TTableReader r(path);
  std::string raw;
  EXPECT_TRUE(r.memo_of(r.record(0), 0, raw));
  EXPECT_EQ(raw, "first");
  EXPECT_TRUE(r.memo_of(r.record(1), 0, raw));  // points to no memo
  EXPECT_FALSE(r.memo_of(r.record(2), 0, raw));
  EXPECT_EQ(raw.substr(0, 6), "last  ");
}

}  // namespace
}  // namespace Mirel::Dbase
