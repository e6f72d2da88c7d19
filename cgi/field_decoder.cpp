// The field splitter of query strings and form bodies; it scans once, code
// unit by code unit, with explicit bounds.
#include "cgi/field_decoder.h"

#include "cgi/field_text.h"
#include "platform/strings.h"
#include "platform/url_codec.h"

namespace Mirel::MirelWeb {
namespace {

bool is_line_end(char16_t c) { return c == u'\r' || c == u'\n'; }

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
    i = quoted_field_end(
        text, start, [](char16_t c) { return c == u'&' || is_line_end(c); }, closed);
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

TStrings decode_request_fields(std::u16string_view text) {
  TStrings fields = split_request_fields(text);
  for (auto& field : fields) field = field_bytes_to_text(url_decode_bytes(to_ansi(field)));
  return fields;
}

}  // namespace Mirel::MirelWeb
