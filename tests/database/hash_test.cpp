// The change-detection hash: fed in pieces it gives what one call gives, and
// a small table's signature sees a change anywhere in the file, also past
// the buffer it is read through, when size and time stay the same.

#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "database/engine.h"

namespace Mirel::Database::detail {
namespace {

std::string pattern(size_t size) {
  std::string s(size, '\0');
  uint32_t x = 12345;
  for (char& c : s) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 16);
  }
  return s;
}

TEST(ByteHasher, PiecesGiveTheSameHashAsOneCall) {
  for (size_t size : {0, 1, 7, 8, 31, 32, 33, 63, 64, 65, 100, 16384 + 5, 50000}) {
    const std::string data = pattern(size);
    for (uint64_t seed : {uint64_t{0}, uint64_t{0xDEADBEEF}}) {
      const uint64_t whole = hash_bytes(data.data(), data.size(), seed);
      for (size_t piece : {1, 3, 31, 32, 33, 1000, 16384}) {
        TByteHasher h(size, seed);
        for (size_t at = 0; at < size; at += piece)
          h.update(data.data() + at, std::min(piece, size - at));
        EXPECT_EQ(h.finish(), whole) << "size " << size << " piece " << piece << " seed " << seed;
      }
    }
  }
}

TEST(ByteHasher, ShortOrLongFeedsDifferFromTheWholeHash) {
  const std::string data = pattern(100);
  const uint64_t whole = hash_bytes(data.data(), data.size());
  TByteHasher shorter(100);
  shorter.update(data.data(), 99);
  EXPECT_NE(shorter.finish(), whole);
  TByteHasher changed(100);
  std::string other = data;
  other[99] ^= 1;
  changed.update(other.data(), other.size());
  EXPECT_NE(changed.finish(), whole);
}

TEST(SourceSignature, SeesAChangePastTheReadBufferWithSizeAndTimeKept) {
  const std::string dir = testing::TempDir() + "/mw_hash_test";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/loans.dbf";
  const std::string data = pattern(100000);
  std::ofstream(path, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
  TTableSource src;
  src.key = "loans";
  src.dbf_path = path;
  const std::string before = source_signature(src);
  ASSERT_TRUE(signature_is_hashed(before));

  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(70000);
    f.put(static_cast<char>(data[70000] ^ 0x40));
  }
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

  const std::string after = source_signature(src);
  EXPECT_TRUE(signature_is_hashed(after));
  EXPECT_FALSE(same_signature(before, after));
  EXPECT_TRUE(same_signature(after, source_signature(src)));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace Mirel::Database::detail
