// The text of a search field as the visitor typed it. A form in code page
// 932 sends a character that the code page cannot hold as a numeric
// character reference ("&#12316;" for the wave dash of a Mac or an iPhone,
// "&#134071;" for 𠮷); these are decoded, and the characters that code page
// 932 writes in another form take its form (platform/cp932_forms.h), so that
// the echo, the links and the search all see the one text.
#pragma once

#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Decodes "&#" decimal digits ";" and "&#x" (or "&#X") hexadecimal digits
// ";" naming a character other than a control character, a surrogate or
// anything above U+10FFFF; any other "&" stays as it is (a malformed or
// refused reference is text). Then applies cp932_form to every character.
UnicodeString decode_search_text(std::u16string_view field);

}  // namespace Mirel::MirelWeb
