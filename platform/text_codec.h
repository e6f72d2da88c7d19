// Converters of the two encodings the program meets most, code page 932 and
// UTF-8, without iconv: iconv loads its conversion modules (two shared
// objects) into a process the first time it converts, which is a measurable
// part of a CGI request. They follow unicode_string.h's contract on bad
// input exactly as the iconv path does (tests compare them with iconv byte
// for byte). Private to platform/: everyone else calls unicode_string.h.
#pragma once

#include <string>
#include <string_view>

namespace Mirel::detail {

std::u16string cp932_to_utf16(std::string_view bytes);
std::string utf16_to_cp932(std::u16string_view text);
std::u16string utf8_to_utf16(std::string_view bytes);
std::string utf16_to_utf8(std::u16string_view text);
void cp932_to_utf8(std::string_view bytes, std::string& out);
std::string utf8_to_cp932(std::string_view text);

}  // namespace Mirel::detail
