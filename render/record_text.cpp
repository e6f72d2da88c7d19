// The classification number and the author-link key (see record_text.h).
#include "render/record_text.h"

#include <algorithm>

namespace Mirel::MirelWeb {

namespace {

bool is_ndc_char(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
         c == u'.';
}

bool is_high_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

}  // namespace

UnicodeString ndc_of(std::u16string_view seikyu) {
  constexpr size_t kMaxChars = 6;
  size_t n = 0;
  while (n < seikyu.size() && n < kMaxChars && is_ndc_char(seikyu[n])) ++n;
  return UnicodeString(seikyu.substr(0, n));
}

UnicodeString author_key(std::u16string_view author, uint8_t chars) {
  if (chars == 0) return UnicodeString(author);
  size_t n = std::min<size_t>(chars, author.size());
  // Unit n (counting from 1) is author[n - 1].
  while (n > 0 && is_high_surrogate(author[n - 1])) --n;
  return UnicodeString(author.substr(0, n));
}

}  // namespace Mirel::MirelWeb
