// The request parameters of one CGI request, typed and defaulted, and their
// re-encoding into the query string that every link back into the program
// carries, so that a visitor's search survives from page to page.
//
// Reading: a request whose method is exactly "POST" is read from its content
// fields (the form body; the URL's query string is then ignored), exactly
// "GET" from its query fields; any other method ("HEAD", "get") reads nothing
// and every parameter keeps its default. Field names match without regard to
// letter case, the first occurrence wins, a missing field is the empty text.
// Text parameters are taken unchanged. PAGENUM and STATUS are read with
// text_to_int_def(…, 0); PAGENUM keeps the 32 bits unsigned, so "-1" becomes
// 4294967295. Decoding the fields may throw Mirel::Exception (a bad percent
// escape, from the CGI layer); the constructors let it through.
//
// Value objects: build one from the current request when the parameters are
// needed and drop it afterwards. The request must outlive the constructor
// call only.
#pragma once

#include <cstdint>

#include "cgi/web_request.h"
#include "platform/unicode_string.h"
#include "request/mwrequest.h"
#include "platform/url_codec.h"

namespace Mirel::MirelWeb {

// The sort direction, ORDERKIND. Exactly "DESC" means descending; the
// interpretation belongs to the search conditions.
class Torder_kind : public Iencodable {
 public:
  explicit Torder_kind(TWebRequest& request);
  UnicodeString encode() const override;  // "ORDERKIND=…"

  const UnicodeString& value() const { return kind_.value(); }

 private:
  Tmwreq_order_kind kind_;
};

// The sort field, ORDER, with its direction.
class Torder : public Iencodable {
 public:
  explicit Torder(TWebRequest& request);
  UnicodeString encode() const override;  // "ORDER=…&ORDERKIND=…"

  const UnicodeString& field() const { return field_.value(); }
  const UnicodeString& kind() const { return kind_.value(); }

 private:
  Tmwreq_order_field field_;
  Torder_kind kind_;
};

class Tmwrequests {
 public:
  explicit Tmwrequests(TWebRequest& request);
  virtual ~Tmwrequests() = default;
  Tmwrequests(const Tmwrequests&) = default;
  Tmwrequests& operator=(const Tmwrequests&) = default;

  uint32_t pagenum() const { return page_.value(); }
  UnicodeString bookid() const { return bookid_.value(); }
  UnicodeString syomei() const { return syomei_.value(); }
  UnicodeString chosya() const { return chosya_.value(); }
  UnicodeString syupan() const { return syupan_.value(); }
  UnicodeString isbn() const { return isbn_.value(); }
  UnicodeString kenmei() const { return kenmei_.value(); }
  UnicodeString order() const { return order_.field(); }
  UnicodeString order_kind() const { return order_.kind(); }
  int32_t status() const { return status_.value(); }

  // Replaces the page number (the paging links encode a neighbouring page).
  void set_pagenum(uint32_t page) { page_.set_value(page); }

  // PAGENUM, SYOMEI, CHOSYA, SYUPAN, ISBN, KENMEI, ORDER, ORDERKIND, STATUS in
  // this order, joined by '&', each present even when empty; never BOOKID,
  // never a leading '?'.
  virtual UnicodeString encode() const;

 private:
  Tmwrequests(TWebRequest& request, const TStrings* fields);

  Tmwreq_page page_;
  Tmwreq_bookid bookid_;
  Tmwreq_syomei syomei_;
  Tmwreq_chosya chosya_;
  Tmwreq_syupan syupan_;
  Tmwreq_isbn isbn_;
  Tmwreq_kenmei kenmei_;
  Torder order_;
  Tmwreq_status status_;
};

}  // namespace Mirel::MirelWeb
