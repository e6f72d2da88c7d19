#include "platform/integer.h"

namespace Mirel {
namespace {

template <typename C>
std::optional<int32_t> parse(std::basic_string_view<C> s) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < s.size() && (s[i] == '$' || s[i] == 'x' || s[i] == 'X')) {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return std::nullopt;
  // Accumulate the magnitude in 64 bits and stop as soon as it leaves the
  // 32-bit range, so that no digit count can overflow.
  int64_t magnitude = 0;
  const int64_t limit = negative ? 2147483648LL : 2147483647LL;
  for (; i < s.size(); ++i) {
    C c = s[i];
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    magnitude = magnitude * base + digit;
    if (magnitude > limit) return std::nullopt;
  }
  return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace

std::optional<int32_t> text_to_int(std::u16string_view text) { return parse(text); }
std::optional<int32_t> text_to_int(std::string_view text) { return parse(text); }
int32_t text_to_int_def(std::u16string_view text, int32_t fallback) {
  return text_to_int(text).value_or(fallback);
}
int32_t text_to_int_def(std::string_view text, int32_t fallback) {
  return text_to_int(text).value_or(fallback);
}

}  // namespace Mirel
