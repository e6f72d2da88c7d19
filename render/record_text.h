// Texts derived from one book record: the classification number taken from
// the call number, and the author-link search key cut from the author.
// Pure functions on UTF-16 text; nothing here throws.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// The leading run of the call number made of ASCII letters, ASCII digits and
// '.', at most 6 code units: "913.6/ナ" gives "913.6", "K913.68" gives
// "K913.6". Full-width digits, kana and blanks end the run.
UnicodeString ndc_of(std::u16string_view seikyu);

// The first `chars` UTF-16 code units of `author` (all of it when `chars`
// is 0 or the author is shorter), shortened by one unit while it would end
// on the first half of a surrogate pair, so a key never splits a character.
UnicodeString author_key(std::u16string_view author, uint8_t chars);

}  // namespace Mirel::MirelWeb
