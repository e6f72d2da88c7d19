// Fuzz target for code page conversion: the fuzz bytes decoded as code page
// 932, UTF-8 and UTF-16, encoded back, and compared with the table-driven
// conversion of the dBASE module, which promises the platform's results.
//
// Conversions never throw. Decoding turns every bad sequence into U+FFFD, so
// decoded text holds no lone surrogate and survives a round trip through
// UTF-8 exactly; through code page 932 it survives too, except that U+FFFD
// (which the code page lacks) comes back as "?".
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "dbase/dbf.h"
#include "fuzz/fuzz_support.h"
#include "platform/unicode_string.h"

namespace {

using Mirel::UnicodeString;

bool is_high(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// `text` with the units an encoder replaces by "?": lone surrogates, and
// unless `lone_surrogates_only`, U+FFFD (which code page 932 lacks).
UnicodeString expected_after_encoding(std::u16string_view text, bool lone_surrogates_only) {
  UnicodeString out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (is_high(c) && i + 1 < text.size() && is_low(text[i + 1])) {
      out += text.substr(i, 2);
      ++i;
    } else if (is_high(c) || is_low(c) || (!lone_surrogates_only && c == u'\uFFFD')) {
      out += u'?';
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  // Code page 932 -> UTF-16 -> code page 932 -> UTF-16.
  const UnicodeString ansi = Mirel::from_ansi(bytes);
  MWFUZZ_CHECK(ansi.size() <= bytes.size());
  MWFUZZ_CHECK(expected_after_encoding(ansi, true) == ansi);
  const std::string ansi_back = Mirel::to_ansi(ansi);
  MWFUZZ_CHECK(Mirel::from_ansi(ansi_back) == expected_after_encoding(ansi, false));

  // UTF-8 -> UTF-16 -> UTF-8 -> UTF-16.
  const UnicodeString utf = Mirel::from_utf8(bytes);
  MWFUZZ_CHECK(utf.size() <= bytes.size());
  MWFUZZ_CHECK(expected_after_encoding(utf, true) == utf);
  const std::string utf_back = Mirel::to_utf8(utf);
  MWFUZZ_CHECK(Mirel::from_utf8(utf_back) == utf);

  // The bytes as UTF-16 code units, lone surrogates included.
  UnicodeString units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i)
    units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  MWFUZZ_CHECK(Mirel::from_utf8(Mirel::to_utf8(units)) == expected_after_encoding(units, true));
  const std::string units_ansi = Mirel::to_ansi(units);
  MWFUZZ_CHECK(units_ansi.size() <= 2 * units.size());
  // Decoding UTF-16 resumes at the next byte after a bad unit, like every
  // decoding; only its bounds are of interest here.
  MWFUZZ_CHECK(Mirel::from_codepage(bytes, "UTF-16LE").size() <= size);

  // The direct conversions of table text must agree with the way through UTF-16.
  MWFUZZ_CHECK(Mirel::cp932_to_utf8(bytes) == Mirel::to_utf8(ansi));
  if (utf_back == bytes) MWFUZZ_CHECK(Mirel::utf8_to_cp932(bytes) == Mirel::to_ansi(utf));
  return 0;
}
