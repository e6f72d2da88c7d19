// The URL codec: percent-encoding of parameter values for the links the
// program writes into its pages, and the decoding of request fields and tag
// parameters. What url_encode writes comes back unchanged through
// url_decode_field.
//
// Encoding: bytes A-Z, a-z, 0-9 and "!$'()*-.@_" are copied, a space becomes
// '+', every other byte becomes '%' and two upper-case hexadecimal digits.
// The text overload first converts to the default code page (to_ansi); a
// character the code page cannot hold (𠮷, or ü typed as UTF-8) is written
// as a numeric character reference ("&#134071;"), which the search fields
// decode on the next request (request/search_text.h), so that a search for
// it keeps its text from page to page; a lone surrogate becomes '?' ("%3F").
// In a multi-byte code page a trail byte that is a letter or digit is copied
// as it is; the decoder reassembles the bytes before reading them as text.
// Never throws except for allocation failure.
//
// Decoding works on 8-bit text of the default code page: "+" is a space,
// "%%" is "%", "%" and two hexadecimal digits is the byte of that value. A
// "%" followed by fewer than two characters, or by two characters that are
// not both hexadecimal digits, throws Exception with one of two messages;
// the position named is that of the character after the "%", counted from 0
// within the field's bytes.
#pragma once

#include <string>
#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Encodes raw bytes; the result is pure ASCII.
std::string url_encode(std::string_view bytes);

// Converts `text` to the default code page, then encodes the bytes.
UnicodeString url_encode(std::u16string_view text);

// URL-decodes 8-bit text; throws Exception on a bad escape.
std::string url_decode_bytes(std::string_view field);

// One field as text: converted to the default code page, URL-decoded, and the
// bytes read back as text of the default code page. Throws like
// url_decode_bytes.
UnicodeString url_decode_field(std::u16string_view field);

}  // namespace Mirel::MirelWeb
