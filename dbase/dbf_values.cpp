// Field bytes to typed values: the value rules listed in dbf.h. This is the
// hot path of a bulk import, so text fields are trimmed on the raw bytes and
// converted straight to UTF-8 into a buffer the caller reuses.
#include <algorithm>
#include <charconv>
#include <cstring>

#include "dbase/reader_impl.h"

namespace Mirel::Dbase {
namespace {

// Wide text fields are mostly padding: skip it eight bytes at a time.
std::string_view trim_right(std::string_view s) {
  size_t n = s.size();
  constexpr uint64_t kSpaces = 0x2020202020202020ull;
  while (n >= 8) {
    uint64_t word;
    std::memcpy(&word, s.data() + n - 8, 8);
    if (word != kSpaces) break;
    n -= 8;
  }
  while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\0')) --n;
  return s.substr(0, n);
}

std::string_view trim(std::string_view s) {
  s = trim_right(s);
  size_t b = 0;
  while (b < s.size() && s[b] == ' ') ++b;
  return s.substr(b);
}

int32_t le_i32(const char* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return static_cast<int32_t>(v);  // the machines we run on are little-endian
}
int64_t le_i64(const char* p) {
  int64_t v;
  std::memcpy(&v, p, 8);
  return v;
}
double le_f64(const char* p) {
  double v;
  std::memcpy(&v, p, 8);
  return v;
}
uint32_t be_u32(const char* p) {
  auto u = reinterpret_cast<const unsigned char*>(p);
  return static_cast<uint32_t>(u[0]) << 24 | u[1] << 16 | u[2] << 8 | u[3];
}

void set_null(TValue& out) {
  out.kind = TValue::Kind::Null;
  out.text.clear();
}

// Decimal number text: integer when allowed and it fits, else real; NULL
// when blank or not a number.
void parse_number(std::string_view raw, bool integer_allowed, TValue& out) {
  std::string_view s = trim(raw);
  if (s.empty()) return set_null(out);
  if (s.front() == '+') s.remove_prefix(1);
  if (integer_allowed) {
    int64_t v;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec == std::errc() && end == s.data() + s.size()) {
      out.kind = TValue::Kind::Integer;
      out.integer = v;
      return;
    }
  }
  double d;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d);
  if (ec != std::errc() || end != s.data() + s.size()) return set_null(out);
  out.kind = TValue::Kind::Real;
  out.real = d;
}

// Julian day number and milliseconds since midnight as "yyyymmddhhmmss".
void set_timestamp(int64_t jd, int64_t ms, TValue& out) {
  int64_t l = jd + 68569;
  int64_t n = 4 * l / 146097;
  l = l - (146097 * n + 3) / 4;
  int64_t i = 4000 * (l + 1) / 1461001;
  l = l - 1461 * i / 4 + 31;
  int64_t j = 80 * l / 2447;
  int64_t day = l - 2447 * j / 80;
  l = j / 11;
  int64_t month = j + 2 - 12 * l;
  int64_t year = 100 * (n - 49) + i + l;
  if (ms < 0 || ms >= 86400000) ms = 0;
  int64_t secs = ms / 1000;
  char buf[48];
  int len =
      std::snprintf(buf, sizeof(buf), "%04lld%02lld%02lld%02lld%02lld%02lld",
                    static_cast<long long>(year), static_cast<long long>(month),
                    static_cast<long long>(day), static_cast<long long>(secs / 3600),
                    static_cast<long long>(secs / 60 % 60), static_cast<long long>(secs % 60));
  out.kind = TValue::Kind::Text;
  out.text.assign(buf, static_cast<size_t>(len));
}

// Memo block number: 10 ASCII digits, or a 4-byte integer (Visual FoxPro).
uint64_t memo_block(std::string_view raw) {
  if (raw.size() == 4) return static_cast<uint32_t>(le_i32(raw.data()));
  std::string_view s = trim(raw);
  uint64_t block = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), block);
  if (ec != std::errc() || end != s.data() + s.size()) return 0;
  return block;
}

}  // namespace

std::string TValue::as_text() const {
  switch (kind) {
    case Kind::Null:
      return {};
    case Kind::Text:
    case Kind::Blob:
      return text;
    case Kind::Integer:
      return std::to_string(integer);
    case Kind::Real: {
      char buf[32];
      auto [end, ec] = std::to_chars(buf, buf + sizeof(buf), real);
      return ec == std::errc() ? std::string(buf, end) : std::string();
    }
  }
  return {};
}

void TTableReader::Impl::decode_text(std::string_view bytes, std::string& out) const {
  if (cp932) {
    cp932_to_utf8(bytes, out);
  } else {
    out = to_utf8(from_codepage(bytes, codepage.c_str()));
  }
}

TValue TTableReader::value(uint32_t i, size_t f) {
  TValue v;
  value(i, f, v);
  return v;
}

void TTableReader::value(uint32_t i, size_t f, TValue& out) { value_of(record(i), f, out); }

