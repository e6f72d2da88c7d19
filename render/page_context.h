// TPageContext: what the tag handlers of one request read and change, made
// once when the first tag of the request is handled. It holds the request
// with its parameters (parsed at their first use and then kept), the page
// settings and captions that SETUP writes, the new-arrivals holder, the
// error pair, the active book cursor and the running row number, and the
// two services the handlers cannot provide themselves: the failure boundary
// around each tag and the production of one row of a result list.
//
// The settings, captions, holder, error pair and row number are the web
// module's own members, reached through references, so that a change made
// by a tag is the module's change. The context owns only the parsed
// parameters.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "cgi/web_request.h"
#include "config/mw_settings.h"
#include "library/book_holdings.h"
#include "platform/unicode_string.h"
#include "request/mwrequests.h"
#include "search/book_cursor.h"

namespace Mirel::MirelWeb {

class Tmwnewbook;
class Tmwerror;

class TPageContext {
 public:
  TPageContext(TWebRequest& request, Tmw_setup& setup, UnicodeString& recommend_caption,
               std::shared_ptr<Tmwnewbook>& newbook, Tmwerror& error, int32_t& row_number)
      : request(request), setup(setup), recommend_caption(recommend_caption), newbook(newbook),
        error(error), row_number(row_number) {}
  TPageContext(const TPageContext&) = delete;
  TPageContext& operator=(const TPageContext&) = delete;

  // The request's parameters, read at the first call. A request whose
  // fields cannot be decoded throws at every call, so each tag that needs
  // them fails as it would on its own.
  const Tmwrequests& requests() {
    if (!requests_) requests_.emplace(request);
    return *requests_;
  }

  TWebRequest& request;
  Tmw_setup& setup;
  UnicodeString& recommend_caption;
  std::shared_ptr<Tmwnewbook>& newbook;
  Tmwerror& error;
  int32_t& row_number;

  // The source of the book tags; none on pages without books.
  Mirelsearch_tlb::Ibook_cursor* cursor = nullptr;
  // True while FIND_VALUE_LIST produces its rows.
  bool producing_rows = false;
  // The row template of those rows, a file name in the template directory:
  // "listrow.html" unless FIND_VALUE_LIST names another (row=feedrow.xml).
  UnicodeString row_template = u"listrow.html";

  // Runs one tag's work inside the failure boundary (the error log, the
  // reason phrase, the replacement of a foreign exception). Without one the
  // work runs bare.
  std::function<void(const std::function<void()>& work)> tag_boundary;
  // Produces one row of a result list from the row template, for the
  // book the cursor stands on.
  std::function<UnicodeString()> produce_row;
  // Loans, reservations and kinds of material by book id, opened at the
  // first use; none where the tags that need them have no source.
  std::function<Ibook_holdings&()> holdings;

  void guarded(const std::function<void()>& work) {
    if (tag_boundary)
      tag_boundary(work);
    else
      work();
  }

 private:
  std::optional<Tmwrequests> requests_;
};

}  // namespace Mirel::MirelWeb
