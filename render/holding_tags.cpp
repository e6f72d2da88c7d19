// The tags that show a book beyond its catalogue fields: its ISBN as bare
// ISBN-13 or ISBN-10 digits (for cover images and links to other
// catalogues), the due date of its loan, its number of reservations, its
// kind of material, its permanent address, and the accession date in
// Japanese (UKEIRE format=ja) or as an RFC 3339 time (format=rfc3339, for
// feeds). Like the field tags they read the current book of the active
// source and produce nothing without one; unlike them they never show
// "---", so a template can test them for emptiness.
//
// Every record field tag takes escape=html|attr|url|json|xml; the tags of
// this file apply it themselves, the field tags of record_tags.cpp through
// escape_record_field.
#include "html/link.h"
#include "library/book_holdings.h"
#include "platform/exception.h"
#include "platform/strings.h"
#include "render/field_forms.h"
#include "render/page_tags.h"
#include "request/mwrequest.h"

namespace Mirel::MirelWeb {

using Mirelsearch_tlb::Tbook_field;

namespace {

Ibook_holdings& holdings_of(TPageContext& context) {
  if (!context.holdings) throw Exception(u"貸出・予約・資料区分の情報源がありません");
  return context.holdings();
}

// UKEIRE format=ja ("2003年1月14日", "---" when blank on the detail page)
// or format=rfc3339 (a feed's time stamp, which may not be empty: a book
// without an accession date, or a feed without books, gives today).
UnicodeString ukeire_form(TPageContext& context, const TStrings& params, const UnicodeString& day) {
  const UnicodeString format = value_of(params, u"format");
  if (same_text_ascii_ci(format, u"ja")) return dash_if_blank(japanese_date(day), context.request);
  if (same_text_ascii_ci(format, u"rfc3339")) {
    const UnicodeString time = rfc3339_day(day);
    return time.empty() ? rfc3339_day(today_yyyymmdd()) : time;
  }
  throw Exception(u"UKEIRE の format=" + format + u" は使えません。ja か rfc3339 を書いてください");
}

}  // namespace

bool holding_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
                 UnicodeString& replace_text) {
  enum class Kind { isbn13, isbn10, due, reservations, material, detail_url, ukeire };
  Kind kind;
  if (name == u"ISBN13") kind = Kind::isbn13;
  else if (name == u"ISBN10") kind = Kind::isbn10;
  else if (name == u"KASIDASI_DUE") kind = Kind::due;
  else if (name == u"YOYAKU_COUNT") kind = Kind::reservations;
  else if (name == u"SKUBUN") kind = Kind::material;
  else if (name == u"DETAIL_URL") kind = Kind::detail_url;
  // Without format= the accession date is the plain field tag.
  else if (name == u"UKEIRE" && !value_of(params, u"format").empty()) kind = Kind::ukeire;
  else return false;

  // A wrong escape= fails on every page, not only on pages with books.
  const Tfield_escape how = parse_field_escape(value_of(params, u"escape"));
  // No book: none at all, or a list without books (a feed without entries).
  if (context.cursor == nullptr || context.cursor->past_last_book()) {
    if (kind == Kind::ukeire) replace_text = ukeire_form(context, params, u"");
    return true;
  }
  Mirelsearch_tlb::Ibook_cursor& book = *context.cursor;
  UnicodeString text;
  switch (kind) {
    case Kind::isbn13: text = isbn13_of(book.book_text(Tbook_field::isbn)); break;
    case Kind::isbn10: text = isbn10_of(book.book_text(Tbook_field::isbn)); break;
    case Kind::due: {
      const UnicodeString due = holdings_of(context).due_date(book.book_text(Tbook_field::bookid));
      if (!due.empty()) text = japanese_date(due);
      break;
    }
    case Kind::reservations:
      text = int_to_text(holdings_of(context).reservation_count(book.book_text(Tbook_field::bookid)));
      break;
    case Kind::material:
      text = holdings_of(context).material_type(book.book_text(Tbook_field::bookid));
      break;
    case Kind::detail_url: {
      // The book alone, no list around it: an address to keep and share.
      const Tmwreq_bookid bookid(book.book_text(Tbook_field::bookid));
      const UnicodeString url = script_url(context.request, u"/data") + u'?' + bookid.encode();
      // The host comes from the request: escaped for markup unless the
      // template asks for another form.
      replace_text = escape_field(url, how == Tfield_escape::none ? Tfield_escape::xml : how);
      return true;
    }
    case Kind::ukeire:
      text = ukeire_form(context, params, book.book_text(Tbook_field::ukeire));
      break;
  }
  replace_text = escape_field(text, how);
  return true;
}

void escape_record_field(const UnicodeString& name, const TStrings& params,
                         UnicodeString& replace_text) {
  // The two status tags are markup of the program's own, not library data.
  if (name == u"KASIDASI" || name == u"KASIDASI_MARK") return;
  const UnicodeString value = value_of(params, u"escape");
  if (value.empty()) return;
  replace_text = escape_field(replace_text, parse_field_escape(value));
}

}  // namespace Mirel::MirelWeb
