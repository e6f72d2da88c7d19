// Damaged tables made on purpose: valid tables (dBASE III with .dbt,
// Visual FoxPro with .fpt) with bytes overwritten and ends cut off at
// places chosen by a fixed seed. Opening and reading every value must either
// work or raise EDbaseError; anything else (another exception, a crash, a
// sanitizer report) is a fault. The seeds are fixed, so a failure replays.
#include <gtest/gtest.h>

#include <cstdint>

#include "dbase/dbf.h"
#include "tests/dbase/raw_table.h"
#include "tests/dbase/temp_dir.h"

namespace Mirel::Dbase {
namespace {

using namespace Testing;

struct TSeeded {
  uint64_t s;
  uint64_t next() {
    s ^= s << 13;
    s ^= s >> 7;
    s ^= s << 17;
    return s;
  }
  size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(next() % n); }
};

// Reads everything; returns false when the reader refused with EDbaseError.
bool read_everything(const std::string& path) {
  try {
    TTableReader r(path);
    TValue v;
    for (uint32_t i = 0; i < r.record_count(); ++i)
      for (size_t f = 0; f < r.fields().size(); ++f) r.value(i, f, v);
    return true;
  } catch (const EDbaseError&) {
    return false;
  }
}

void mutate_and_read(const TTempDir& dir, const std::string& table, const std::string& memo,
                     const char* memo_ext, uint64_t seed) {
  TSeeded rng{seed * 2654435761u + 1};
  std::string t = table, m = memo;
  std::string* target = rng.below(3) == 0 ? &m : &t;
  size_t flips = 1 + rng.below(8);
  for (size_t k = 0; k < flips && !target->empty(); ++k) {
    // Mostly the header, where lengths and counts live.
    size_t limit = rng.below(2) ? std::min<size_t>(target->size(), 300) : target->size();
    (*target)[rng.below(limit)] = static_cast<char>(rng.next());
  }
  if (rng.below(4) == 0) target->resize(rng.below(target->size() + 1));
  write_bytes(dir.file("m.dbf"), t);
  write_bytes(dir.file(std::string("m.") + memo_ext), m);
  EXPECT_NO_THROW(read_everything(dir.file("m.dbf"))) << "seed " << seed;
}

TEST(Mutation, DBase3WithDbtMemo) {
  TTempDir dir;
  {
    auto w = TTableWriter::create(dir.file("m.dbf"), {{"ID", 'C', 10},
                                                      {"TITLE", 'C', 30},
                                                      {"PRICE", 'N', 8, 2},
                                                      {"DAY", 'D', 8},
                                                      {"OK", 'L', 1},
                                                      {"NOTE", 'M', 10}});
    for (int i = 0; i < 20; ++i)
      w->append({std::to_string(i), "図書館の本 " + std::to_string(i), "12.5", "20240101", "T",
                 i % 3 ? std::string(700, 'x') + "漢字" : ""},
                i % 5 == 0);
  }
  std::string table = read_bytes(dir.file("m.dbf"));
  std::string memo = read_bytes(dir.file("m.dbt"));
  ASSERT_TRUE(read_everything(dir.file("m.dbf")));
  for (uint64_t seed = 1; seed <= 250; ++seed) mutate_and_read(dir, table, memo, "dbt", seed);
}

TEST(Mutation, VisualFoxProWithFptMemo) {
  TTempDir dir;
  TRawTable t;
  t.version = 0x30;
  t.backlink = true;
  t.fields = {{"I", 'I', 4}, {"B", 'B', 8},          {"T", 'T', 8},
              {"M", 'M', 4}, {"V", 'V', 5, 0, 0x02}, {"_NullFlags", '0', 1}};
  std::string memo(64, '\0');
  memo[7] = 64;
  std::string block = be32(1) + be32(6) + "memo!!";
  block.resize(64, '\0');
  memo += block;
  for (uint32_t i = 0; i < 10; ++i)
    t.records.push_back(le32(i) + f64(i * 0.5) + le32(2460000 + i) + le32(i * 1000) + le32(1) +
                        std::string("ab\0\0\x02", 5) + std::string(1, static_cast<char>(i & 3)));
  ASSERT_EQ(t.records[0].size(), 30u);
  write_bytes(dir.file("m.dbf"), t.bytes());
  write_bytes(dir.file("m.fpt"), memo);
  ASSERT_TRUE(read_everything(dir.file("m.dbf")));
  std::string table = t.bytes();
  for (uint64_t seed = 1; seed <= 250; ++seed) mutate_and_read(dir, table, memo, "fpt", seed);
}

}  // namespace
}  // namespace Mirel::Dbase
