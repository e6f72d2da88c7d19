// Code page 932 through the tables generated from iconv at build time (to
// and from UTF-16, and straight to and from UTF-8 for bulk table text), and
// UTF-8 by hand, both with the bad-input behaviour of unicode_string.cpp's
// iconv loop: iconv stops at the first byte (or unit) of a sequence it
// rejects, the loop writes one replacement and resumes one byte (or unit,
// or both units of a surrogate pair) further on; a sequence cut off at the
// end of the input gives one replacement and ends the conversion.
#include "platform/text_codec.h"

#include <cstdint>
#include <cstring>

#include "platform/cp932_tables.h"

namespace Mirel::detail {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

std::u16string cp932_to_utf16(std::string_view bytes) {
  // One unit per byte at most: a pair is one unit, anything else one each.
  std::u16string out(bytes.size(), u'\0');
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t o = 0;
  for (size_t i = 0; i < n;) {
    const unsigned char b = p[i];
    uint16_t unit = kCp932Single[b];
    if (unit == kCp932Lead) {
      if (i + 1 == n) {  // a lead byte cut off at the end
        out[o++] = kReplacement;
        break;
      }
      unit = kCp932Pairs[(kCp932LeadIndex[b] - 1u) * 256u + p[i + 1]];
      if (unit != kCp932Bad) {
        out[o++] = unit;
        i += 2;
        continue;
      }
    }
    out[o++] = unit == kCp932Bad ? kReplacement : unit;
    ++i;
  }
  out.resize(o);
  return out;
}

std::string utf16_to_cp932(std::u16string_view text) {
  // Two bytes per unit at most; written through a pointer, since every
  // page of output passes through here (several times for nested parts).
  std::string out(text.size() * 2, '\0');
  char* o = out.data();
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    const char16_t c = text[i];
    if (c < 0x80) {  // ASCII is itself in code page 932
      *o++ = static_cast<char>(c);
      continue;
    }
    if (is_high_surrogate(c) || is_low_surrogate(c)) {
      // No character outside the BMP is in code page 932: a pair becomes one
      // default character, and so does a lone surrogate.
      *o++ = '?';
      if (is_high_surrogate(c) && i + 1 < n && is_low_surrogate(text[i + 1])) ++i;
      continue;
    }
    const uint16_t v = kCp932Encode[kCp932EncodeBlock[c >> 8] * 256u + (c & 0xFFu)];
    if (v == kCp932Bad) {
      *o++ = '?';
    } else if (v < 0x100) {
      *o++ = static_cast<char>(v);
    } else {
      *o++ = static_cast<char>(v >> 8);
      *o++ = static_cast<char>(v & 0xFF);
    }
  }
  out.resize(static_cast<size_t>(o - out.data()));
  return out;
}

std::u16string utf8_to_utf16(std::string_view bytes) {
  std::u16string out(bytes.size(), u'\0');  // never more units than bytes
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const size_t n = bytes.size();
  size_t o = 0;
  for (size_t i = 0; i < n;) {
    const unsigned char b = p[i];
    if (b < 0x80) {
      out[o++] = b;
      ++i;
      continue;
    }
    size_t count;
    uint32_t cp = 0;
    if (b >= 0xC2 && b <= 0xDF) {
      count = 2;
      cp = b & 0x1Fu;
    } else if ((b & 0xF0) == 0xE0) {
      count = 3;
      cp = b & 0x0Fu;
    } else if ((b & 0xF8) == 0xF0) {
      count = 4;
      cp = b & 0x07u;
    } else if (b >= 0xF8 && b <= 0xFD) {
      // The old five- and six-byte forms: never a character, but iconv
      // still counts them as cut off when the input ends inside one.
      count = b < 0xFC ? 5 : 6;
    } else {
      out[o++] = kReplacement;  // a continuation byte, C0, C1, FE or FF
      ++i;
      continue;
    }
    if (i + count > n) {
      // Too few bytes left: cut off when all that remain continue the
      // sequence, otherwise the lead byte is bad on its own.
      size_t k = i + 1;
      while (k < n && is_continuation(p[k])) ++k;
      out[o++] = kReplacement;
      if (k == n) break;
      ++i;
      continue;
    }
    if (count > 4) {
      out[o++] = kReplacement;
      ++i;
      continue;
    }
    size_t k = 1;
    for (; k < count && is_continuation(p[i + k]); ++k) cp = cp << 6 | (p[i + k] & 0x3Fu);
    const bool overlong = count > 2 && (cp >> (5 * count - 4)) == 0;
    if (k < count || overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out[o++] = kReplacement;
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out[o++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[o++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[o++] = static_cast<char16_t>(cp);
    }
    i += count;
  }
  out.resize(o);
  return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 3);
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = text[i];
    if (is_high_surrogate(text[i]) && i + 1 < n && is_low_surrogate(text[i + 1])) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
      ++i;
    } else if (is_high_surrogate(text[i]) || is_low_surrogate(text[i])) {
      out += '?';  // a lone surrogate, or a high one cut off at the end
      continue;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | cp >> 6);
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | cp >> 12);
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | cp >> 18);
      out += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

namespace {

// Writes the UTF-8 form of `cp` at `dst` (room for 4 bytes); returns the end.
char* put_utf8(uint32_t cp, char* dst) {
  if (cp < 0x80) {
    *dst++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *dst++ = static_cast<char>(0xC0 | (cp >> 6));
    *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    // Code page 932 has no character outside the BMP.
    *dst++ = static_cast<char>(0xE0 | (cp >> 12));
    *dst++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *dst++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return dst;
}

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
  // A byte never becomes more than 3 UTF-8 bytes (a pair at most 3 as well).
  out.resize(n * 3);
  char* const begin = out.data();
  std::memcpy(begin, bytes.data(), i);
  char* dst = begin + i;
  const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
  while (i < n) {
    const unsigned char b = src[i];
    if (b < 0x80) {
      *dst++ = static_cast<char>(b);
      ++i;
      continue;
    }
    uint16_t unit = kCp932Single[b];
    if (unit == kCp932Lead) {
      if (i + 1 == n) {  // a lead byte cut off at the end
        dst = put_utf8(kReplacement, dst);
        break;
      }
      unit = kCp932Pairs[(kCp932LeadIndex[b] - 1u) * 256u + src[i + 1]];
      if (unit != kCp932Bad) {
        dst = put_utf8(unit, dst);
        i += 2;
        continue;
      }
    }
    dst = put_utf8(unit == kCp932Bad ? kReplacement : unit, dst);
    ++i;
  }
  out.resize(static_cast<size_t>(dst - begin));
}

std::string utf8_to_cp932(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    // One UTF-8 sequence; anything malformed is one '?' per byte.
    uint32_t cp = 0;
    const size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    bool ok = len != 0 && i + len <= n;
    if (ok) {
      cp = b & (0xFF >> (len + 1));
      for (size_t k = 1; k < len; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[i + k]);
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
    const uint16_t code = cp < 0x10000 && !(cp >= 0xD800 && cp <= 0xDFFF)
                              ? kCp932Encode[kCp932EncodeBlock[cp >> 8] * 256u + (cp & 0xFFu)]
                              : kCp932Bad;
    if (code == kCp932Bad) {
      out.push_back('?');
    } else if (code < 0x100) {
      out.push_back(static_cast<char>(code));
    } else {
      out.push_back(static_cast<char>(code >> 8));
      out.push_back(static_cast<char>(code & 0xFF));
    }
  }
  return out;
}

}  // namespace Mirel::detail
