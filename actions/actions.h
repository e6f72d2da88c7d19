// The actions of the web module, as functions over what they use of it:
// the request and the response, the installation's paths, the error pair,
// the slots of the search, the recommended-books source and the
// new-arrivals holder, and three page services of the module (produce a
// template, run the new-arrivals settings pass, produce the error page).
//
// Every action that shows books goes through produce_list_page, the one
// routine that takes the database mutex, opens the source, produces the
// page or the not-found page, closes the source and gives the mutex back.
// A busy database, a search without hits and a search past its time budget
// end in the error page, sent only once the mutex is given back (a web
// server may end the process as soon as it has the whole response); every
// other failure leaves the action as an exception, after the source is
// closed and the mutex given back, for the module's boundary to report.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "cgi/web_request.h"
#include "cgi/web_response.h"
#include "config/mw_settings.h"
#include "platform/strings.h"
#include "platform/unicode_string.h"
#include "search/book_cursor.h"
#include "template/page_producer.h"

namespace Mirelsearch_tlb {
class Tmirel_search;
}

namespace Mirel::MirelWeb {

class Tmwerror;
class Tmwnewbook;
class Tmwrecommenddb;

struct Taction_services {
  TWebRequest& request;
  TWebResponse& response;
  const Tmw_path& path;
  Tmwerror& error;
  uint32_t mutex_timeout;
  // Section "Limits" of mirelweb.ini: the search's time budget.
  const Tmw_limits& limits;
  std::shared_ptr<Mirelsearch_tlb::Tmirel_search>& search;
  std::shared_ptr<Tmwrecommenddb>& recommenddb;
  std::shared_ptr<Tmwnewbook>& newbook;
  // The page made from the template file `file` by the main page producer.
  std::function<UnicodeString(const UnicodeString& file)> produce;
  // Runs the new-arrivals settings pass over the template file `file`.
  std::function<void(const UnicodeString& file)> read_settings;
  // Produces and sends the error page of the current error pair.
  std::function<void()> produce_error_page;
  // Makes the error page of the current error pair the response's content
  // without sending it, for a holder of the database mutex.
  std::function<void()> prepare_error_page;
  // A list without books is still the page (a feed with no entries), not
  // the not-found page.
  bool produce_without_books;
};

// A source of books, opened and closed by produce_list_page while it holds
// the database mutex.
class Tlisted_source {
 public:
  virtual ~Tlisted_source() = default;
  // Opens the source and returns its cursor. A failure leaves nothing open.
  virtual Mirelsearch_tlb::Ibook_cursor& open() = 0;
  // Closes the source after the page; a failure passes on.
  virtual void close() = 0;
  // Closes the source after the page failed; the failure on its way out is
  // the one that counts.
  virtual void close_after_failure() = 0;
};

// How long this request waits for the database mutex: `configured`, or in
// a build with MIRELWEB_TEST_HOOKS the value of MIRELWEB_TEST_MUTEX_WAIT_MS
// when that is set, so that tests reach the busy page without a minute's
// wait.
uint32_t database_wait_ms(uint32_t configured);

// Under the database mutex: opens `source`; with books produces
// html_path + `template_name` into the response, without books the
// not-found page; closes the source; gives the mutex back. Busy: the busy
// page, and the source is never opened. A search that runs past its time
// budget (ESearchTimeout, from open or from a tag) is closed and ends in
// the narrow-your-search page.
void produce_list_page(Taction_services& services, Tlisted_source& source,
                       const UnicodeString& template_name);

// The search page service: the prepared search in services.search through
// produce_list_page; an empty template name redirects to the top page.
void produce_search_page(Taction_services& services, const UnicodeString& template_name);

// "/" and every path no action knows: top.html, or error.html while an
// error pair is pending.
void default_action(Taction_services& services);
// "/list" and "/data".
void list_action(Taction_services& services);
// "/recommend".
void recommend_action(Taction_services& services);
// "/newbook".
void newbook_action(Taction_services& services);
// "/feed": the new arrivals of "/newbook" as an Atom feed made from
// feed.xml, sent as application/atom+xml; no new arrivals make a feed
// without entries.
void feed_action(Taction_services& services);
// The new-arrivals search of "/newbook" and "/feed" put into
// services.search: the settings pass over list.html, then the range under
// the mutex. False when the mutex stayed busy (the busy page is sent).
bool prepare_newbook_search(Taction_services& services);

// The tag handler of the new-arrivals settings pass: SETUP sets the range
// kind and width of `newbook` (created when empty); every tag becomes the
// empty text.
void newbook_settings_tag(std::shared_ptr<Tmwnewbook>& newbook, TTag tag, const UnicodeString& name,
                          const TStrings& params, UnicodeString& replace_text);

}  // namespace Mirel::MirelWeb
