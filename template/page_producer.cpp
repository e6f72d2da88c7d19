// The template scan: tag recognition, parameter splitting and decoding, and
// the call of the tag handler. The page is assembled as bytes of the
// template's code page and turned into UTF-16 once, at the end.
#include "template/page_producer.h"

#include <string_view>

#include "platform/strings.h"
#include "platform/url_codec.h"
#include "template/template_parse.h"

namespace Mirel::MirelWeb {
namespace {

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
    bool closed = false;
    i = quoted_field_end(text, start, is_param_separator, closed);
    entries.push_back(url_decode_field(remove_quotes(text.substr(start, i - start))));
  }
  return entries;
}

void TPageProducer::SetHTMLFile(const UnicodeString& path) {
  if (!same_text_ascii_ci(path, html_file_)) html_file_ = path;
}

const Tparsed_template& TPageProducer::parsed() {
  if (!keep_parsed_ || !parsed_ || parsed_file_ != html_file_) {
    auto parsed = std::make_shared<Tparsed_template>(parse_template(to_utf8(html_file_), html_file_));
    parsed_ = std::move(parsed);
    parsed_file_ = html_file_;
  }
  return *parsed_;
}

UnicodeString TPageProducer::Content() {
  // A copy: the handler may replace this producer's handler while it runs.
  const THTMLTagEvent handler = on_html_tag_;
  // Kept alive while the handlers run, whatever they do to this producer.
  const std::shared_ptr<Tparsed_template> parsed_template = (parsed(), parsed_);
  const bool utf8 = parsed_template->utf8;
  auto to_text = [utf8](std::string_view bytes) {
    return utf8 ? from_utf8(bytes) : from_ansi(bytes);
  };

  std::string page;
  page.reserve(parsed_template->bytes.size());
  for (Ttemplate_node& node : parsed_template->nodes) {
    if (!node.is_tag) {
      page += parsed_template->range(node.text);
      continue;
    }
    const UnicodeString& tag_string = node.name;
    // The handler gets entries of its own, which it may change; a kept
    // parse decodes each tag's parameters once.
    TStrings tag_params;
    if (node.decoded) {
      tag_params = *node.decoded;
    } else {
      tag_params = split_tag_params(trim_blanks(to_text(parsed_template->range(node.params))));
      if (keep_parsed_) node.decoded = tag_params;
    }
    UnicodeString replace_text;
    if (handler) handler(*this, tag_kind(tag_string), tag_string, tag_params, replace_text);
    page += utf8 ? to_utf8(replace_text) : to_ansi(replace_text);
  }
  if (parsed_template->failure) std::rethrow_exception(parsed_template->failure);
  return to_text(page);
}

}  // namespace Mirel::MirelWeb
