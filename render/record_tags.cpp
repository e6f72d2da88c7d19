// The tags of one book record: its catalogue fields, the classification
// number derived from the call number, and its lending status as a word
// (KASIDASI) or a mark (KASIDASI_MARK). They read the current record of the
// active source and produce nothing without one.
#include <string_view>

#include "html/html_tag.h"
#include "render/page_tags.h"
#include "render/record_text.h"

namespace Mirel::MirelWeb {

using Mirelsearch_tlb::Ibook_cursor;
using Mirelsearch_tlb::Tbook_field;

namespace {

struct Tfield_tag {
  std::u16string_view name;
  Tbook_field field;
};

// The plain text fields; KINGAKU, SYOZAI and NDC are read their own way.
constexpr Tfield_tag kFieldTags[] = {
    {u"BOOKID", Tbook_field::bookid}, {u"SYOMEI", Tbook_field::syomei},
    {u"SYOKANA", Tbook_field::syokana}, {u"CHOSYA", Tbook_field::chosya},
    {u"CHOKANA", Tbook_field::chokana}, {u"SYUPAN", Tbook_field::syupan},
    {u"SYUNEN", Tbook_field::syunen}, {u"ISBN", Tbook_field::isbn},
    {u"PAGE", Tbook_field::page}, {u"OOKISA", Tbook_field::ookisa},
    {u"SEIKYU", Tbook_field::seikyu}, {u"KENMEI", Tbook_field::kenmei},
    {u"NAIYO", Tbook_field::naiyo}, {u"UKEIRE", Tbook_field::ukeire},
    {u"MEMO", Tbook_field::memo},
};

UnicodeString status_box(const char16_t* css_class, const char16_t* word) {
  Thtml_tag box(u"div", word);
  box.set_attribute(u"class", css_class);
  return box.to_html();
}

// The first test that holds decides; later tests are not made.
UnicodeString lending_status(Ibook_cursor& source) {
  if (source.on_loan()) return status_box(u"disabled", u"貸出中");
  if (source.missing()) return status_box(u"disabled", u"所在不明");
  if (source.not_for_loan()) return status_box(u"disabled", u"貸出禁止");
  return status_box(u"enabled", u"貸出可");
}

UnicodeString lending_mark(Ibook_cursor& source) {
  const bool unavailable = source.not_for_loan() || source.on_loan() || source.missing();
  return unavailable ? u"<div class=\"disabled\">\u25B2</div>" : u"<div class=\"enabled\">\u25A0</div>";
}

}  // namespace

bool record_tag(TPageContext& context, const UnicodeString& name, UnicodeString& replace_text) {
  enum class Kind { none, status, mark, field, kingaku, syozai, ndc } kind = Kind::none;
  Tbook_field field = Tbook_field::bookid;
  if (name == u"KASIDASI") kind = Kind::status;
  else if (name == u"KASIDASI_MARK") kind = Kind::mark;
  else if (name == u"KINGAKU") kind = Kind::kingaku;
  else if (name == u"SYOZAI") kind = Kind::syozai;
  else if (name == u"NDC") kind = Kind::ndc;
  else
    for (const Tfield_tag& tag : kFieldTags)
      if (name == tag.name) {
        kind = Kind::field;
        field = tag.field;
        break;
      }
  if (kind == Kind::none) return false;

  if (context.cursor == nullptr) return true;
  Ibook_cursor& source = *context.cursor;
  const TWebRequest& request = context.request;
  switch (kind) {
    case Kind::status: replace_text = lending_status(source); break;
    case Kind::mark: replace_text = lending_mark(source); break;
    // The price is always a number, so it never becomes "---".
    case Kind::kingaku: replace_text = int_to_text(source.book_price()); break;
    case Kind::syozai: replace_text = dash_if_blank(source.book_location(), request); break;
    // Not dashed: an empty classification stays empty on the detail page.
    case Kind::ndc: replace_text = ndc_of(source.book_text(Tbook_field::seikyu)); break;
    case Kind::field: replace_text = dash_if_blank(source.book_text(field), request); break;
    case Kind::none: break;
  }
  return true;
}

}  // namespace Mirel::MirelWeb
