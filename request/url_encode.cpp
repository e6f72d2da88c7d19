// Byte-by-byte percent-encoding of parameter values (see url_encode.h).

#include "request/url_encode.h"

namespace Mirel::MirelWeb {

namespace {

bool copied_as_is(unsigned char c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  switch (c) {
    case '!': case '$': case '\'': case '(': case ')':
    case '*': case '-': case '.': case '@': case '_':
      return true;
    default:
      return false;
  }
}

}  // namespace

std::string url_encode(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (copied_as_is(c)) {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    }
  }
  return out;
}

UnicodeString url_encode(std::u16string_view text) {
  const std::string encoded = url_encode(std::string_view(to_ansi(text)));
  // The encoded text is ASCII, so widening byte by byte is exact.
  return UnicodeString(encoded.begin(), encoded.end());
}

}  // namespace Mirel::MirelWeb
