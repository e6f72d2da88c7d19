// The ini line scanner: byte-level line splitting, then classification of
// each decoded line as section, key or other.
#include "config/ini_lines.h"

namespace Mirel::Config {
namespace {

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view trim(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

UnicodeString clean_value(std::u16string_view raw) {
  std::u16string_view v = trim(raw);
  if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  if (v.size() > kIniValueLimit) {
    size_t n = kIniValueLimit;
    // Never keep half of a surrogate pair.
    if (v[n - 1] >= 0xD800 && v[n - 1] <= 0xDBFF) --n;
    v = v.substr(0, n);
  }
  return UnicodeString(v);
}

void classify(TIniLine& line, std::u16string_view text) {
  std::u16string_view t = trim(text);
  if (t.empty() || t.front() == u';') return;
  if (t.front() == u'[') {
    std::u16string_view name = t.substr(1);
    size_t close = name.find(u']');
    if (close != std::u16string_view::npos) name = name.substr(0, close);
    line.kind = TIniLine::Kind::section;
    line.name = UnicodeString(trim(name));
    return;
  }
  size_t eq = t.find(u'=');
  if (eq == std::u16string_view::npos) return;
  std::u16string_view key = trim(t.substr(0, eq));
  if (key.empty()) return;
  line.kind = TIniLine::Kind::key;
  line.name = UnicodeString(key);
  line.value = clean_value(t.substr(eq + 1));
}

}  // namespace

std::vector<TIniLine> scan_ini_lines(std::string_view bytes) {
  std::vector<TIniLine> lines;
  size_t pos = 0;
  while (pos < bytes.size()) {
    TIniLine line;
    line.begin = pos;
    size_t end = pos;
    while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') ++end;
    line.end = end;
    size_t next = end;
    if (next < bytes.size()) {
      if (bytes[next] == '\r' && next + 1 < bytes.size() && bytes[next + 1] == '\n')
        next += 2;
      else
        next += 1;
    }
    line.next = next;
    classify(line, from_ansi(bytes.substr(line.begin, line.end - line.begin)));
    lines.push_back(std::move(line));
    pos = next;
  }
  return lines;
}

}  // namespace Mirel::Config
