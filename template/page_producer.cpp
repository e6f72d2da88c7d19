// The template scan: tag recognition, parameter splitting and decoding, and
// the call of the tag handler. The page is assembled as bytes of the
// template's code page and turned into UTF-16 once, at the end.
#include "template/page_producer.h"

#include <string_view>

#include "cgi/field_decoder.h"
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

bool is_param_separator(char16_t c) { return c == u' ' || c == u'\r' || c == u'\n'; }

// Removes quote characters, scanning from the end: the first quote met opens
// a pair and is removed, the next quote of the same character closes it and
// is removed, a quote of the other character inside an open pair stays.
UnicodeString remove_quotes(std::u16string_view entry) {
  UnicodeString reversed;
  reversed.reserve(entry.size());
  char16_t open = 0;
  for (size_t i = entry.size(); i > 0; --i) {
    const char16_t c = entry[i - 1];
    if (c == u'"' || c == u'\'') {
      if (open == 0) {
        open = c;
        continue;
      }
      if (c == open) {
        open = 0;
        continue;
      }
    }
    reversed.push_back(c);
  }
  return UnicodeString(reversed.rbegin(), reversed.rend());
}

UnicodeString trim_blanks(std::u16string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] <= 32) ++begin;
  while (end > begin && text[end - 1] <= 32) --end;
  return UnicodeString(text.substr(begin, end - begin));
}

TTag tag_kind(std::u16string_view name) {
  static constexpr std::pair<std::u16string_view, TTag> kKinds[] = {
      {u"LINK", TTag::tgLink},         {u"IMAGE", TTag::tgImage},   {u"TABLE", TTag::tgTable},
      {u"IMAGEMAP", TTag::tgImageMap}, {u"OBJECT", TTag::tgObject}, {u"EMBED", TTag::tgEmbed},
  };
  for (const auto& [word, kind] : kKinds)
    if (same_text_ascii_ci(name, word)) return kind;
  return TTag::tgCustom;
}

}  // namespace

TStrings split_tag_params(std::u16string_view text) {
  TStrings entries;
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    while (i < n && is_param_separator(text[i])) ++i;
    if (i >= n) break;
    const size_t start = i;
    while (i < n) {
      const char16_t c = text[i];
      if (c == u'"') {
        const size_t close = text.find(u'"', i + 1);
        i = close == std::u16string_view::npos ? n : close + 1;
        break;
      }
      if (is_param_separator(c)) break;
      ++i;
    }
    entries.push_back(url_decode_field(remove_quotes(text.substr(start, i - start))));
  }
  return entries;
}

void TPageProducer::SetHTMLFile(const UnicodeString& path) {
  if (!same_text_ascii_ci(path, html_file_)) html_file_ = path;
}

UnicodeString TPageProducer::Content() {
  // A copy: the handler may replace this producer's handler while it runs.
  const THTMLTagEvent handler = on_html_tag_;
  TTemplateReader in(to_utf8(html_file_), html_file_);
  const bool utf8 = in.is_utf8();
  auto to_text = [utf8](const std::string& bytes) {
    return utf8 ? from_utf8(bytes) : from_ansi(bytes);
  };

  std::string page;
  size_t pos = 0;
  for (int c = in.at(pos); c >= 0; c = in.at(pos)) {
    if (c != '<') {
      page.push_back(static_cast<char>(c));
      ++pos;
      continue;
    }
    const size_t token = skip_blanks(in, pos + 1);
    const size_t after_token = token_end(in, token);
    if (after_token - token != 1 || in.at(token) != '#') {
      // Not a tag: "<" and the token, without the blanks between them.
      page.push_back('<');
      page += in.bytes(token, after_token);
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

    const UnicodeString tag_string = to_text(in.bytes(name, params));
    TStrings tag_params = split_tag_params(trim_blanks(to_text(in.bytes(params, end))));
    UnicodeString replace_text;
    if (handler) handler(*this, tag_kind(tag_string), tag_string, tag_params, replace_text);
    page += utf8 ? to_utf8(replace_text) : to_ansi(replace_text);
  }
  return to_text(page);
}

}  // namespace Mirel::MirelWeb
