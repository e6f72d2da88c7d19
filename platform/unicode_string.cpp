// Code page conversion with the bad-input rules of unicode_string.h: the
// default code page and UTF-8 through the converters of text_codec.h, any
// other code page through glibc iconv, whose descriptors are opened once per
// process and reused.
#include "platform/unicode_string.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <map>
#include <utility>

#include "platform/exception.h"
#include "platform/text_codec.h"

namespace Mirel {
namespace {

constexpr char16_t kReplacement = u'\uFFFD';

iconv_t open_converter(const char* to, const char* from) {
  // Never destroyed: the descriptors stay reachable until the process ends
  // (which releases them), instead of being orphaned by a static destructor.
  static auto& cache = *new std::map<std::pair<std::string, std::string>, iconv_t>;
  auto key = std::make_pair(std::string(to), std::string(from));
  auto it = cache.find(key);
  if (it != cache.end()) {
    iconv(it->second, nullptr, nullptr, nullptr, nullptr);  // reset shift state
    return it->second;
  }
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw Exception(u"コードページ " + from_utf8(std::string(to) == "UTF-16LE" ? from : to) +
                    u" は使えません");
  }
  cache.emplace(key, cd);
  return cd;
}

UnicodeString decode(std::string_view bytes, const char* codepage) {
  UnicodeString out;
  if (bytes.empty()) return out;
  iconv_t cd = open_converter("UTF-16LE", codepage);
  out.resize(bytes.size() + 4);
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  size_t produced = 0;
  while (in_left > 0) {
    if (out.size() - produced < in_left + 4) out.resize(produced + in_left + 4);
    char* dst = reinterpret_cast<char*>(out.data() + produced);
    size_t dst_left = (out.size() - produced) * sizeof(char16_t);
    size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    produced = (out.size() * sizeof(char16_t) - dst_left) / sizeof(char16_t);
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ: an invalid sequence; EINVAL: a sequence cut off at the end.
    if (produced >= out.size()) out.resize(produced + 4);
    out[produced++] = kReplacement;
    if (errno == EINVAL) break;
    ++in;
    --in_left;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(produced);
  return out;
}

std::string encode(std::u16string_view text, const char* codepage) {
  std::string out;
  if (text.empty()) return out;
  iconv_t cd = open_converter(codepage, "UTF-16LE");
  out.resize(text.size() * 2 + 8);
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
  size_t in_left = text.size() * sizeof(char16_t);
  size_t produced = 0;
  while (in_left > 0) {
    if (out.size() - produced < in_left * 2 + 8) out.resize(produced + in_left * 2 + 8);
    char* dst = out.data() + produced;
    size_t dst_left = out.size() - produced;
    size_t r = iconv(cd, &in, &in_left, &dst, &dst_left);
    produced = out.size() - dst_left;
    if (r != static_cast<size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // A character without an equivalent, a lone surrogate, or a surrogate
    // pair cut off at the end: write the default character, skip one unit
    // (both units of a valid pair).
    out[produced++] = '?';
    size_t skip = sizeof(char16_t);
    if (in_left >= 4) {
      char16_t hi, lo;
      std::memcpy(&hi, in, 2);
      std::memcpy(&lo, in + 2, 2);
      if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) skip = 4;
    }
    if (errno == EINVAL || skip > in_left) break;
    in += skip;
    in_left -= skip;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(produced);
  return out;
}

bool is_cp932(std::string_view codepage) { return same_text_ascii_ci(codepage, "CP932"); }
bool is_utf8(std::string_view codepage) {
  return same_text_ascii_ci(codepage, "UTF-8") || same_text_ascii_ci(codepage, "UTF8");
}

}  // namespace

UnicodeString from_ansi(std::string_view bytes) { return detail::cp932_to_utf16(bytes); }
std::string to_ansi(std::u16string_view text) { return detail::utf16_to_cp932(text); }
UnicodeString from_utf8(std::string_view bytes) { return detail::utf8_to_utf16(bytes); }
std::string to_utf8(std::u16string_view text) { return detail::utf16_to_utf8(text); }
void cp932_to_utf8(std::string_view bytes, std::string& out) { detail::cp932_to_utf8(bytes, out); }
std::string cp932_to_utf8(std::string_view bytes) {
  std::string out;
  detail::cp932_to_utf8(bytes, out);
  return out;
}
std::string utf8_to_cp932(std::string_view text) { return detail::utf8_to_cp932(text); }
UnicodeString from_codepage(std::string_view bytes, const char* codepage) {
  if (is_cp932(codepage)) return detail::cp932_to_utf16(bytes);
  if (is_utf8(codepage)) return detail::utf8_to_utf16(bytes);
  return decode(bytes, codepage);
}
std::string to_codepage(std::u16string_view text, const char* codepage) {
  if (is_cp932(codepage)) return detail::utf16_to_cp932(text);
  if (is_utf8(codepage)) return detail::utf16_to_utf8(text);
  return encode(text, codepage);
}

namespace {
template <typename C>
C lower_ascii(C c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<C>(c - 'A' + 'a') : c;
}
template <typename S>
bool same_ci(S a, S b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
  return true;
}
}  // namespace

bool same_text_ascii_ci(std::u16string_view a, std::u16string_view b) { return same_ci(a, b); }
bool same_text_ascii_ci(std::string_view a, std::string_view b) { return same_ci(a, b); }

UnicodeString to_upper_ascii(std::u16string_view s) {
  UnicodeString r(s);
  for (auto& c : r)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  return r;
}
UnicodeString to_lower_ascii(std::u16string_view s) {
  UnicodeString r(s);
  for (auto& c : r) c = lower_ascii(c);
  return r;
}
std::string to_lower_ascii(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = lower_ascii(c);
  return r;
}

UnicodeString int_to_text(long long v) {
  std::string s = std::to_string(v);
  return UnicodeString(s.begin(), s.end());
}

}  // namespace Mirel
