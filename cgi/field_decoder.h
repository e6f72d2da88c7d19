// Splitting and decoding of request fields (query string and form body).
// The decoding of one field is the URL codec's (platform/url_codec.h).
#pragma once

#include <string>
#include <string_view>

#include "platform/strings.h"
#include "platform/url_codec.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Splits a query string or form body into fields, without decoding them.
// Fields end at "&", CR or LF; CR and LF at the start of a field are skipped.
// A double quote opens a stretch, up to the next double quote, in which the
// separators do not count, and the field ends with the closing quote; a field
// that begins with a double quote loses its quotes, elsewhere they stay. Two
// separators in a row give an empty entry; nothing follows a final separator.
TStrings split_request_fields(std::u16string_view text);

// split_request_fields, then every field URL-decoded (platform/url_codec.h)
// and its bytes read as text by field_bytes_to_text (code page 932, or UTF-8
// when the bytes can only be UTF-8: field_text.h). Template tag parameters
// use url_decode_field: templates are code page 932 throughout.
TStrings decode_request_fields(std::u16string_view text);

}  // namespace Mirel::MirelWeb
