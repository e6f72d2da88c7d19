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

namespace {

// `text` in the default code page, characters it cannot hold as "&#N;".
std::string to_ansi_with_references(std::u16string_view text) {
  std::string bytes = to_ansi(text);
  size_t defaults = 0;
  for (char16_t c : text) defaults += c == u'?';
  size_t found = 0;
  for (char c : bytes) found += c == '?';
  if (found == defaults) return bytes;  // every character had its bytes
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    size_t length = 1;
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      length = 2;
    }
    const std::string one = to_ansi(text.substr(i, length));
    const bool lone_surrogate = cp >= 0xD800 && cp <= 0xDFFF;
    if (one == "?" && cp != u'?' && !lone_surrogate)
      bytes += "&#" + std::to_string(static_cast<uint32_t>(cp)) + ";";
    else
      bytes += one;
    i += length - 1;
  }
  return bytes;
}

}  // namespace

UnicodeString url_encode(std::u16string_view text) {
  const std::string encoded = url_encode(std::string_view(to_ansi_with_references(text)));
  // The encoded text is ASCII, so widening byte by byte is exact.
  return UnicodeString(encoded.begin(), encoded.end());
}

}  // namespace Mirel::MirelWeb
