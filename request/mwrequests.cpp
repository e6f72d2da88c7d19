// Reading the request parameters from a CGI request and writing them back as
// a query string. The choice between form body and URL follows the request
// method exactly as sent; every reader (Tmwrequests, Torder, Torder_kind)
// makes that choice for itself, with the same outcome.

#include "request/mwrequests.h"

#include <initializer_list>

#include "platform/integer.h"
#include "platform/strings.h"
#include "request/search_text.h"

namespace Mirel::MirelWeb {

namespace {

// The field list the parameters come from, or nullptr when the method is
// neither "POST" nor "GET" (compared with letter case) and nothing is read.
const TStrings* parameter_fields(TWebRequest& request) {
  if (request.Method() == "POST") return &request.ContentFields();
  if (request.Method() == "GET") return &request.QueryFields();
  return nullptr;
}

UnicodeString text_field(const TStrings* fields, std::u16string_view name) {
  return fields ? value_of(*fields, name) : UnicodeString();
}

// A search field: its character references decoded (search_text.h).
UnicodeString search_field(const TStrings* fields, std::u16string_view name) {
  return decode_search_text(text_field(fields, name));
}

int32_t int_field(const TStrings* fields, std::u16string_view name) {
  return fields ? text_to_int_def(value_of(*fields, name), 0) : 0;
}

}  // namespace

Torder_kind::Torder_kind(TWebRequest& request)
    : kind_(text_field(parameter_fields(request), u"ORDERKIND")) {}

UnicodeString Torder_kind::encode() const { return kind_.encode(); }

// The kind is read first: declaration order puts field_ first, so the field is
// filled in the body.
Torder::Torder(TWebRequest& request) : kind_(request) {
  field_.set_value(text_field(parameter_fields(request), u"ORDER"));
}

UnicodeString Torder::encode() const { return field_.encode() + u'&' + kind_.encode(); }

Tmwrequests::Tmwrequests(TWebRequest& request) : Tmwrequests(request, parameter_fields(request)) {}

Tmwrequests::Tmwrequests(TWebRequest& request, const TStrings* fields)
    // Two's complement wrap: "-1" is held as 4294967295.
    : page_(static_cast<uint32_t>(int_field(fields, u"PAGENUM"))),
      bookid_(text_field(fields, u"BOOKID")),
      syomei_(search_field(fields, u"SYOMEI")),
      chosya_(search_field(fields, u"CHOSYA")),
      syupan_(search_field(fields, u"SYUPAN")),
      isbn_(search_field(fields, u"ISBN")),
      kenmei_(search_field(fields, u"KENMEI")),
      order_(request),
      status_(int_field(fields, u"STATUS")) {}

UnicodeString Tmwrequests::encode() const {
  UnicodeString out = page_.encode();
  for (const Iencodable* part : std::initializer_list<const Iencodable*>{
           &syomei_, &chosya_, &syupan_, &isbn_, &kenmei_, &order_, &status_}) {
    out += u'&';
    out += part->encode();
  }
  return out;
}

}  // namespace Mirel::MirelWeb
