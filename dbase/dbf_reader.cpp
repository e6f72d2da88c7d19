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

// Where the field descriptors lie: 32 bytes each from offset 32, or for
// dBASE 7 48 bytes each from offset 68 (after the language driver's name).
struct TLayout {
  size_t first, step, name_len;
  bool level7;
};
constexpr TLayout kLevel3{32, 32, 11, false};
constexpr TLayout kLevel7{68, 48, 32, true};

// What one reading of the descriptors came to.
struct TParse {
  enum class Result { Exact, Fits, Cut, BadType, TooLong, NoFields };
  Result result = Result::NoFields;
  std::vector<TField> fields;  // names still in the table's bytes
  int null_flags_field = -1;
};

// Reads the descriptors of `head` (the header, or as much of it as the file
// holds: `complete` says which) up to their terminator 0x0D (or 0x00, or
// the end of the header). `long_c` applies the Clipper/FoxPro rule that a
// character field's decimal count is the high byte of its length. Exact:
// the fields fill the record; Fits: they leave bytes over.
TParse parse_descriptors(const std::vector<uint8_t>& head, bool complete, TLayout layout,
                         bool long_c, uint32_t record_length, bool visual_foxpro) {
  TParse p;
  uint32_t offset = 1;
  int bit = 0;
  for (size_t pos = layout.first;; pos += layout.step) {
    if (pos >= head.size() || (head[pos] != 0x0D && head[pos] != 0x00 &&
                               pos + layout.step > head.size())) {
      // The header ends without a terminator: fine where the header says
      // it ends, not where the file does.
      if (!complete) p.result = TParse::Result::Cut;
      break;
    }
    const uint8_t* d = head.data() + pos;
    if (d[0] == 0x0D || d[0] == 0x00) break;
    TField f;
    size_t n = 0;
    while (n < layout.name_len && d[n] != 0) ++n;
    f.name.assign(reinterpret_cast<const char*>(d), n);
    while (!f.name.empty() && f.name.back() == ' ') f.name.pop_back();
    const uint8_t* rest = d + layout.name_len;
    if (rest[0] < 0x20 || rest[0] >= 0x7F) {
      p.result = TParse::Result::BadType;
      return p;
    }
    f.type = static_cast<char>(rest[0]);
    if (layout.level7) {
      f.length = rest[1];
      f.decimals = rest[2];
    } else {
      f.length = d[16];
      f.decimals = d[17];
      f.flags = d[18];
      if (long_c && f.type == 'C' && f.decimals != 0) {
        f.length += static_cast<uint32_t>(f.decimals) << 8;
        f.decimals = 0;
      }
    }
    if (f.type >= 'a' && f.type <= 'z') f.type = static_cast<char>(f.type - 'a' + 'A');
    f.offset = offset;
    offset += f.length;
    if (offset > record_length) {
      p.result = TParse::Result::TooLong;
      return p;
    }
    if (visual_foxpro) {
      // _NullFlags holds one bit per variable-length field (length in the
      // last byte) and one per nullable field, in field order.
      if (f.type == 'V' || f.type == 'Q') f.length_bit = bit++;
      if (f.flags & 0x02) f.null_bit = bit++;
      if (f.type == '0') p.null_flags_field = static_cast<int>(p.fields.size());
    }
    p.fields.push_back(std::move(f));
  }
  if (p.result == TParse::Result::Cut) return p;
  if (p.fields.empty())
    p.result = TParse::Result::NoFields;
  else
    p.result = offset == record_length ? TParse::Result::Exact : TParse::Result::Fits;
  return p;
}

// The first bytes of a small text file beside the table (a ".cpg").
std::string read_small_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  std::string text(256, '\0');
  text.resize(read_at(fd, text.data(), text.size(), 0));
  ::close(fd);
  return text;
}

}  // namespace

