// Writing dBASE III tables with a .dbt memo file. New records are collected
// in memory and written by flush() in the order memo blocks, records,
// end-of-file byte, header, so that a reader that checks the header's count
// never sees a record whose bytes are not on disk yet.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

#include "dbase/dbf.h"
#include "dbase/memo_file.h"

namespace Mirel::Dbase {
namespace {

constexpr uint32_t kMemoBlock = 512;

void put_le16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put_le32(uint8_t* p, uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<uint8_t>(v >> (8 * k));
}

[[noreturn]] void fail(const std::string& path, const char* what_utf8) {
  throw EDbaseError(u"ファイル " + from_utf8(path) + from_utf8(what_utf8));
}

void write_at(int fd, const std::string& path, const void* data, size_t n, uint64_t offset) {
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::pwrite(fd, static_cast<const char*>(data) + done, n - done,
                         static_cast<off_t>(offset + done));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) fail(path, " に書き込めません");
    done += static_cast<size_t>(r);
  }
}

// Number of bytes of `s` (CP932) that fit in `n` without cutting a
// double-byte character.
size_t fit_cp932(std::string_view s, size_t n) {
  if (s.size() <= n) return s.size();
  size_t i = 0;
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    size_t len = ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) ? 2 : 1;
    if (i + len > n) break;
    i += len;
  }
  return i;
}

std::string trimmed(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return std::string(s.substr(b, e - b));
}

}  // namespace

struct TTableWriter::Impl {
  std::string path;
  std::string memo_path;
  int fd = -1;
  int memo_fd = -1;
  TWriteOptions options;
  std::vector<TField> fields;
  uint32_t header_length = 0;
  uint32_t record_length = 0;
  uint32_t written = 0;  // records on disk
  std::string pending;   // records not yet written
  uint32_t pending_count = 0;
  uint32_t memo_next = 1;    // next free memo block
  std::string memo_pending;  // memo blocks from memo_written on
  uint32_t memo_written = 1;

  ~Impl() {
    if (fd >= 0) ::close(fd);
    if (memo_fd >= 0) ::close(memo_fd);
  }

  // Appends one memo text and returns its block number.
  uint32_t add_memo(std::string_view bytes) {
    uint32_t block = memo_next;
    memo_pending.append(bytes);
    memo_pending.append("\x1A\x1A", 2);
    size_t used = bytes.size() + 2;
    size_t blocks = (used + kMemoBlock - 1) / kMemoBlock;
    memo_pending.append(blocks * kMemoBlock - used, '\0');
    memo_next += static_cast<uint32_t>(blocks);
    return block;
  }

  void encode(const std::vector<std::string>& values, bool deleted, char* rec) {
    std::memset(rec, ' ', record_length);
    rec[0] = deleted ? '*' : ' ';
    for (size_t f = 0; f < fields.size() && f < values.size(); ++f) {
      const TField& field = fields[f];
      char* dst = rec + field.offset;
      const std::string& v = values[f];
      if (v.empty()) continue;
      switch (field.type) {
        case 'C': {
          std::string bytes = utf8_to_cp932(v);
          std::memcpy(dst, bytes.data(), fit_cp932(bytes, field.length));
          break;
        }
        case 'N':
        case 'F': {
          std::string s = trimmed(v);
          if (s.empty()) break;
          if (field.decimals > 0 || s.find_first_not_of("+-0123456789") != std::string::npos) {
            char* end = nullptr;
            double d = std::strtod(s.c_str(), &end);
            if (end == s.c_str() || *end != '\0' || !std::isfinite(d))
              throw EDbaseError(u"値 " + from_utf8(v) + u" はフィールド " + from_utf8(field.name) +
                                u" の数値ではありません");
            char buf[64];
            int n = std::snprintf(buf, sizeof(buf), "%.*f", field.decimals, d);
            s.assign(buf, static_cast<size_t>(n));
          }
          if (s.size() > field.length)
            throw EDbaseError(u"値 " + from_utf8(v) + u" はフィールド " + from_utf8(field.name) +
                              u" に入りません");
          std::memcpy(dst + (field.length - s.size()), s.data(), s.size());
          break;
        }
        case 'D':
          std::memcpy(dst, v.data(), std::min<size_t>(v.size(), field.length));
          break;
        case 'L': {
          char c = v[0];
          dst[0] = (c == 'T' || c == 't' || c == 'Y' || c == 'y' || c == '1')   ? 'T'
                   : (c == 'F' || c == 'f' || c == 'N' || c == 'n' || c == '0') ? 'F'
                                                                                : '?';
          break;
        }
        case 'M': {
          uint32_t block = add_memo(utf8_to_cp932(v));
          char buf[16];
          std::snprintf(buf, sizeof(buf), "%10u", block);
          std::memcpy(dst, buf, 10);
          break;
        }
        default:
          break;
      }
    }
  }

