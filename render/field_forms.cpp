// The other forms of a record field (see field_forms.h).
#include "render/field_forms.h"

#include <cstdio>
#include <string>

#include "platform/exception.h"

namespace Mirel::MirelWeb {

namespace {

// The characters of an ISBN field that count: ASCII and full-width digits
// and X; a leading "ISBN" label with its "-13"/"-10" and ":" is dropped
// first, since its digits are no part of the number.
std::string isbn_characters(std::u16string_view field) {
  size_t i = 0;
  while (i < field.size() && (field[i] == u' ' || field[i] == u'\u3000')) ++i;
  if (field.size() - i >= 4 && same_text_ascii_ci(field.substr(i, 4), u"ISBN")) {
    i += 4;
    if (i < field.size() && (field[i] == u'-' || field[i] == u' ')) ++i;
    if (field.size() - i >= 2 && field[i] == u'1' && (field[i + 1] == u'0' || field[i + 1] == u'3') &&
        (field.size() - i == 2 || !(field[i + 2] >= u'0' && field[i + 2] <= u'9')))
      i += 2;
  }
  std::string out;
  for (; i < field.size(); ++i) {
    char16_t c = field[i];
    if (c >= u'\uFF10' && c <= u'\uFF19') c = static_cast<char16_t>(c - u'\uFF10' + u'0');
    if (c == u'\uFF38' || c == u'x') c = u'X';
    if ((c >= u'0' && c <= u'9') || c == u'X') out += static_cast<char>(c);
  }
  return out;
}

bool all_digits(std::string_view s) {
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

char isbn10_check(std::string_view nine) {
  int sum = 0;
  for (int i = 0; i < 9; ++i) sum += (10 - i) * (nine[i] - '0');
  const int check = (11 - sum % 11) % 11;
  return check == 10 ? 'X' : static_cast<char>('0' + check);
}

char isbn13_check(std::string_view twelve) {
  int sum = 0;
  for (int i = 0; i < 12; ++i) sum += (i % 2 == 0 ? 1 : 3) * (twelve[i] - '0');
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

bool valid_isbn10(std::string_view s) {
  return s.size() == 10 && all_digits(s.substr(0, 9)) && isbn10_check(s.substr(0, 9)) == s[9];
}

bool valid_isbn13(std::string_view s) {
  return s.size() == 13 && all_digits(s) && (s.starts_with("978") || s.starts_with("979")) &&
         isbn13_check(s.substr(0, 12)) == s[12];
}

UnicodeString ascii_text(std::string_view s) { return UnicodeString(s.begin(), s.end()); }

struct Tday {
  int year = 0, month = 0, day = 0;
};

// Eight ASCII digits naming a day of the Gregorian calendar.
bool read_day(std::u16string_view text, Tday& day) {
  if (text.size() != 8) return false;
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    v[i] = text[i] - u'0';
  }
  day.year = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  day.month = v[4] * 10 + v[5];
  day.day = v[6] * 10 + v[7];
  if (day.year == 0 || day.month < 1 || day.month > 12 || day.day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (day.year % 4 == 0 && day.year % 100 != 0) || day.year % 400 == 0;
  const int last = kDays[day.month - 1] + (day.month == 2 && leap ? 1 : 0);
  return day.day <= last;
}

// Upper-case digits for percent-encoding, lower-case for JSON's \u escapes
// (the form JSON serialisers write).
void append_hex(UnicodeString& out, unsigned value, int digits, bool upper = true) {
  const char* const kHex = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += static_cast<char16_t>(kHex[(value >> shift) & 0xF]);
}

void append_ascii(UnicodeString& out, const char* s) {
  while (*s) out += static_cast<char16_t>(*s++);
}

bool is_surrogate(char16_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool is_high(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

UnicodeString markup_escape(std::u16string_view text, Tfield_escape how) {
  UnicodeString out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    switch (c) {
      case u'&': append_ascii(out, "&amp;"); continue;
      case u'<': append_ascii(out, "&lt;"); continue;
      case u'>': append_ascii(out, "&gt;"); continue;
      case u'"': append_ascii(out, "&quot;"); continue;
      case u'\'': append_ascii(out, "&#39;"); continue;
      default: break;
    }
    if (how != Tfield_escape::html && (c == u'\t' || c == u'\n' || c == u'\r')) {
      append_ascii(out, c == u'\t' ? "&#9;" : c == u'\n' ? "&#10;" : "&#13;");
      continue;
    }
    if (how == Tfield_escape::xml) {
      if (c < 0x20 || c == 0xFFFE || c == 0xFFFF) continue;
      if (is_surrogate(c)) {
        // A pair is kept whole; a lone half is no character.
        if (is_high(c) && i + 1 < text.size() && is_low(text[i + 1])) {
          out += c;
          out += text[++i];
        }
        continue;
      }
    }
    out += c;
  }
  return out;
}

UnicodeString url_escape(std::u16string_view text) {
  UnicodeString out;
  for (const unsigned char b : to_utf8(text)) {
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
        b == '.' || b == '_' || b == '~') {
      out += static_cast<char16_t>(b);
    } else {
      out += u'%';
      append_hex(out, b, 2);
    }
  }
  return out;
}

UnicodeString json_escape(std::u16string_view text) {
  UnicodeString out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    switch (c) {
      case u'"': append_ascii(out, "\\\""); continue;
      case u'\\': append_ascii(out, "\\\\"); continue;
      case u'\n': append_ascii(out, "\\n"); continue;
      case u'\r': append_ascii(out, "\\r"); continue;
      case u'\t': append_ascii(out, "\\t"); continue;
      default: break;
    }
    // Line and paragraph separators end a line inside a script.
    if (c < 0x20 || c == u'<' || c == u'>' || c == u'&' || c == 0x2028 || c == 0x2029) {
      append_ascii(out, "\\u");
      append_hex(out, c, 4, false);
      continue;
    }
    out += c;
  }
  return out;
}

}  // namespace

UnicodeString isbn13_of(std::u16string_view field) {
  const std::string s = isbn_characters(field);
  if (valid_isbn13(s)) return ascii_text(s);
  if (valid_isbn10(s)) {
    std::string twelve = "978" + s.substr(0, 9);
    return ascii_text(twelve + isbn13_check(twelve));
  }
  return {};
}

UnicodeString isbn10_of(std::u16string_view field) {
  const std::string s = isbn_characters(field);
  if (valid_isbn10(s)) return ascii_text(s);
  if (valid_isbn13(s) && s.starts_with("978")) {
    const std::string nine = s.substr(3, 9);
    return ascii_text(nine + isbn10_check(nine));
  }
  return {};
}

UnicodeString japanese_date(std::u16string_view yyyymmdd) {
  Tday d;
  if (!read_day(yyyymmdd, d)) return UnicodeString(yyyymmdd);
  return int_to_text(d.year) + u"年" + int_to_text(d.month) + u"月" + int_to_text(d.day) + u"日";
}

UnicodeString rfc3339_day(std::u16string_view yyyymmdd) {
  Tday d;
  if (!read_day(yyyymmdd, d)) return {};
  std::tm local{};
  local.tm_year = d.year - 1900;
  local.tm_mon = d.month - 1;
  local.tm_mday = d.day;
  local.tm_isdst = -1;
  long offset = 0;
  const std::time_t t = std::mktime(&local);
  std::tm back{};
  if (t != static_cast<std::time_t>(-1) && localtime_r(&t, &back) != nullptr) offset = back.tm_gmtoff;
  const long minutes = (offset < 0 ? -offset : offset) / 60;
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT00:00:00%c%02ld:%02ld", d.year, d.month, d.day,
                offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return ascii_text(text);
}

UnicodeString today_yyyymmdd() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {};
  char text[40];  // room for any int the compiler cannot rule out
  std::snprintf(text, sizeof text, "%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  return ascii_text(text);
}

Tfield_escape parse_field_escape(std::u16string_view value) {
  if (value.empty()) return Tfield_escape::none;
  static constexpr std::pair<std::u16string_view, Tfield_escape> kNames[] = {
      {u"html", Tfield_escape::html}, {u"attr", Tfield_escape::attr}, {u"url", Tfield_escape::url},
      {u"json", Tfield_escape::json}, {u"xml", Tfield_escape::xml},
  };
  for (const auto& [name, how] : kNames)
    if (same_text_ascii_ci(value, name)) return how;
  throw Exception(u"escape=" + UnicodeString(value) +
                  u" は使えません。escape には html, attr, url, json, xml のどれかを書いてください");
}

UnicodeString escape_field(std::u16string_view text, Tfield_escape how) {
  switch (how) {
    case Tfield_escape::none: return UnicodeString(text);
    case Tfield_escape::url: return url_escape(text);
    case Tfield_escape::json: return json_escape(text);
    case Tfield_escape::html:
    case Tfield_escape::attr:
    case Tfield_escape::xml: return markup_escape(text, how);
  }
  return UnicodeString(text);
}

}  // namespace Mirel::MirelWeb
