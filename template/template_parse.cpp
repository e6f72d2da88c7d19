// The template scan (see template_parse.h), run once per template file.
#include "template/template_parse.h"

#include "platform/unicode_string.h"
#include "template/template_reader.h"

namespace Mirel::MirelWeb {
namespace {

bool is_blank(int c) { return c >= 1 && c <= 32; }
bool is_ident_start(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool is_ident_part(int c) { return is_ident_start(c) || (c >= '0' && c <= '9'); }

size_t skip_blanks(TTemplateReader& in, size_t pos) {
  while (is_blank(in.at(pos))) ++pos;
  return pos;
}

// The end of the token that starts at `pos`: an identifier, or one byte; at
// the end of the template the token is empty.
size_t token_end(TTemplateReader& in, size_t pos) {
  const int c = in.at(pos);
  if (c < 0) return pos;
  ++pos;
  if (is_ident_start(c))
    while (is_ident_part(in.at(pos))) ++pos;
  return pos;
}

void scan(TTemplateReader& in, std::vector<Ttemplate_node>& nodes) {
  // The text run being collected: contiguous bytes of the template.
  Tbyte_range run;
  auto flush_run = [&] {
    if (run.end > run.begin) {
      Ttemplate_node node;
      node.text = run;
      nodes.push_back(std::move(node));
    }
  };
  // Extends the run by [begin, end), starting a new run at a gap.
  auto copy = [&](size_t begin, size_t end) {
    if (begin != run.end) {
      flush_run();
      run.begin = begin;
    }
    run.end = end;
  };
  size_t pos = 0;
  for (int c = in.at(pos); c >= 0; c = in.at(pos)) {
    if (c != '<') {
      copy(pos, pos + 1);
      ++pos;
      continue;
    }
    const size_t token = skip_blanks(in, pos + 1);
    const size_t after_token = token_end(in, token);
    if (after_token - token != 1 || in.at(token) != '#') {
      // Not a tag: "<" and the token, without the blanks between them.
      copy(pos, pos + 1);
      copy(token, after_token);
      pos = after_token;
      continue;
    }
    const size_t name = skip_blanks(in, after_token);
    const size_t params = token_end(in, name);
    size_t end = params;
    int quote = 0;
    for (int b = in.at(end); b >= 0; b = in.at(++end)) {
      if (quote != 0) {
        if (b == quote) quote = 0;
      } else if (b == '"' || b == '\'') {
        quote = b;
      } else if (b == '>') {
        break;
      }
    }
    pos = in.at(end) == '>' ? end + 1 : end;

    flush_run();
    run = Tbyte_range{pos, pos};
    Ttemplate_node tag;
    tag.is_tag = true;
    tag.text = Tbyte_range{name, params};
    tag.params = Tbyte_range{params, end};
    nodes.push_back(std::move(tag));
  }
  flush_run();
}

}  // namespace

Tparsed_template parse_template(const std::string& file_name, const std::u16string& display_path) {
  TTemplateReader in(file_name, display_path);
  Tparsed_template parsed;
  parsed.utf8 = in.is_utf8();
  try {
    scan(in, parsed.nodes);
  } catch (...) {
    // The text scanned so far up to the failing read is dropped with the
    // page anyway; the tags before it still run.
    parsed.failure = std::current_exception();
  }
  parsed.bytes = in.release_bytes();
  for (Ttemplate_node& node : parsed.nodes) {
    if (!node.is_tag) continue;
    const std::string_view name = parsed.range(node.text);
    node.name = parsed.utf8 ? from_utf8(name) : from_ansi(name);
  }
  return parsed;
}

}  // namespace Mirel::MirelWeb