const char* codepage_of_driver(uint8_t driver) {
  // The published table of language-driver bytes (code page marks). 0x03
  // and 0x57 mean "the Windows ANSI code page", which on the hosts of this
  // system is 932: reading a Japanese table as 1252 would garble every
  // title. Code pages that iconv does not have (620 Mazovia, 895 Kamenicky,
  // 10006 Greek Macintosh) keep their own names, so that the table is
  // refused with that name instead of being read in the wrong one.
  struct TDriver {
    uint8_t driver;
    const char* codepage;
  };
  static constexpr TDriver kDrivers[] = {
      {0x01, "CP437"},   {0x02, "CP850"},   {0x04, "MACINTOSH"},
      {0x08, "CP865"},   {0x09, "CP437"},   {0x0A, "CP850"},
      {0x0B, "CP437"},   {0x0D, "CP437"},   {0x0E, "CP850"},
      {0x0F, "CP437"},   {0x10, "CP850"},   {0x11, "CP437"},
      {0x12, "CP850"},   {0x13, "CP932"},   {0x14, "CP850"},
      {0x15, "CP437"},   {0x16, "CP850"},   {0x17, "CP865"},
      {0x18, "CP437"},   {0x19, "CP437"},   {0x1A, "CP850"},
      {0x1B, "CP437"},   {0x1C, "CP863"},   {0x1D, "CP850"},
      {0x1F, "CP852"},   {0x22, "CP852"},   {0x23, "CP852"},
      {0x24, "CP860"},   {0x25, "CP850"},   {0x26, "CP866"},
      {0x37, "CP850"},   {0x40, "CP852"},   {0x4D, "CP936"},
      {0x4E, "CP949"},   {0x4F, "CP950"},   {0x50, "CP874"},
      {0x58, "CP1252"},  {0x59, "CP1252"},  {0x64, "CP852"},
      {0x65, "CP866"},   {0x66, "CP865"},   {0x67, "CP861"},
      {0x68, "CP895"},   {0x69, "CP620"},   {0x6A, "CP737"},
      {0x6B, "CP857"},   {0x6C, "CP863"},   {0x78, "CP950"},
      {0x79, "CP949"},   {0x7A, "CP936"},   {0x7B, "CP932"},
      {0x7C, "CP874"},   {0x7D, "CP1255"},  {0x7E, "CP1256"},
      {0x86, "CP737"},   {0x87, "CP852"},   {0x88, "CP857"},
      {0x96, "MAC-CYRILLIC"}, {0x97, "MAC-CENTRALEUROPE"}, {0x98, "CP10006"},
      {0xC8, "CP1250"},  {0xC9, "CP1251"},  {0xCA, "CP1254"},
      {0xCB, "CP1253"},  {0xCC, "CP1257"},
  };
  for (const TDriver& d : kDrivers)
    if (d.driver == driver) return d.codepage;
  return kDefaultCodePage;  // 0x03, 0x57, 0 (no mark) and unknown bytes
}

