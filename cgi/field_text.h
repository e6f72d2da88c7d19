// The text of a request field's bytes: code page 932, or UTF-8 when the
// bytes can only be UTF-8.
//
// Browsers send a form in the page's code page (932), but a keyword typed
// into the address bar, or a link from a UTF-8 site, arrives as UTF-8; read
// as code page 932 it is mojibake that finds nothing. The rule that tells
// them apart: the bytes are read as UTF-8 when
//   1. they are well-formed UTF-8 (shortest forms, no surrogates, at most
//      U+10FFFF) with at least one sequence of three or four bytes, and
//   2. every character of two or more bytes in that reading is one that
//      Japanese text uses: Latin-1 letters and signs, general punctuation and
//      the symbol blocks up to U+27BF, CJK symbols, kana, CJK ideographs
//      (with extension A, the compatibility ideographs and the supplementary
//      planes' ideographs), full-width and half-width forms.
// Everything else is code page 932. A code page 932 text is never read as
// UTF-8 unless its first non-ASCII character is a half-width katakana or a
// kanji coded 0xE040 or above (the second half of JIS level 2 and the NEC
// and IBM extension rows): every other first byte (0x81 to 0x9F) cannot begin
// a UTF-8 sequence. docs/searching.md shows the rule on real keywords.
#pragma once

#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// True when `bytes` are read as UTF-8 by the rule above.
bool reads_as_utf8(std::string_view bytes);

// The field's text: UTF-8 or code page 932 by the rule above.
UnicodeString field_bytes_to_text(std::string_view bytes);

}  // namespace Mirel::MirelWeb
