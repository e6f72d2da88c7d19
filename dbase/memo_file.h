// Memo files beside a table: ".dbt" (dBASE III and IV) and ".fpt" (FoxPro).
// Private to the dbase module; the reader asks it for the bytes of one memo
// by block number. Every read is bounded by the file's size at open, so a
// damaged pointer or length gives less text, never a crash.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace Mirel::Dbase {

class TMemoFile {
 public:
  enum class Kind { Dbt3, Dbt4, Fpt };
  // Opens the memo file; nullptr when it cannot be opened.
  static std::unique_ptr<TMemoFile> open(const std::string& path, Kind kind);
  ~TMemoFile();

  // The memo stored at `block`: for .dbt III the bytes up to the first 0x1A
  // (without one before the end of the file, at most kMaxUnterminatedBytes);
  // for .dbt IV the length of the FF FF 08 00 block header (a block without
  // that header is read as dBASE III); for .fpt the length of the block
  // header. Empty for block 0 (the file header) or a block past the end.
  std::string read(uint64_t block) const;
  // The same into `out`, reusing its buffer. Returns whether the memo is
  // settled: its bytes stay the same in any longer file whose first part
  // is this one byte for byte, but for the header. A memo is not settled
  // when its read stopped at the end of the file (no end marker, a stated
  // length past the end, a block past the end) or when it starts within
  // the first kHeaderBytes.
  bool read(uint64_t block, std::string& out) const;

  // Every kind of memo file keeps its header (the next free block, the
  // block size) within its first 512 bytes; a writer updates it whenever it
  // adds a memo.
  static constexpr uint64_t kHeaderBytes = 512;
  // A memo that runs to the end of the file without its end marker is cut
  // to this many bytes: far more than any library text, far less than the
  // damaged file it may point into.
  static constexpr size_t kMaxUnterminatedBytes = 64 * 1024;

  uint32_t block_size() const { return block_size_; }

 private:
  TMemoFile(int fd, Kind kind, uint64_t size);
  // False when the end of the file came before the end marker.
  bool read_to_terminator(uint64_t offset, std::string& out) const;
  // read_at through a window of the file kept from the last call: memos
  // are mostly read in the order they were written, so one system call
  // serves many of them.
  size_t read_window(void* buf, size_t n, uint64_t offset) const;

  int fd_;
  Kind kind_;
  uint64_t size_;
  uint32_t block_size_ = 512;
  mutable std::string window_;
  mutable uint64_t window_at_ = 0;
};

// Reads exactly up to n bytes at offset (retrying on EINTR and short reads);
// returns the number of bytes read, less than n only at the end of the file.
size_t read_at(int fd, void* buf, size_t n, uint64_t offset);

}  // namespace Mirel::Dbase