std::string codepage_of_cpg(std::string_view text) {
  // A UTF-8 byte-order mark, blanks and line ends around the name.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\0'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.size() > 5 && same_text_ascii_ci(text.substr(0, 5), "ANSI ")) text.remove_prefix(5);
  if (text.empty()) return {};
  const bool digits = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) {
    if (text == "65001") return "UTF-8";
    // Shapefile tools write ISO 8859 parts as 8859 followed by the part.
    if (text.size() > 4 && text.substr(0, 4) == "8859") return "ISO-8859-" + std::string(text.substr(4));
    return "CP" + std::string(text);
  }
  // Windows writes its code page 932 under these names; iconv's SJIS lacks
  // its extensions and reads 0x5C as the yen sign.
  for (const char* sjis : {"SJIS", "SHIFT_JIS", "SHIFT-JIS", "MS932", "WINDOWS-31J"})
    if (same_text_ascii_ci(text, sjis)) return "CP932";
  if (same_text_ascii_ci(text, "UTF8")) return "UTF-8";
  return std::string(text);
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
  // FoxBASE and dBASE II keep another header (16-byte descriptors from
  // offset 8): a table with their first byte that is no consistent dBASE
  // III table is one of theirs.
  auto refuse = [&](const std::string& why) {
    if (t.version == 0x02)
      fail(path, " は FoxBASE (dBASE II) 形式のテーブルです (先頭バイト 0x02)。この形式は読めません");
    fail(path, why.c_str());
  };
  if (t.header_length < 33)
    refuse(" のヘッダー長 (" + std::to_string(t.header_length) + " バイト) が短すぎます");

  const uint32_t readable =
      static_cast<uint32_t>(std::min<uint64_t>(t.header_length, t.file_size));
  std::vector<uint8_t> head(readable);
  head.resize(read_at(t.fd, head.data(), head.size(), 0));
  const bool complete = head.size() == t.header_length;
  // Version bytes with level 4 in the low bits are dBASE 7, but the same
  // bytes are found on dBASE IV style tables; the long character fields of
  // Clipper and FoxPro keep the high byte of their length in the decimal
  // count, but Excel writes decimals on plain character fields. Take the
  // first reading whose fields fill the record exactly, else the first
  // whose fields fit in it.
  struct TTry {
    TLayout layout;
    bool long_c;
  };
  std::vector<TTry> tries;
  if ((t.version & 0x07) == 4) tries.push_back({kLevel7, false});
  tries.push_back({kLevel3, false});
  tries.push_back({kLevel3, true});
  std::vector<TParse> parses;
  size_t chosen = tries.size();
  for (size_t k = 0; k < tries.size() && chosen == tries.size(); ++k) {
    parses.push_back(parse_descriptors(head, complete, tries[k].layout, tries[k].long_c,
                                       t.record_length, t.visual_foxpro));
    if (parses.back().result == TParse::Result::Exact) chosen = k;
  }
  for (size_t k = 0; k < parses.size() && chosen == tries.size(); ++k)
    if (parses[k].result == TParse::Result::Fits) chosen = k;
  if (chosen == tries.size()) {
    auto any = [&](TParse::Result r) {
      return std::any_of(parses.begin(), parses.end(),
                         [&](const TParse& p) { return p.result == r; });
    };
    const std::string sizes = " (ファイル " + std::to_string(t.file_size) + " バイト、ヘッダー長 " +
                              std::to_string(t.header_length) + " バイト)";
    if (any(TParse::Result::Cut)) refuse(" はフィールド記述の途中で切れています" + sizes);
    if (parses.front().result == TParse::Result::NoFields) refuse(" にはフィールドがありません");
    if (parses.front().result == TParse::Result::TooLong)
      refuse(" のフィールドの長さの合計がレコード長 (" + std::to_string(t.record_length) +
             " バイト) を超えます");
    refuse(" のフィールド記述を読み取れません (型の欄が不正です)");
  }
  if (t.header_length > t.file_size)
    refuse(" のヘッダー長 (" + std::to_string(t.header_length) + " バイト) がファイルの大きさ (" +
           std::to_string(t.file_size) + " バイト) を超えます");
  t.level7 = tries[chosen].layout.level7;
  t.fields = std::move(parses[chosen].fields);
  t.null_flags_field = parses[chosen].null_flags_field;

  uint64_t body = t.file_size - t.header_length;
  t.count = static_cast<uint32_t>(std::min<uint64_t>(t.header_count, body / t.record_length));

  // The code page: the alias's, else the language driver's; a table without
  // a driver byte may name its code page in a ".cpg" file beside it, as
  // shapefile tools write.
  std::string cpg_path;
  if (!options.codepage.empty()) {
    t.codepage = options.codepage;
  } else if (t.driver == 0 && !(cpg_path = find_beside(path, "cpg")).empty()) {
    t.codepage = codepage_of_cpg(read_small_file(cpg_path));
    if (t.codepage.empty()) t.codepage = kDefaultCodePage;
  } else {
    t.codepage = codepage_of_driver(t.driver);
  }
  t.cp932 = same_text_ascii_ci(std::string_view(t.codepage), "CP932") ||
            same_text_ascii_ci(std::string_view(t.codepage), "WINDOWS-31J");
  if (!t.cp932) {
    try {
      from_codepage(" ", t.codepage.c_str());  // an unknown name fails here, not per value
    } catch (const Exception&) {
      fail(path, (" のコードページ " + t.codepage +
                  (cpg_path.empty() ? std::string() : " (" + cpg_path + ")") + " は使えません")
                     .c_str());
    }
  }
  // Field names are text like any other: 書籍名 is stored in the table's
  // code page.
  for (TField& f : t.fields) {
    const bool ascii = std::all_of(f.name.begin(), f.name.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
      std::string decoded;
      t.decode_text(f.name, decoded);
      f.name = std::move(decoded);
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

std::string_view TTableReader::records(uint32_t first, uint32_t count) {
  Impl& t = *impl_;
  if (first > t.count || count > t.count - first)
    throw EDbaseError(u"ファイル " + from_utf8(t.path) + u" にレコード " +
                      int_to_text(static_cast<long long>(first) + count) + u" はありません");
  const size_t bytes = static_cast<size_t>(count) * t.record_length;
  if (t.window.size() < bytes) t.window.resize(bytes);
  const size_t got = read_at(t.fd, t.window.data(), bytes,
                             t.header_length + static_cast<uint64_t>(first) * t.record_length);
  // The window no longer holds what record() read into it.
  t.window_first = first;
  t.window_count = static_cast<uint32_t>(got / t.record_length);
  if (got < bytes) fail(t.path, " は読み込み中に短くなりました");
  return std::string_view(t.window.data(), bytes);
}

bool TTableReader::is_deleted(uint32_t i) { return record(i)[0] == '*'; }

std::string TTableReader::memo_bytes(uint64_t block) {
  return impl_->memo ? impl_->memo->read(block) : std::string();
}

}  // namespace Mirel::Dbase
