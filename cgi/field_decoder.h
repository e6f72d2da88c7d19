// Splitting and URL decoding of request fields, shared by the request (query
// string and form body) and by the template producer (tag parameters).
//
// Decoding works on 8-bit text of the default code page: "+" is a space,
// "%%" is "%", "%" and two hexadecimal digits is the byte of that value.
// A "%" followed by fewer than two characters, or by two characters that are
// not both hexadecimal digits, throws Exception with one of the two messages
// below; the position named is that of the character after the "%", counted
// from 0 within the field's bytes.
#pragma once

#include <string>
#include <string_view>

#include "platform/strings.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Splits a query string or form body into fields, without decoding them.
// Fields end at "&", CR or LF; CR and LF at the start of a field are skipped.
// A double quote opens a stretch, up to the next double quote, in which the
// separators do not count, and the field ends with the closing quote; a field
// that begins with a double quote loses its quotes, elsewhere they stay. Two
// separators in a row give an empty entry; nothing follows a final separator.
TStrings split_request_fields(std::u16string_view text);

// URL-decodes 8-bit text; throws Exception on a bad escape.
std::string url_decode_bytes(std::string_view field);

// One field as text: converted to the default code page, URL-decoded, and the
// bytes read back as text of the default code page. Throws like
// url_decode_bytes.
UnicodeString url_decode_field(std::u16string_view field);

// split_request_fields, then every field URL-decoded and its bytes read as
// text by field_bytes_to_text (code page 932, or UTF-8 when the bytes can
// only be UTF-8: field_text.h). Template tag parameters use
// url_decode_field: templates are code page 932 throughout.
TStrings decode_request_fields(std::u16string_view text);

}  // namespace Mirel::MirelWeb
