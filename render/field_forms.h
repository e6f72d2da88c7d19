// Other forms of one record field, for templates that put library data into
// attributes, URLs, JSON-LD or a feed: the ISBN as bare ISBN-13 or ISBN-10
// digits, the accession date in Japanese or as an RFC 3339 time, and the
// escapings a tag's escape= parameter asks for. Pure functions on UTF-16
// text; only parse_field_escape throws.
#pragma once

#include <ctime>
#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// The ISBN of a record field ("978-4-10-101001-7", "4-10-101001-X",
// "ISBN 4101010013", full-width digits) as 13 digits: an ISBN-13 with a
// 978/979 prefix and a right check digit is kept, a right ISBN-10 becomes
// 978 + its first nine digits + the computed check digit. Empty for
// anything else (no ISBN, a wrong check digit, two ISBNs in one field).
UnicodeString isbn13_of(std::u16string_view field);
// The same as 10 characters (the last may be "X"): a right ISBN-10 is kept,
// a 978 ISBN-13 loses its prefix and gets the ISBN-10 check digit. Empty
// for a 979 ISBN-13, which has no ISBN-10, and for anything invalid.
UnicodeString isbn10_of(std::u16string_view field);

// "20030114" as "2003年1月14日"; anything but eight ASCII digits of a real
// date stays as it is.
UnicodeString japanese_date(std::u16string_view yyyymmdd);
// "20030114" as the start of that local day, "2003-01-14T00:00:00+09:00"
// (the offset is the host's for that day); anything that is not a real
// date gives the empty text.
UnicodeString rfc3339_day(std::u16string_view yyyymmdd);

// Today's local date as "yyyymmdd".
UnicodeString today_yyyymmdd();

enum class Tfield_escape { none, html, attr, url, json, xml };

// The value of an escape= parameter: empty is none; "html", "attr", "url",
// "json", "xml" in any letter case; anything else throws Exception naming
// the value and the five that exist.
Tfield_escape parse_field_escape(std::u16string_view value);

// html: & < > " ' as character references. attr: the same and also tab,
// line feed and carriage return as references, so a value keeps its
// whitespace inside a quoted attribute. xml: as attr, and the characters
// XML 1.0 does not allow (other control characters, lone surrogates,
// U+FFFE, U+FFFF) are dropped. url: UTF-8 bytes percent-encoded, only
// A-Z a-z 0-9 - . _ ~ kept (for a query value of another site). json: the
// inside of a JSON string: " \ and control characters as escapes, and
// < > & as \u003c \u003e \u0026 so that no "</script>" can close the
// element holding it.
UnicodeString escape_field(std::u16string_view text, Tfield_escape how);

}  // namespace Mirel::MirelWeb
