// The tags of one book record: its catalogue fields, the classification
// number derived from the call number, and its lending status as a word
// (KASIDASI) or a mark (KASIDASI_MARK). They read the current record of the
// active source and produce nothing without one.
#include <string_view>

#include "app/web_main.h"
#include "html/html_tag.h"
#include "render/record_source.h"
#include "render/record_text.h"

namespace Mirel::MirelWeb {

namespace {

struct Tfield_tag {
  std::u16string_view name;
  Trecord_field field;
};

// The plain text fields; KINGAKU, SYOZAI and NDC are read their own way.
constexpr Tfield_tag kFieldTags[] = {
    {u"BOOKID", Trecord_field::bookid}, {u"SYOMEI", Trecord_field::syomei},
    {u"SYOKANA", Trecord_field::syokana}, {u"CHOSYA", Trecord_field::chosya},
    {u"CHOKANA", Trecord_field::chokana}, {u"SYUPAN", Trecord_field::syupan},
    {u"SYUNEN", Trecord_field::syunen}, {u"ISBN", Trecord_field::isbn},
    {u"PAGE", Trecord_field::page}, {u"OOKISA", Trecord_field::ookisa},
    {u"SEIKYU", Trecord_field::seikyu}, {u"KENMEI", Trecord_field::kenmei},
    {u"NAIYO", Trecord_field::naiyo}, {u"UKEIRE", Trecord_field::ukeire},
    {u"MEMO", Trecord_field::memo},
};

UnicodeString status_box(const char16_t* css_class, const char16_t* word) {
  Thtml_tag box(u"div", word);
  box.set_attribute(u"class", css_class);
  return box.to_html();
}

// The first test that holds decides; later tests are not made.
UnicodeString lending_status(const Trecord_source& source) {
  if (source.is_kasidasi()) return status_box(u"disabled", u"貸出中");
  if (source.is_fumei()) return status_box(u"disabled", u"所在不明");
  if (source.is_kinsi()) return status_box(u"disabled", u"貸出禁止");
  return status_box(u"enabled", u"貸出可");
}

UnicodeString lending_mark(const Trecord_source& source) {
  const bool unavailable = source.is_kinsi() || source.is_kasidasi() || source.is_fumei();
  return unavailable ? u"<div class=\"disabled\">\u25B2</div>" : u"<div class=\"enabled\">\u25A0</div>";
}

}  // namespace

bool TWebMain::record_tag(const UnicodeString& name, UnicodeString& replace_text) {
  enum class Kind { none, status, mark, field, kingaku, syozai, ndc } kind = Kind::none;
  Trecord_field field = Trecord_field::bookid;
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

  const Trecord_source source(*this);
  if (!source) return true;
  switch (kind) {
    case Kind::status: replace_text = lending_status(source); break;
    case Kind::mark: replace_text = lending_mark(source); break;
    // The price is always a number, so it never becomes "---".
    case Kind::kingaku: replace_text = int_to_text(source.kingaku()); break;
    case Kind::syozai: replace_text = dash_if_blank(source.syozai(), *Request); break;
    // Not dashed: an empty classification stays empty on the detail page.
    case Kind::ndc: replace_text = ndc_of(source.text(Trecord_field::seikyu)); break;
    case Kind::field: replace_text = dash_if_blank(source.text(field), *Request); break;
    case Kind::none: break;
  }
  return true;
}

}  // namespace Mirel::MirelWeb
