// The UTF-8 rule of request fields (see field_text.h): one pass over the
// bytes with explicit bounds.
#include "cgi/field_text.h"

#include <cstdint>

namespace Mirel::MirelWeb {
namespace {

bool used_in_japanese_text(uint32_t cp) {
  return (cp >= 0xA0 && cp <= 0x24F) || (cp >= 0x2000 && cp <= 0x27BF) ||
         (cp >= 0x3000 && cp <= 0x30FF) || (cp >= 0x3400 && cp <= 0x4DBF) ||
         (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFF00 && cp <= 0xFFEF) || (cp >= 0x20000 && cp <= 0x3FFFF);
}

// True when every byte sequence is a character of code page 932.
bool well_formed_cp932(std::string_view bytes) {
  return from_ansi(bytes).find(u'\uFFFD') == UnicodeString::npos;
}

}  // namespace

bool reads_as_utf8(std::string_view bytes) {
  const size_t n = bytes.size();
  bool long_sequence = false;
  bool after_long = false;   // the previous character had three or four bytes
  bool ambiguous = false;    // an ASCII 0x40-0x7E right after such a one
  size_t i = 0;
  while (i < n) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      // Code page 932's second bytes 0x40-0x7E read as ASCII: a kanji of
      // the E0 rows and the character after it (罨法, 諤々) can look like a
      // three-byte sequence and a letter.
      if (after_long && lead >= 0x40 && lead <= 0x7E) ambiguous = true;
      after_long = false;
      ++i;
      continue;
    }
    size_t length;
    uint32_t cp;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      cp = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      cp = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      return false;
    }
    if (n - i < length) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto c = static_cast<unsigned char>(bytes[i + k]);
      if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!used_in_japanese_text(cp)) return false;
    if (length >= 3) long_sequence = true;
    after_long = length >= 3;
    i += length;
  }
  if (!long_sequence) return false;
  if (!ambiguous || !well_formed_cp932(bytes)) return true;
  // Both readings are possible: UTF-8 only when all of it is text that code
  // page 932 could have written (日経BP), which a misread kanji of the E0
  // rows seldom is (罨法 as UTF-8 is U+3A96 "@", outside JIS X 0208).
  const UnicodeString text = from_utf8(bytes);
  return from_ansi(to_ansi(text)) == text;
}

UnicodeString field_bytes_to_text(std::string_view bytes) {
  return reads_as_utf8(bytes) ? from_utf8(bytes) : from_ansi(bytes);
}

}  // namespace Mirel::MirelWeb
