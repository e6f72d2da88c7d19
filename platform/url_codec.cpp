// The URL codec of request fields and link parameters (see url_codec.h).
// Both directions scan once, byte by byte, with explicit bounds.
#include "platform/url_codec.h"

#include <algorithm>

#include "platform/exception.h"

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

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

[[noreturn]] void throw_truncated_escape(size_t position) {
  throw Exception(u"URL 表記用エンコード（%XX）文字列のエラー：位置 - " +
                  int_to_text(static_cast<long long>(position)));
}

[[noreturn]] void throw_bad_escape(std::string_view escape, size_t position) {
  throw Exception(u"URL 表記エンコードでは許されない文字 (" + from_ansi(escape) +
                  u")：位置 - " + int_to_text(static_cast<long long>(position)));
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
  // ASCII is itself in the code page: most values of a link (numbers, empty
  // fields) need no conversion.
  std::string bytes;
  if (std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; }))
    bytes.assign(text.begin(), text.end());
  else
    bytes = to_ansi_with_references(text);
  const std::string encoded = url_encode(std::string_view(bytes));
  // The encoded text is ASCII, so widening byte by byte is exact.
  return UnicodeString(encoded.begin(), encoded.end());
}

std::string url_decode_bytes(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  const size_t n = field.size();
  for (size_t i = 0; i < n; ++i) {
    const char c = field[i];
    if (c == '+') {
      out.push_back(' ');
    } else if (c != '%') {
      out.push_back(c);
    } else if (i + 1 < n && field[i + 1] == '%') {
      out.push_back('%');
      ++i;
    } else if (i + 2 >= n) {
      throw_truncated_escape(i + 1);
    } else {
      const int high = hex_value(field[i + 1]);
      const int low = hex_value(field[i + 2]);
      if (high < 0 || low < 0) throw_bad_escape(field.substr(i, 3), i + 1);
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    }
  }
  return out;
}

UnicodeString url_decode_field(std::u16string_view field) {
  return from_ansi(url_decode_bytes(to_ansi(field)));
}

}  // namespace Mirel::MirelWeb
