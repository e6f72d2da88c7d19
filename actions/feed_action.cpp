// The new arrivals as an Atom feed ("/feed"): the search of "/newbook",
// with the same range settings from list.html, produced from feed.xml in
// the template directory. Only the feed itself goes out as
// application/atom+xml; the busy page stays an HTML page. A range without
// books is a feed without entries, which a feed reader reads as "nothing
// new", where the not-found page would be an error to it.
#include "actions/actions.h"

namespace Mirel::MirelWeb {

void feed_action(Taction_services& services) {
  if (!prepare_newbook_search(services)) return;
  Taction_services feed = services;
  feed.produce_without_books = true;
  feed.produce = [&services, produce = services.produce](const UnicodeString& file) {
    UnicodeString page = produce(file);
    services.response.SetContentType("application/atom+xml");
    return page;
  };
  produce_search_page(feed, u"feed.xml");
}

}  // namespace Mirel::MirelWeb
