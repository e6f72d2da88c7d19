// Reading memo blocks of .dbt and .fpt files with pread, through a window
// of the file that serves neighbouring memos without another system call.
#include "dbase/memo_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace Mirel::Dbase {
namespace {

uint32_t le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint32_t be32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

constexpr size_t kWindow = 64 * 1024;

}  // namespace

size_t read_at(int fd, void* buf, size_t n, uint64_t offset) {
  size_t done = 0;
  while (done < n) {
    ssize_t r =
        ::pread(fd, static_cast<char*>(buf) + done, n - done, static_cast<off_t>(offset + done));
    if (r < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (r == 0) break;
    done += static_cast<size_t>(r);
  }
  return done;
}

std::unique_ptr<TMemoFile> TMemoFile::open(const std::string& path, Kind kind) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return nullptr;
  }
  std::unique_ptr<TMemoFile> memo(new TMemoFile(fd, kind, static_cast<uint64_t>(st.st_size)));
  unsigned char header[32] = {};
  read_at(fd, header, sizeof(header), 0);
  if (kind == Kind::Fpt) {
    uint32_t bs = static_cast<uint32_t>(header[6]) << 8 | header[7];
    memo->block_size_ = bs != 0 ? bs : 512;
  } else if (kind == Kind::Dbt4) {
    uint32_t bs = header[20] | header[21] << 8;
    memo->block_size_ = bs >= 8 ? bs : 512;
  }
  return memo;
}

TMemoFile::TMemoFile(int fd, Kind kind, uint64_t size) : fd_(fd), kind_(kind), size_(size) {}

TMemoFile::~TMemoFile() { ::close(fd_); }

size_t TMemoFile::read_window(void* buf, size_t n, uint64_t offset) const {
  if (n > kWindow / 2) return read_at(fd_, buf, n, offset);
  if (offset < window_at_ || offset + n > window_at_ + window_.size()) {
    // Never past the size at open, like every other read of this file.
    const size_t want =
        offset < size_ ? static_cast<size_t>(std::min<uint64_t>(kWindow, size_ - offset)) : 0;
    window_.resize(want);
    window_.resize(read_at(fd_, window_.data(), want, offset));
    window_at_ = offset;
  }
  if (offset < window_at_ || offset >= window_at_ + window_.size()) return 0;
  const size_t take =
      static_cast<size_t>(std::min<uint64_t>(n, window_at_ + window_.size() - offset));
  std::memcpy(buf, window_.data() + (offset - window_at_), take);
  return take;
}

bool TMemoFile::read_to_terminator(uint64_t offset, std::string& out) const {
  out.clear();
  while (offset < size_) {
    // The rest of the window from `offset`, searched in place: memos end
    // within the window but for the few longer than its half.
    if (offset < window_at_ || offset >= window_at_ + window_.size()) {
      char probe;
      if (read_window(&probe, 1, offset) == 0) break;
    }
    const char* from = window_.data() + (offset - window_at_);
    const size_t got = static_cast<size_t>(window_at_ + window_.size() - offset);
    if (const void* end = std::memchr(from, 0x1A, got)) {
      out.append(from, static_cast<size_t>(static_cast<const char*>(end) - from));
      return true;
    }
    out.append(from, got);
    offset += got;
  }
  // No end marker: the rest of the file is not one memo (a damaged pointer,
  // a damaged file). Every record pointing there would carry all of it.
  if (out.size() > kMaxUnterminatedBytes) out.resize(kMaxUnterminatedBytes);
  return false;
}

std::string TMemoFile::read(uint64_t block) const {
  std::string out;
  read(block, out);
  return out;
}

bool TMemoFile::read(uint64_t block, std::string& out) const {
  out.clear();
  if (block == 0) return true;
  uint64_t offset = block * block_size_;
  if (offset / block_size_ != block) return true;  // no file has such a block
  if (offset >= size_) return false;
  const bool settled_start = offset >= kHeaderBytes;
  // A stated length is cut at the end of the file, and so is a text without
  // its end marker: a longer file would give more.
  auto read_stated = [&](uint64_t start, uint64_t length) {
    const bool whole = length <= size_ - start;
    length = std::min<uint64_t>(length, size_ - start);
    out.resize(static_cast<size_t>(length));
    out.resize(read_window(out.data(), out.size(), start));
    return whole && settled_start;
  };
  unsigned char head[8] = {};
  const size_t got = read_window(head, 8, offset);
  if (kind_ == Kind::Fpt) {
    if (got < 8) return false;
    return read_stated(offset + 8, be32(head + 4));
  }
  if (got == 8 && head[0] == 0xFF && head[1] == 0xFF && head[2] == 0x08 && head[3] == 0x00) {
    const uint64_t length = le32(head + 4);
    if (length < 8) return settled_start;
    return read_stated(offset + 8, length - 8);
  }
  // Fewer than 8 bytes left: a longer file could hold a block header here.
  return read_to_terminator(offset, out) && got == 8 && settled_start;
}

}  // namespace Mirel::Dbase
