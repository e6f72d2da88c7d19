// Table-driven conversion between code page 932 and UTF-8 for table text.
//
// Importing a large table converts millions of short fields; going through
// iconv twice per field (CP932 -> UTF-16 -> UTF-8) costs more than reading
// the file. The tables here are filled once per process from glibc iconv
// itself, so the result is byte for byte what the platform conversion gives,
// including its rule for bad input: an invalid sequence becomes U+FFFD and
// decoding resumes at the next byte; a lead byte cut off at the end becomes
// one U+FFFD.
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "dbase/dbf.h"

namespace Mirel::Dbase {
namespace {

constexpr uint32_t kInvalid = 0xFFFFFFFF;
constexpr uint32_t kLead = 0xFFFFFFFE;  // single-byte table: starts a pair

struct TCp932Tables {
  uint32_t single[256];
  // Code point for lead byte 0x80+i, trail byte t at pairs[i * 256 + t].
  std::unique_ptr<uint32_t[]> pairs;
  // UTF-16 code unit -> CP932 bytes (high byte 0 for a single byte), 0 when none.
  std::unique_ptr<uint16_t[]> encode;
};

// Converts `n` bytes to one UTF-32 code point; kInvalid when iconv rejects
// them or they do not make exactly one character, kLead when incomplete.
uint32_t convert_one(iconv_t cd, const unsigned char* bytes, size_t n) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = reinterpret_cast<char*>(const_cast<unsigned char*>(bytes));
  size_t in_left = n;
  uint32_t out[4];
  char* dst = reinterpret_cast<char*>(out);
  size_t dst_left = sizeof(out);
  size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
  if (r == static_cast<size_t>(-1)) return errno == EINVAL ? kLead : kInvalid;
  if (in_left != 0 || sizeof(out) - dst_left != sizeof(uint32_t)) return kInvalid;
  return out[0];
}

TCp932Tables build_tables() {
  TCp932Tables table;
  TCp932Tables* tab = &table;
  tab->pairs = std::make_unique<uint32_t[]>(128 * 256);
  tab->encode = std::make_unique<uint16_t[]>(65536);
  std::fill_n(tab->pairs.get(), 128 * 256, kInvalid);
  std::fill_n(tab->encode.get(), 65536, uint16_t{0});
  iconv_t dec = iconv_open("UTF-32LE", "CP932");
  iconv_t enc = iconv_open("CP932", "UTF-32LE");
  if (dec == reinterpret_cast<iconv_t>(-1) || enc == reinterpret_cast<iconv_t>(-1)) {
    // Without iconv's CP932 every byte above 0x7F is invalid.
    for (int b = 0; b < 256; ++b) tab->single[b] = b < 0x80 ? b : kInvalid;
    return table;
  }
  auto note_encoding = [&](uint32_t cp) {
    if (cp >= 0x10000 || tab->encode[cp] != 0) return;
    iconv(enc, nullptr, nullptr, nullptr, nullptr);
    char* in = reinterpret_cast<char*>(&cp);
    size_t in_left = 4;
    unsigned char out[4];
    char* dst = reinterpret_cast<char*>(out);
    size_t dst_left = sizeof(out);
    if (iconv(enc, &in, &in_left, &dst, &dst_left) == static_cast<size_t>(-1)) return;
    size_t n = sizeof(out) - dst_left;
    if (n == 1)
      tab->encode[cp] = out[0];
    else if (n == 2)
      tab->encode[cp] = static_cast<uint16_t>(out[0] << 8 | out[1]);
  };
  for (int b = 0; b < 256; ++b) {
    unsigned char byte = static_cast<unsigned char>(b);
    tab->single[b] = b < 0x80 ? static_cast<uint32_t>(b) : convert_one(dec, &byte, 1);
    if (tab->single[b] != kInvalid && tab->single[b] != kLead) note_encoding(tab->single[b]);
  }
  for (int lead = 0x80; lead < 256; ++lead) {
    if (tab->single[lead] != kLead) continue;
    for (int trail = 0; trail < 256; ++trail) {
      unsigned char pair[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
      uint32_t cp = convert_one(dec, pair, 2);
      if (cp == kLead) cp = kInvalid;
      tab->pairs[(lead - 0x80) * 256 + trail] = cp;
      if (cp != kInvalid) note_encoding(cp);
    }
  }
  iconv_close(dec);
  iconv_close(enc);
  return table;
}

const TCp932Tables& tables() {
  static const TCp932Tables t = build_tables();
  return t;
}

// Writes the UTF-8 form of `cp` at `dst` (room for 4 bytes); returns the end.
char* put_utf8(uint32_t cp, char* dst) {
  if (cp < 0x80) {
    *dst++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *dst++ = static_cast<char>(0xC0 | (cp >> 6));
    *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *dst++ = static_cast<char>(0xE0 | (cp >> 12));
    *dst++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *dst++ = static_cast<char>(0xF0 | (cp >> 18));
    *dst++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *dst++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return dst;
}

constexpr uint32_t kReplacement = 0xFFFD;

}  // namespace

void cp932_to_utf8(std::string_view bytes, std::string& out) {
  size_t i = 0;
  const size_t n = bytes.size();
  // ASCII runs need no table.
  while (i < n && static_cast<unsigned char>(bytes[i]) < 0x80) ++i;
  if (i == n) {
    out.assign(bytes);
    return;
  }
  const TCp932Tables& t = tables();
  // A byte never becomes more than 3 UTF-8 bytes (a pair at most 3 as well).
  out.resize(n * 3);
  char* const begin = out.data();
  std::memcpy(begin, bytes.data(), i);
  char* dst = begin + i;
  const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
  while (i < n) {
    unsigned char b = src[i];
    if (b < 0x80) {
      *dst++ = static_cast<char>(b);
      ++i;
      continue;
    }
    uint32_t cp = t.single[b];
    if (cp == kLead) {
      if (i + 1 >= n) {  // cut off at the end of the field
        dst = put_utf8(kReplacement, dst);
        break;
      }
      uint32_t pair = t.pairs[(b - 0x80) * 256 + src[i + 1]];
      if (pair == kInvalid) {
        dst = put_utf8(kReplacement, dst);
        ++i;
      } else {
        dst = put_utf8(pair, dst);
        i += 2;
      }
      continue;
    }
    dst = put_utf8(cp == kInvalid ? kReplacement : cp, dst);
    ++i;
  }
  out.resize(static_cast<size_t>(dst - begin));
}

std::string cp932_to_utf8(std::string_view bytes) {
  std::string out;
  cp932_to_utf8(bytes, out);
  return out;
}

std::string utf8_to_cp932(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const TCp932Tables* t = nullptr;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    // Decode one UTF-8 sequence; anything malformed is one '?' per byte.
    uint32_t cp = 0;
    size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    bool ok = len != 0 && i + len <= n;
    if (ok) {
      cp = b & (0xFF >> (len + 1));
      for (size_t k = 1; k < len; ++k) {
        unsigned char c = static_cast<unsigned char>(text[i + k]);
        if ((c & 0xC0) != 0x80) {
          ok = false;
          break;
        }
        cp = cp << 6 | (c & 0x3F);
      }
    }
    if (!ok) {
      out.push_back('?');
      ++i;
      continue;
    }
    i += len;
    if (!t) t = &tables();
    uint16_t code = cp < 0x10000 ? t->encode[cp] : 0;
    if (code == 0)
      out.push_back('?');
    else if (code < 0x100)
      out.push_back(static_cast<char>(code));
    else {
      out.push_back(static_cast<char>(code >> 8));
      out.push_back(static_cast<char>(code & 0xFF));
    }
  }
  return out;
}

}  // namespace Mirel::Dbase
