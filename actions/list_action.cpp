// The list and detail actions ("/list" and "/data" share this handler): the
// request's search conditions become a catalogue search, and the search page
// service produces one page of hits ("list.html") or the first hit's full
// record ("page_.html"). A request without any search word goes back to the
// top page.
#include "app/web_main.h"
#include "html/link.h"
#include "request/search_term.h"
#include "search/mirel_search.h"

namespace Mirel::MirelWeb {

void TWebMain::WebMainRequestListAction(TWebRequest& request, TWebResponse& response, bool&) {
  run_guarded(kActionFailureMessage, [&] {
    if (answer_request_past_limits()) return;
    Tmwsearch_term term;
    if (!term.load(&request)) {
      response.SendRedirect(to_ansi(script_url(request, u"")));
      return;
    }
    search = std::make_shared<Mirelsearch_tlb::Tmirel_search>();
    term.apply(*search);
    search->set_flag(true);
    // The dispatcher matched the path without letter case; the page is
    // chosen with it. Any other spelling (/LIST) answers with an empty body.
    const std::string& path_info = request.PathInfo();
    if (path_info == "/list")
      produce_page(u"list.html");
    else if (path_info == "/data")
      produce_page(u"page_.html");
  });
}

}  // namespace Mirel::MirelWeb
