// Reading integers from text, the one rule used for every integer the system
// reads (request parameters, SETUP tag parameters, CONTENT_LENGTH).
//
// Accepted: leading spaces, an
// optional '+' or '-', then either decimal digits or hexadecimal digits
// introduced by '$', 'x', 'X', "0x" or "0X". Nothing may follow the digits,
// not even a trailing blank. A value outside the signed 32-bit range does not
// convert.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel {

std::optional<int32_t> text_to_int(std::u16string_view text);
std::optional<int32_t> text_to_int(std::string_view text);

// text_to_int, or `fallback` when the text does not convert.
int32_t text_to_int_def(std::u16string_view text, int32_t fallback);
int32_t text_to_int_def(std::string_view text, int32_t fallback);

}  // namespace Mirel
