// Text types and code page conversion for the whole program.
//
// Inside the program all text is UTF-16 (UnicodeString). Bytes cross the
// edges (CGI variables, request and response bodies, templates, ini files,
// the error log, dBASE tables) in the process's default code page, which is
// code page 932 (Shift_JIS with the Windows extensions, glibc iconv "CP932").
// Every conversion between the two happens through the functions below.
//
// Contract on bad input: no conversion ever throws or stops early.
//   * Decoding (bytes -> UTF-16): a byte sequence that is not valid in the
//     source code page becomes U+FFFD and decoding resumes at the next byte;
//     a sequence cut off at the end becomes one U+FFFD.
//   * Encoding (UTF-16 -> bytes): a character the code page cannot hold, or
//     a lone surrogate, becomes the code page's default character '?'.
#pragma once

#include <string>
#include <string_view>

namespace System {
using UnicodeString = std::u16string;
}

namespace Mirel {
using System::UnicodeString;

// The default code page, as an iconv name.
inline constexpr const char* kDefaultCodePage = "CP932";

// Default code page <-> UTF-16.
UnicodeString from_ansi(std::string_view bytes);
std::string to_ansi(std::u16string_view text);

// UTF-8 <-> UTF-16 (same bad-input rules).
UnicodeString from_utf8(std::string_view bytes);
std::string to_utf8(std::u16string_view text);

// Default code page <-> UTF-8 directly, for bulk text that never needs to
// be UTF-16 (the database engine imports table fields as UTF-8).
// cp932_to_utf8 gives exactly to_utf8(from_ansi(bytes)); utf8_to_cp932
// writes '?' for each byte of a malformed UTF-8 sequence and for a
// character the code page cannot hold.
std::string cp932_to_utf8(std::string_view bytes);
void cp932_to_utf8(std::string_view bytes, std::string& out);
std::string utf8_to_cp932(std::string_view text);

// Any iconv code page <-> UTF-16. An unknown code page name throws Exception.
UnicodeString from_codepage(std::string_view bytes, const char* codepage);
std::string to_codepage(std::u16string_view text, const char* codepage);

// Short-hand for literals and diagnostics written in UTF-8 source text.
inline UnicodeString U(std::string_view utf8) { return from_utf8(utf8); }

// ASCII-only case-insensitive comparison (names of tags, fields, keys).
bool same_text_ascii_ci(std::u16string_view a, std::u16string_view b);
bool same_text_ascii_ci(std::string_view a, std::string_view b);
UnicodeString to_upper_ascii(std::u16string_view s);
UnicodeString to_lower_ascii(std::u16string_view s);
std::string to_lower_ascii(std::string_view s);

// Decimal formatting ("%i", "%u", "%ld" of the C library).
UnicodeString int_to_text(long long v);

}  // namespace Mirel
