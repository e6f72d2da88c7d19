// Writing ini files: each value is put into the file's bytes in place (or
// added at the end of its section, or with a new section at the end), every
// other byte kept; the result replaces the file atomically.
#include <cerrno>

#include "config/file_bytes.h"
#include "config/ini_file.h"
#include "config/ini_lines.h"
#include "platform/exception.h"

namespace {

using Mirel::Config::TIniLine;
using System::UnicodeString;

constexpr std::string_view kCrLf = "\r\n";

std::string line_bytes(UnicodeString text) {
  for (auto& c : text)
    if (c == u'\r' || c == u'\n') c = u' ';
  return Mirel::to_ansi(text);
}

bool ends_with_line_end(const std::string& bytes) {
  return !bytes.empty() && (bytes.back() == '\n' || bytes.back() == '\r');
}

void put_value(std::string& bytes, const Tini_value& v) {
  const std::string key_line = line_bytes(v.key) + "=" + line_bytes(v.value);
  const auto lines = Mirel::Config::scan_ini_lines(bytes);

  size_t section = lines.size();
  for (size_t i = 0; i < lines.size() && section == lines.size(); ++i)
    if (lines[i].kind == TIniLine::Kind::section && Mirel::same_text_ascii_ci(lines[i].name, v.section))
      section = i;

  if (section == lines.size()) {
    if (!bytes.empty() && !ends_with_line_end(bytes)) bytes += kCrLf;
    bytes += "[" + line_bytes(v.section) + "]" + std::string(kCrLf) + key_line + std::string(kCrLf);
    return;
  }

  size_t last_filled = section;  // the key goes after the section's last non-blank line
  for (size_t i = section + 1; i < lines.size() && lines[i].kind != TIniLine::Kind::section; ++i) {
    const TIniLine& l = lines[i];
    if (l.kind == TIniLine::Kind::key && Mirel::same_text_ascii_ci(l.name, v.key)) {
      // Keep the key as the file spells it; the line end stays as it was.
      bytes.replace(l.begin, l.end - l.begin, line_bytes(l.name) + "=" + line_bytes(v.value));
      return;
    }
    if (l.end > l.begin && bytes.find_first_not_of(" \t", l.begin) < l.end) last_filled = i;
  }
  const TIniLine& after = lines[last_filled];
  std::string insert = key_line + std::string(kCrLf);
  if (after.next == after.end) insert = std::string(kCrLf) + insert;  // last line had no line end
  bytes.insert(after.next, insert);
}

}  // namespace

void write_ini_values(const std::string& path, const std::vector<Tini_value>& values) {
  if (values.empty()) return;
  auto fail = [&] { return Mirel::Exception(Mirel::from_utf8(path) + u" に書き込めません"); };

  std::string original;
  int e = Mirel::Config::read_file_bytes(path, original);
  // A file that exists but cannot be read must not be replaced by one that
  // holds only the new values.
  if (e != 0 && e != ENOENT) throw fail();
  const bool existed = e == 0;

  std::string bytes = original;
  for (const auto& v : values) put_value(bytes, v);
  if (existed && bytes == original) return;
  if (Mirel::Config::replace_file_atomically(path, bytes) != 0) throw fail();
}
