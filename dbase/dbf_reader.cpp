// Opening a dBASE table: header and field descriptors, the memo file beside
// it, and record access through a window of whole records read with pread.
// Every length taken from the file is checked against the file's size, so a
// damaged or truncated table is read as far as it goes.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "dbase/reader_impl.h"

namespace Mirel::Dbase {
namespace {

constexpr size_t kWindowBytes = 4 << 20;

uint32_t le16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

[[noreturn]] void fail(const std::string& path, const char* what_utf8) {
  throw EDbaseError(u"ファイル " + from_utf8(path) + from_utf8(what_utf8));
}

bool is_memo_type(char type, bool visual_foxpro) {
  return type == 'M' || type == 'G' || type == 'P' || (type == 'B' && !visual_foxpro);
}

bool ends_with_ci(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() &&
         same_text_ascii_ci(s.substr(s.size() - suffix.size()), suffix);
}

// Finds "<stem>.<ext>" beside the table without regard to letter case.
std::string find_beside(const std::string& table_path, std::string_view ext) {
  size_t slash = table_path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : table_path.substr(0, slash + 1);
  std::string name = slash == std::string::npos ? table_path : table_path.substr(slash + 1);
  size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  std::string prefix = slash == std::string::npos ? "" : dir;
  // The usual spellings first: no directory scan needed.
  for (bool upper : {false, true}) {
    std::string e(ext);
    if (upper) std::transform(e.begin(), e.end(), e.begin(), ::toupper);
    std::string candidate = prefix + stem + "." + e;
    if (::access(candidate.c_str(), R_OK) == 0) return candidate;
  }
  std::string wanted = stem + "." + std::string(ext);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  std::string found;
  while (dirent* entry = ::readdir(d)) {
    if (same_text_ascii_ci(std::string_view(entry->d_name), wanted)) {
      found = prefix + entry->d_name;
      break;
    }
  }
  ::closedir(d);
  return found;
}

}  // namespace

const char* codepage_of_driver(uint8_t driver) {
  switch (driver) {
    // Drivers that name one code page outright.
    case 0x01:
      return "CP437";
    case 0x02:
      return "CP850";
    case 0x64:
      return "CP852";
    case 0x65:
      return "CP866";
    case 0x4D:
    case 0x7A:
      return "CP936";
    case 0x4E:
    case 0x79:
      return "CP949";
    case 0x4F:
    case 0x78:
      return "CP950";
    case 0x7C:
      return "CP874";
    case 0x7D:
      return "CP1255";
    case 0x7E:
      return "CP1256";
    case 0xC8:
      return "CP1250";
    case 0xC9:
      return "CP1251";
    case 0xCA:
      return "CP1254";
    case 0xCB:
      return "CP1253";
    // 0x13 and 0x7B are 932. 0x03 and 0x57 mean "the Windows ANSI code
    // page", which on the hosts of this system is 932 as well; reading a
    // Japanese table as 1252 would garble every title. 0 and the rest fall
    // back to the default too.
    default:
      return kDefaultCodePage;
  }
}

TTableReader::Impl::~Impl() {
  if (fd >= 0) ::close(fd);
}

TTableReader::TTableReader(const std::string& path, TReadOptions options)
    : impl_(std::make_unique<Impl>()) {
  Impl& t = *impl_;
  t.path = path;
  t.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (t.fd < 0) fail(path, " は開けません");
  struct stat st;
  if (::fstat(t.fd, &st) != 0) fail(path, " は開けません");
  t.file_size = static_cast<uint64_t>(st.st_size);
  if (read_at(t.fd, t.header, 32, 0) < 32)
    fail(path, " は dBASE テーブルではありません (ヘッダーが短すぎます)");

  t.version = t.header[0];
  t.header_count = le32(t.header + 4);
  t.header_length = le16(t.header + 8);
  t.record_length = le16(t.header + 10);
  t.driver = t.header[29];
  t.visual_foxpro = t.version == 0x30 || t.version == 0x31 || t.version == 0x32;
  if (t.header_length < 33 || t.record_length < 2)
    fail(path, " は dBASE テーブルではありません (ヘッダー長またはレコード長が不正です)");

  // Field descriptors: 32 bytes each from offset 32 (dBASE 7: 48 bytes from
  // offset 68), up to 0x0D or the header's end, whichever comes first.
  uint32_t readable = static_cast<uint32_t>(std::min<uint64_t>(t.header_length, t.file_size));
  std::vector<uint8_t> head(readable);
  head.resize(read_at(t.fd, head.data(), head.size(), 0));
  // Version bytes with level 4 in the low bits are dBASE 7, but the same
  // bytes are found on dBASE IV style tables: trust the layout that the
  // header length and the first field type agree with.
  if ((t.version & 0x07) == 4 && t.header_length >= 68 + 48 + 1 &&
      (t.header_length - 69) % 48 == 0 && head.size() > 100) {
    uint8_t type = head[100];
    t.level7 = (type >= 'A' && type <= 'Z') || type == '@' || type == '+';
  }
  const size_t first = t.level7 ? 68 : 32;
  const size_t step = t.level7 ? 48 : 32;
  const size_t name_len = t.level7 ? 32 : 11;
  uint32_t offset = 1;
  int bit = 0;
  for (size_t pos = first; pos + step <= head.size(); pos += step) {
    const uint8_t* d = head.data() + pos;
    if (d[0] == 0x0D || d[0] == 0x00) break;
    TField f;
    size_t n = 0;
    while (n < name_len && d[n] != 0) ++n;
    f.name.assign(reinterpret_cast<const char*>(d), n);
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    const uint8_t* rest = d + name_len;
    f.type = static_cast<char>(rest[0]);
    if (t.level7) {
      f.length = rest[1];
      f.decimals = rest[2];
    } else {
      f.length = d[16];
      f.decimals = d[17];
      f.flags = d[18];
      // Character fields longer than 255 bytes keep the high byte in the
      // decimal count (FoxPro, Clipper).
      if (f.type == 'C' && f.decimals != 0) {
        f.length += static_cast<uint32_t>(f.decimals) << 8;
        f.decimals = 0;
      }
    }
    if (f.type >= 'a' && f.type <= 'z') f.type = static_cast<char>(f.type - 'a' + 'A');
    f.offset = offset;
    offset += f.length;
    if (offset > t.record_length)
      fail(path, " は dBASE テーブルではありません (フィールドがレコード長を超えます)");
    if (t.visual_foxpro) {
      // _NullFlags holds one bit per variable-length field (length in the
      // last byte) and one per nullable field, in field order.
      if (f.type == 'V' || f.type == 'Q') f.length_bit = bit++;
      if (f.flags & 0x02) f.null_bit = bit++;
      if (f.type == '0') t.null_flags_field = static_cast<int>(t.fields.size());
    }
    t.fields.push_back(std::move(f));
  }
  if (t.fields.empty()) fail(path, " は dBASE テーブルではありません (フィールドがありません)");

  uint64_t body = t.file_size > t.header_length ? t.file_size - t.header_length : 0;
  t.count = static_cast<uint32_t>(std::min<uint64_t>(t.header_count, body / t.record_length));

  if (!options.codepage.empty())
    t.codepage = options.codepage;
  else
    t.codepage = codepage_of_driver(t.driver);
  t.cp932 = same_text_ascii_ci(std::string_view(t.codepage), "CP932") ||
            same_text_ascii_ci(std::string_view(t.codepage), "WINDOWS-31J");
  if (!t.cp932) {
    try {
      from_codepage(" ", t.codepage.c_str());  // an unknown name fails here, not per value
    } catch (const Exception&) {
      fail(path, (" のコードページ " + t.codepage + " は使えません").c_str());
    }
  }

  bool has_memo = false;
  for (const TField& f : t.fields) has_memo = has_memo || is_memo_type(f.type, t.visual_foxpro);
  if (has_memo) {
    bool fox = t.visual_foxpro || t.version == 0xF5 || t.version == 0xE5;
    const char* const order[2][2] = {{"dbt", "fpt"}, {"fpt", "dbt"}};
    for (const char* ext : order[fox ? 1 : 0]) {
      std::string found = find_beside(path, ext);
      if (found.empty()) continue;
      TMemoFile::Kind kind = ends_with_ci(found, ".fpt") ? TMemoFile::Kind::Fpt
                             : t.version == 0x83         ? TMemoFile::Kind::Dbt3
                                                         : TMemoFile::Kind::Dbt4;
      t.memo = TMemoFile::open(found, kind);
      if (t.memo) {
        t.memo_path = found;
        break;
      }
    }
  }
}

TTableReader::~TTableReader() = default;

const std::string& TTableReader::path() const { return impl_->path; }
const std::string& TTableReader::memo_path() const { return impl_->memo_path; }
uint8_t TTableReader::version() const { return impl_->version; }
const uint8_t* TTableReader::header_bytes() const { return impl_->header; }
uint32_t TTableReader::header_record_count() const { return impl_->header_count; }
uint32_t TTableReader::record_count() const { return impl_->count; }
uint32_t TTableReader::header_length() const { return impl_->header_length; }
uint32_t TTableReader::record_length() const { return impl_->record_length; }
uint8_t TTableReader::language_driver() const { return impl_->driver; }
const std::string& TTableReader::codepage() const { return impl_->codepage; }
uint64_t TTableReader::file_size() const { return impl_->file_size; }
const std::vector<TField>& TTableReader::fields() const { return impl_->fields; }

int TTableReader::field_index(std::string_view name) const {
  const auto& fields = impl_->fields;
  for (size_t i = 0; i < fields.size(); ++i)
    if (same_text_ascii_ci(std::string_view(fields[i].name), name)) return static_cast<int>(i);
  return -1;
}

std::string_view TTableReader::record(uint32_t i) {
  Impl& t = *impl_;
  if (i >= t.count)
    throw EDbaseError(u"ファイル " + from_utf8(t.path) + u" にレコード " +
                      int_to_text(static_cast<long long>(i) + 1) + u" はありません");
  if (i < t.window_first || i >= t.window_first + t.window_count) {
    uint32_t per_window =
        static_cast<uint32_t>(std::max<size_t>(1, kWindowBytes / t.record_length));
    uint32_t n = std::min(per_window, t.count - i);
    t.window.resize(static_cast<size_t>(n) * t.record_length);
    size_t got = read_at(t.fd, t.window.data(), t.window.size(),
                         t.header_length + static_cast<uint64_t>(i) * t.record_length);
    t.window_first = i;
    t.window_count = static_cast<uint32_t>(got / t.record_length);
    if (t.window_count == 0) fail(t.path, " は読み込み中に短くなりました");
  }
  return std::string_view(
      t.window.data() + static_cast<size_t>(i - t.window_first) * t.record_length, t.record_length);
}

bool TTableReader::is_deleted(uint32_t i) { return record(i)[0] == '*'; }

std::string TTableReader::memo_bytes(uint64_t block) {
  return impl_->memo ? impl_->memo->read(block) : std::string();
}

}  // namespace Mirel::Dbase
