// Lists of name=value texts (request fields and template tag parameters)
// and the scans that cut them out of a text.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "platform/unicode_string.h"

namespace Mirel {

using TStrings = std::vector<UnicodeString>;

// The value of the first entry whose part before its first '=' equals `name`
// without regard to ASCII letter case; an entry without '=' is never found;
// a missing name gives the empty text.
UnicodeString value_of(const TStrings& list, std::u16string_view name);

// `text` without the control characters and spaces (U+0000 to U+0020) at
// either end.
std::u16string_view trim_blanks(std::u16string_view text);

// Where the field of `text` that begins at `start` ends: at the first
// character for which `is_separator` holds, unless a double quote comes
// first; then the field runs on to just past the next double quote (the
// separators inside that stretch do not count), or to the end of `text`
// when no quote follows. `closed` tells whether a closing quote ended it.
// Request fields and template tag parameters are cut out this way.
template <typename Separator>
size_t quoted_field_end(std::u16string_view text, size_t start, Separator is_separator,
                        bool& closed) {
  closed = false;
  for (size_t i = start; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'"') {
      const size_t close = text.find(u'"', i + 1);
      if (close == std::u16string_view::npos) return text.size();
      closed = true;
      return close + 1;
    }
    if (is_separator(c)) return i;
  }
  return text.size();
}

}  // namespace Mirel
