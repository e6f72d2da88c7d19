// Percent-encoding of request parameter values for the links the program
// writes back into its own pages. The decoding side is the CGI layer's field
// decoder; what is encoded here must come back unchanged through it.
//
// Contract: bytes A-Z, a-z, 0-9 and "!$'()*-.@_" are copied, a space becomes
// '+', every other byte becomes '%' and two upper-case hexadecimal digits.
// The text overload first converts to the default code page (to_ansi); a
// character the code page cannot hold (𠮷, or ü typed as UTF-8) is written
// as a numeric character reference ("&#134071;"), which the search fields
// decode on the next request (search_text.h), so that a search for it keeps
// its text from page to page; a lone surrogate becomes '?' ("%3F"). In a
// multi-byte code page a trail byte that is a letter or digit is copied as it
// is; the decoder reassembles the bytes before reading them as text. Never
// throws except for allocation failure.
#pragma once

#include <string>
#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Encodes raw bytes; the result is pure ASCII.
std::string url_encode(std::string_view bytes);

// Converts `text` to the default code page, then encodes the bytes.
UnicodeString url_encode(std::u16string_view text);

}  // namespace Mirel::MirelWeb
