// The echo of the query (QUERY_KEY_LIST, QUERY_*) and the link back to the list.
#include "app/web_main.h"
#include "request/mwrequests.h"

namespace Mirel::MirelWeb {

bool TWebMain::query_tag(const UnicodeString&, const TStrings&, const Tmwrequests&,
                         UnicodeString&) {
  return false;
}

}  // namespace Mirel::MirelWeb
