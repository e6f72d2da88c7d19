// The parse stage of the page producer: a template file read once into a
// list of text and tag nodes, which the producer then renders against its
// tag handler as often as it is asked (a row template once per row).
//
// Every byte-level rule of the template scan lives here: blanks are bytes 1
// to 32 and a byte 0 ends the template; "<" followed (after blanks) by "#"
// starts a tag whose name is the next token (after blanks); the parameter
// text runs to the next ">" outside single or double quotes, or to the end;
// a "<" followed by any other token is copied with that token, the blanks
// between them dropped. Text nodes keep their bytes exactly.
//
// A failure of the scan (a line of 4096 bytes or more, a read error) is kept
// as the template's last node, so that rendering runs the handlers of every
// tag before it and then fails exactly where reading the file failed. A
// template that cannot be opened throws at once. Tag parameters are decoded
// when a tag is first rendered (a bad escape fails there, every time) and
// kept once decoded.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/strings.h"

namespace Mirel::MirelWeb {

// Offsets into Tparsed_template::bytes.
struct Tbyte_range {
  size_t begin = 0;
  size_t end = 0;
};

struct Ttemplate_node {
  bool is_tag = false;
  // Text: the bytes to copy. Tag: the name's bytes.
  Tbyte_range text;
  // Tag: the raw parameter text (blanks kept).
  Tbyte_range params;
  // Tag: the name as text, converted once when the template is parsed.
  UnicodeString name;
  // Tag: the parameter entries, once decoded.
  std::optional<TStrings> decoded;
};

struct Tparsed_template {
  bool utf8 = false;  // the file began with the UTF-8 byte-order mark
  std::string bytes;  // the template after the mark, as far as it was read
  std::string_view range(Tbyte_range r) const {
    return std::string_view(bytes).substr(r.begin, r.end - r.begin);
  }
  std::vector<Ttemplate_node> nodes;
  // Where the scan stopped short: thrown after the last node is rendered.
  std::exception_ptr failure;
};

// Reads and parses the file named `file_name` (bytes); `display_path` is
// the path named by the open failure.
Tparsed_template parse_template(const std::string& file_name, const std::u16string& display_path);

}  // namespace Mirel::MirelWeb
