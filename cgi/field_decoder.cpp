// The field splitter and the URL decoder with their two failure messages.
// Both scan once, byte by byte (code unit by code unit), with explicit bounds.
#include "cgi/field_decoder.h"

#include "cgi/field_text.h"
#include "platform/exception.h"

namespace Mirel::MirelWeb {
namespace {

bool is_line_end(char16_t c) { return c == u'\r' || c == u'\n'; }

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

TStrings split_request_fields(std::u16string_view text) {
  TStrings fields;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && is_line_end(text[i])) ++i;
    if (i >= n) break;
    const size_t start = i;
    const bool begins_quoted = text[i] == u'"';
    bool closed = false;
    while (i < n) {
      const char16_t c = text[i];
      if (c == u'"') {
        const size_t close = text.find(u'"', i + 1);
        if (close == std::u16string_view::npos) {
          i = n;
        } else {
          i = close + 1;
          closed = true;
        }
        break;
      }
      if (c == u'&' || is_line_end(c)) break;
      ++i;
    }
    std::u16string_view field = text.substr(start, i - start);
    // The separator that ended the field belongs to no field.
    if (i < n && !closed) ++i;
    if (begins_quoted) {
      field.remove_prefix(1);
      if (closed) field.remove_suffix(1);
    }
    fields.emplace_back(field);
  }
  return fields;
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

TStrings decode_request_fields(std::u16string_view text) {
  TStrings fields = split_request_fields(text);
  for (auto& field : fields) field = field_bytes_to_text(url_decode_bytes(to_ansi(field)));
  return fields;
}

}  // namespace Mirel::MirelWeb