bool TTableReader::memo_of(std::string_view record, size_t f, std::string& out) {
  const Impl& t = *impl_;
  out.clear();
  if (f >= t.fields.size() || record.size() < t.record_length || !t.memo) return true;
  const TField& field = t.fields[f];
  const bool memo = field.type == 'M' || field.type == 'G' || field.type == 'P' ||
                    (field.type == 'B' && !t.visual_foxpro);
  if (!memo) return true;
  return t.memo->read(memo_block(record.substr(field.offset, field.length)), out);
}

void TTableReader::value_of(std::string_view record, size_t f, TValue& out) {
  const Impl& t = *impl_;
  if (f >= t.fields.size() || record.size() < t.record_length) {
    throw EDbaseError(u"ファイル " + from_utf8(t.path) + u" のフィールド番号 " +
                      int_to_text(static_cast<long long>(f)) + u" は不正です");
  }
  const TField& field = t.fields[f];
  std::string_view raw = record.substr(field.offset, field.length);

  if (field.null_bit >= 0 && t.null_flags_field >= 0) {
    const TField& nf = t.fields[static_cast<size_t>(t.null_flags_field)];
    uint32_t byte = static_cast<uint32_t>(field.null_bit) / 8;
    if (byte < nf.length &&
        (static_cast<unsigned char>(record[nf.offset + byte]) >> (field.null_bit % 8)) & 1) {
      return set_null(out);
    }
  }

  if (field.length_bit >= 0 && t.null_flags_field >= 0 && !raw.empty()) {
    const TField& nf = t.fields[static_cast<size_t>(t.null_flags_field)];
    uint32_t byte = static_cast<uint32_t>(field.length_bit) / 8;
    if (byte < nf.length &&
        (static_cast<unsigned char>(record[nf.offset + byte]) >> (field.length_bit % 8)) & 1) {
      size_t used = static_cast<unsigned char>(raw.back());
      raw = raw.substr(0, std::min(used, raw.size() - 1));
    }
  }

  switch (field.type) {
    case 'C':
    case 'V': {
      std::string_view s = trim_right(raw);
      if (s.empty()) return set_null(out);
      out.kind = TValue::Kind::Text;
      t.decode_text(s, out.text);
      return;
    }
    case 'D': {
      std::string_view s = trim(raw);
      if (s.empty() || s == "00000000") return set_null(out);
      out.kind = TValue::Kind::Text;
      // A damaged date may hold any bytes; the value must still be UTF-8
      // (ASCII digits pass through unchanged).
      t.decode_text(s, out.text);
      return;
    }
    case 'N':
    case 'F':
      return parse_number(raw, field.decimals == 0, out);
    case 'L': {
      char c = raw.empty() ? ' ' : raw[0];
      if (c == 'T' || c == 't' || c == 'Y' || c == 'y') {
        out.kind = TValue::Kind::Integer;
        out.integer = 1;
      } else if (c == 'F' || c == 'f' || c == 'N' || c == 'n') {
        out.kind = TValue::Kind::Integer;
        out.integer = 0;
      } else {
        set_null(out);
      }
      return;
    }
    case 'I':
    case '+':
      if (raw.size() != 4) break;
      out.kind = TValue::Kind::Integer;
      out.integer =
          t.level7 ? static_cast<int32_t>(be_u32(raw.data()) ^ 0x80000000u) : le_i32(raw.data());
      return;
    case 'O':
      if (raw.size() != 8) break;
      if (t.level7) {
        // Big-endian, sign bit set for positives, all bits inverted for negatives.
        uint64_t bits = static_cast<uint64_t>(be_u32(raw.data())) << 32 | be_u32(raw.data() + 4);
        bits = (bits >> 63) ? bits & ~(uint64_t{1} << 63) : ~bits;
        double d;
        std::memcpy(&d, &bits, 8);
        out.kind = TValue::Kind::Real;
        out.real = d;
      } else {
        out.kind = TValue::Kind::Real;
        out.real = le_f64(raw.data());
      }
      return;
    case 'Y':
      if (raw.size() != 8) break;
      out.kind = TValue::Kind::Real;
      out.real = static_cast<double>(le_i64(raw.data())) / 10000.0;
      return;
    case 'T': {
      if (raw.size() != 8) break;
      if (trim(raw).empty()) return set_null(out);
      int32_t jd = le_i32(raw.data());
      int32_t ms = le_i32(raw.data() + 4);
      if (jd == 0 && ms == 0) return set_null(out);
      set_timestamp(jd, ms, out);
      return;
    }
    case 'B':
      if (t.visual_foxpro) {
        if (raw.size() != 8) break;
        out.kind = TValue::Kind::Real;
        out.real = le_f64(raw.data());
        return;
      }
      [[fallthrough]];
    case 'M':
    case 'G':
    case 'P': {
      uint64_t block = memo_block(raw);
      if (block == 0 || !t.memo) return set_null(out);
      std::string bytes = t.memo->read(block);
      if (bytes.empty()) return set_null(out);
      if (field.type == 'M') {
        out.kind = TValue::Kind::Text;
        t.decode_text(bytes, out.text);
      } else {
        out.kind = TValue::Kind::Blob;
        out.text = std::move(bytes);
      }
      return;
    }
    default:
      break;
  }
  // Unknown types, Q, _NullFlags, and known types with an unexpected width.
  out.kind = TValue::Kind::Blob;
  out.text.assign(raw);
}

}  // namespace Mirel::Dbase
