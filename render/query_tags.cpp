// The echo of the query (QUERY_KEY_LIST, QUERY_*) and the link back to the
// list a detail page was reached from. Request parameters are visitor input:
// every one that is written into the page goes through html_escape, so a
// parameter can neither add markup nor leave a form field's quoted value.
// Captions come from the program or the library's templates and stay as
// they are.
#include <string>

#include "html/htmltable.h"
#include "html/link.h"
#include "library/mwnewbook.h"
#include "platform/html_escape.h"
#include "render/page_tags.h"

namespace Mirel::MirelWeb {

namespace {

// The search conditions of a catalogue search as a table of the non-empty
// ones: caption, " = ", the visitor's text.
UnicodeString search_conditions_table(const Tmwrequests& requests) {
  const std::pair<const char16_t*, UnicodeString> conditions[] = {
      {u"書名", requests.syomei()},  {u"著者名", requests.chosya()}, {u"出版者", requests.syupan()},
      {u"ISBN", requests.isbn()},    {u"件名", requests.kenmei()},
  };
  Thtmltable table(3, 5);
  table.set_attribute(u"border", u"0");
  uint32_t row = 0;
  for (const auto& [caption, value] : conditions) {
    if (value.empty()) continue;
    table.set_cell_attribute(0, row, u"class", u"query_caption");
    table.set_cell_content(0, row, caption);
    table.set_cell_attribute(1, row, u"class", u"query_equal");
    table.set_cell_content(1, row, u" = ");
    table.set_cell_attribute(2, row, u"class", u"query_key");
    table.set_cell_content(2, row, html_escape(value));
    ++row;
  }
  table.set_row_count(row);
  return table.to_html();
}

UnicodeString query_key_span(const UnicodeString& caption) {
  return u"<span class=\"query_key\">" + caption + u"</span>";
}

// The action path of BACK_TO_LIST: unlike the paging links, an unknown
// STATUS leads to the catalogue list.
UnicodeString back_to_list_path(int32_t status) {
  switch (status) {
    case 1: return u"/recommend";
    case 2: return u"/newbook";
    default: return u"/list";
  }
}

}  // namespace

bool query_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
               UnicodeString& replace_text) {
  const Tmwrequests& requests = context.requests();
  if (name == u"QUERY_KEY_LIST") {
    switch (requests.status()) {
      case 0: replace_text = search_conditions_table(requests); break;
      case 1: replace_text = query_key_span(context.recommend_caption); break;
      case 2: replace_text = query_key_span(context.newbook ? context.newbook->caption() : UnicodeString()); break;
      default: break;
    }
    return true;
  }
  if (name == u"QUERY_PAGENUM") {
    replace_text = from_utf8(std::to_string(requests.pagenum()));
    return true;
  }
  struct Echo {
    const char16_t* tag;
    UnicodeString (Tmwrequests::*value)() const;
  };
  static constexpr Echo kEchoes[] = {
      {u"QUERY_SYOMEI", &Tmwrequests::syomei}, {u"QUERY_CHOSYA", &Tmwrequests::chosya},
      {u"QUERY_SYUPAN", &Tmwrequests::syupan}, {u"QUERY_ISBN", &Tmwrequests::isbn},
      {u"QUERY_KENMEI", &Tmwrequests::kenmei}, {u"QUERY_ORDER", &Tmwrequests::order},
      {u"QUERY_ORDERKIND", &Tmwrequests::order_kind},
  };
  for (const Echo& echo : kEchoes) {
    if (name == echo.tag) {
      replace_text = html_escape((requests.*echo.value)());
      return true;
    }
  }
  if (name == u"BACK_TO_LIST") {
    Tlink link(u"");
    link.set_content(value_of(params, u"caption"));
    link.set_href(script_url(context.request, back_to_list_path(requests.status())) + u"?" + requests.encode());
    link.set_attribute(u"class", u"back_to_list");
    replace_text = link.to_html();
    return true;
  }
  return false;
}

}  // namespace Mirel::MirelWeb