  void write_header() {
    uint8_t h[12] = {};
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    int y = options.year ? options.year : tm.tm_year + 1900;
    int m = options.year ? options.month : tm.tm_mon + 1;
    int d = options.year ? options.day : tm.tm_mday;
    h[0] = static_cast<uint8_t>(y - 1900);
    h[1] = static_cast<uint8_t>(m);
    h[2] = static_cast<uint8_t>(d);
    put_le32(h + 3, written);
    write_at(fd, path, h, 7, 1);
  }
};

TTableWriter::TTableWriter() : impl_(std::make_unique<Impl>()) {}

TTableWriter::~TTableWriter() {
  try {
    flush();
  } catch (...) {
  }
}

std::unique_ptr<TTableWriter> TTableWriter::create(const std::string& path,
                                                   const std::vector<TFieldDef>& defs,
                                                   TWriteOptions options) {
  if (defs.empty() || defs.size() > 254) fail(path, " のフィールド数が不正です");
  std::unique_ptr<TTableWriter> w(new TTableWriter);
  Impl& t = *w->impl_;
  t.path = path;
  t.options = options;
  bool memo = false;
  uint32_t offset = 1;
  for (const TFieldDef& def : defs) {
    TField f;
    f.name = def.name;
    f.type = def.type;
    f.length = def.length;
    f.decimals = def.decimals;
    if (f.name.empty() || f.name.size() > 10)
      fail(path, (" のフィールド名 '" + def.name + "' が不正です").c_str());
    switch (f.type) {
      case 'C':
        if (f.length < 1 || f.length > 254) f.length = 0;
        break;
      case 'N':
      case 'F':
        if (f.length < 1 || f.length > 20) f.length = 0;
        break;
      case 'D':
        f.length = 8;
        break;
      case 'L':
        f.length = 1;
        break;
      case 'M':
        f.length = 10;
        memo = true;
        break;
      default:
        f.length = 0;
        break;
    }
    if (f.length == 0)
      fail(path, (" のフィールド '" + def.name + "' の型または長さが不正です").c_str());
    f.offset = offset;
    offset += f.length;
    t.fields.push_back(std::move(f));
  }
  if (offset > 0xFFFF) fail(path, " のレコード長が長すぎます");
  t.record_length = offset;
  t.header_length = 32 + 32 * static_cast<uint32_t>(t.fields.size()) + 1;

  t.fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (t.fd < 0) fail(path, " を作れません");
  std::string header(t.header_length + 1, '\0');
  auto* h = reinterpret_cast<uint8_t*>(header.data());
  h[0] = memo ? 0x83 : 0x03;
  put_le16(h + 8, t.header_length);
  put_le16(h + 10, t.record_length);
  h[29] = 0x13;
  for (size_t i = 0; i < t.fields.size(); ++i) {
    uint8_t* d = h + 32 + 32 * i;
    std::memcpy(d, t.fields[i].name.data(), t.fields[i].name.size());
    d[11] = static_cast<uint8_t>(t.fields[i].type);
    d[16] = static_cast<uint8_t>(t.fields[i].length);
    d[17] = t.fields[i].decimals;
  }
  h[t.header_length - 1] = 0x0D;
  h[t.header_length] = 0x1A;
  write_at(t.fd, path, header.data(), header.size(), 0);
  t.write_header();

  if (memo) {
    size_t dot = path.rfind('.');
    size_t slash = path.rfind('/');
    std::string stem = (dot != std::string::npos && (slash == std::string::npos || dot > slash))
                           ? path.substr(0, dot)
                           : path;
    bool upper = dot != std::string::npos && path.size() > dot + 1 && path[dot + 1] == 'D';
    t.memo_path = stem + (upper ? ".DBT" : ".dbt");
    t.memo_fd = ::open(t.memo_path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (t.memo_fd < 0) fail(t.memo_path, " を作れません");
    uint8_t mh[kMemoBlock] = {};
    put_le32(mh, 1);
    mh[16] = 0x03;
    write_at(t.memo_fd, t.memo_path, mh, sizeof(mh), 0);
  }
  return w;
}

std::unique_ptr<TTableWriter> TTableWriter::open(const std::string& path, TWriteOptions options) {
  TTableReader reader(path);
  if (reader.version() != 0x03 && reader.version() != 0x83)
    fail(path, " は dBASE III のテーブルではないので書き込めません");
  std::unique_ptr<TTableWriter> w(new TTableWriter);
  Impl& t = *w->impl_;
  t.path = path;
  t.options = options;
  t.fields = reader.fields();
  for (const TField& f : t.fields)
    if (std::string_view("CNFDLM").find(f.type) == std::string_view::npos)
      fail(path, (" のフィールド '" + f.name + "' の型には書き込めません").c_str());
  t.header_length = reader.header_length();
  t.record_length = reader.record_length();
  t.written = reader.record_count();
  t.fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (t.fd < 0) fail(path, " に書き込めません");
  bool memo =
      std::any_of(t.fields.begin(), t.fields.end(), [](const TField& f) { return f.type == 'M'; });
  if (memo) {
    t.memo_path = reader.memo_path();
    if (t.memo_path.empty()) {
      size_t dot = path.rfind('.');
      t.memo_path = (dot == std::string::npos ? path : path.substr(0, dot)) + ".dbt";
    }
    t.memo_fd = ::open(t.memo_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (t.memo_fd < 0) fail(t.memo_path, " に書き込めません");
    struct stat st;
    uint8_t mh[4] = {};
    uint64_t size = ::fstat(t.memo_fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    if (size < kMemoBlock) {
      uint8_t header[kMemoBlock] = {};
      put_le32(header, 1);
      header[16] = 0x03;
      write_at(t.memo_fd, t.memo_path, header, sizeof(header), 0);
      size = kMemoBlock;
    } else {
      read_at(t.memo_fd, mh, 4, 0);
    }
    uint32_t next = mh[0] | mh[1] << 8 | mh[2] << 16 | static_cast<uint32_t>(mh[3]) << 24;
    uint32_t by_size = static_cast<uint32_t>((size + kMemoBlock - 1) / kMemoBlock);
    t.memo_next = t.memo_written = std::max({next, by_size, 1u});
  }
  return w;
}

const std::vector<TField>& TTableWriter::fields() const { return impl_->fields; }

int TTableWriter::field_index(std::string_view name) const {
  const auto& fields = impl_->fields;
  for (size_t i = 0; i < fields.size(); ++i)
    if (same_text_ascii_ci(std::string_view(fields[i].name), name)) return static_cast<int>(i);
  return -1;
}

uint32_t TTableWriter::record_count() const { return impl_->written + impl_->pending_count; }

uint32_t TTableWriter::append(const std::vector<std::string>& values, bool deleted) {
  Impl& t = *impl_;
  if (t.fd < 0) fail(t.path, " は閉じられています");
  size_t at = t.pending.size();
  t.pending.resize(at + t.record_length);
  t.encode(values, deleted, t.pending.data() + at);
  ++t.pending_count;
  if (t.pending.size() >= (8u << 20)) flush();
  return t.written + t.pending_count - 1;
}

uint32_t TTableWriter::append_utf16(const std::vector<UnicodeString>& values, bool deleted) {
  std::vector<std::string> utf8;
  utf8.reserve(values.size());
  for (const auto& v : values) utf8.push_back(to_utf8(v));
  return append(utf8, deleted);
}

void TTableWriter::rewrite(uint32_t i, const std::vector<std::string>& values, bool deleted) {
  Impl& t = *impl_;
  if (t.fd < 0) fail(t.path, " は閉じられています");
  if (i >= record_count()) fail(t.path, " にそのレコードはありません");
  std::string rec(t.record_length, ' ');
  t.encode(values, deleted, rec.data());
  if (i >= t.written) {
    std::memcpy(t.pending.data() + static_cast<size_t>(i - t.written) * t.record_length, rec.data(),
                rec.size());
    return;
  }
  flush();  // memo blocks first
  write_at(t.fd, t.path, rec.data(), rec.size(),
           t.header_length + static_cast<uint64_t>(i) * t.record_length);
  t.write_header();
}

void TTableWriter::set_deleted(uint32_t i, bool deleted) {
  Impl& t = *impl_;
  if (t.fd < 0) fail(t.path, " は閉じられています");
  if (i >= record_count()) fail(t.path, " にそのレコードはありません");
  char flag = deleted ? '*' : ' ';
  if (i >= t.written) {
    t.pending[static_cast<size_t>(i - t.written) * t.record_length] = flag;
    return;
  }
  write_at(t.fd, t.path, &flag, 1, t.header_length + static_cast<uint64_t>(i) * t.record_length);
  t.write_header();
}

void TTableWriter::flush() {
  Impl& t = *impl_;
  if (t.fd < 0) return;
  if (t.memo_fd >= 0 && !t.memo_pending.empty()) {
    write_at(t.memo_fd, t.memo_path, t.memo_pending.data(), t.memo_pending.size(),
             static_cast<uint64_t>(t.memo_written) * kMemoBlock);
    uint8_t next[4];
    put_le32(next, t.memo_next);
    write_at(t.memo_fd, t.memo_path, next, 4, 0);
    t.memo_pending.clear();
    t.memo_written = t.memo_next;
  }
  if (t.pending_count == 0) return;
  t.pending.push_back('\x1A');
  write_at(t.fd, t.path, t.pending.data(), t.pending.size(),
           t.header_length + static_cast<uint64_t>(t.written) * t.record_length);
  t.written += t.pending_count;
  t.pending.clear();
  t.pending_count = 0;
  t.write_header();
}

void TTableWriter::close() {
  Impl& t = *impl_;
  if (t.fd < 0) return;
  flush();
  ::close(t.fd);
  t.fd = -1;
  if (t.memo_fd >= 0) ::close(t.memo_fd);
  t.memo_fd = -1;
}

}  // namespace Mirel::Dbase
