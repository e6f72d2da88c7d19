// Numeric character references in search fields: one pass, explicit bounds,
// at most seven digits (so no value overflows), never re-reading its output.
#include "request/search_text.h"

#include <cstdint>

#include "platform/cp932_forms.h"

namespace Mirel::MirelWeb {
namespace {

int digit_value(char16_t c, bool hex) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (hex && c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (hex && c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool acceptable(uint32_t cp) {
  if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return false;  // control characters
  if (cp >= 0xD800 && cp <= 0xDFFF) return false;
  return cp <= 0x10FFFF;
}

void append(UnicodeString& out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

// The reference at `text[at]` ("&#..."): its code point and length, or
// length 0 when there is no acceptable reference there.
size_t read_reference(std::u16string_view text, size_t at, uint32_t& cp) {
  constexpr size_t kMaxDigits = 7;
  size_t i = at + 2;
  if (i > text.size() || text.substr(at, 2) != u"&#") return 0;
  const bool hex = i < text.size() && (text[i] == u'x' || text[i] == u'X');
  if (hex) ++i;
  const size_t first = i;
  uint32_t value = 0;
  int d;
  while (i < text.size() && i - first < kMaxDigits && (d = digit_value(text[i], hex)) >= 0) {
    value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
    ++i;
  }
  if (i == first || i >= text.size() || text[i] != u';' || !acceptable(value)) return 0;
  cp = value;
  return i + 1 - at;
}

}  // namespace

UnicodeString decode_search_text(std::u16string_view field) {
  UnicodeString out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size();) {
    uint32_t cp = 0;
    const size_t length = field[i] == u'&' ? read_reference(field, i, cp) : 0;
    if (length > 0) {
      append(out, cp);
      i += length;
    } else {
      out.push_back(field[i]);
      ++i;
    }
  }
  for (char16_t& c : out) c = cp932_form(c);
  return out;
}

}  // namespace Mirel::MirelWeb
