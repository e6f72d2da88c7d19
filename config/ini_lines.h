// The line scanner shared by the ini reader and writer. Private to config/.
//
// An ini file is scanned as bytes of the default code page, split at CR LF,
// LF or CR (neither byte occurs inside a code page 932 character, so the
// split never cuts a character); each line is then decoded and classified.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/unicode_string.h"

namespace Mirel::Config {

struct TIniLine {
  enum class Kind { other, section, key };
  size_t begin = 0;  // first byte of the line
  size_t end = 0;    // one past its last byte, before the line end
  size_t next = 0;   // first byte after the line end (== end on the last line without one)
  Kind kind = Kind::other;
  UnicodeString name;   // section name, or key name (blanks trimmed, original spelling)
  UnicodeString value;  // key lines: the value as read (trimmed, quotes removed, limited)
};

// The most characters of a value that are read; the rest is ignored.
inline constexpr size_t kIniValueLimit = 2047;

// Splits and classifies every line of `bytes`:
//   "[name]"      a section line (blanks around the name dropped; without a
//                 closing bracket the name runs to the end of the line);
//   "key=value"   a key line: the key is the text before the first '=', the
//                 value the rest; blanks around both are dropped, then a
//                 value enclosed in a pair of double or single quotes loses
//                 them, then it is cut to kIniValueLimit characters;
//   anything else (blank lines, ";" comments, lines without '=' or with an
//   empty key) is Kind::other.
std::vector<TIniLine> scan_ini_lines(std::string_view bytes);

}  // namespace Mirel::Config
