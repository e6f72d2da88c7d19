// The list and detail actions ("/list" and "/data" share this handler): the
// request's search conditions become a catalogue search, and the search page
// service produces one page of hits ("list.html") or the first hit's full
// record ("page_.html"). A request without any search word goes back to the
// top page.
#include "actions/actions.h"
#include "error/mwerror.h"
#include "html/link.h"
#include "request/search_term.h"
#include "search/mirel_search.h"

namespace Mirel::MirelWeb {

void list_action(Taction_services& services) {
  Tmwsearch_term term;
  if (!term.load(&services.request)) {
    services.response.SendRedirect(to_ansi(script_url(services.request, u"")));
    return;
  }
  services.search = std::make_shared<Mirelsearch_tlb::Tmirel_search>();
  term.apply(*services.search);
  services.search->set_flag(true);
  // The dispatcher matched the path without letter case; the page is
  // chosen with it. Any other spelling (/LIST) answers with an empty body.
  const std::string& path_info = services.request.PathInfo();
  if (path_info == "/list")
    produce_search_page(services, u"list.html");
  else if (path_info == "/data")
    produce_search_page(services, u"page_.html");
}

void default_action(Taction_services& services) {
  const bool error_pending = !services.error.get_name().empty();
  services.response.SetContent(
      services.produce(services.path.html_path + (error_pending ? u"error.html" : u"top.html")));
}

}  // namespace Mirel::MirelWeb
