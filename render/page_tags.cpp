// PageProducerHTMLTag: the tag handler of every whole page. It hands each
// custom tag to the first tag group that knows its name (exact letter case),
// in a fixed order: navigation and settings, the book record, the result
// list, then the query echo; a name nobody knows goes to the current error
// pair, which fills ERR_NAME and ERR_MSG and leaves everything else empty.
#include "app/web_main.h"
#include "error/mwerror.h"
#include "request/mwrequests.h"

namespace Mirel::MirelWeb {

void TWebMain::PageProducerHTMLTag(TPageProducer&, TTag tag, const UnicodeString& tag_string,
                                   TStrings& tag_params, UnicodeString& replace_text) {
  run_guarded(kTagFailureMessage, [&] {
    // Predefined tags (LINK, IMAGE, TABLE ...) are replaced by nothing.
    if (tag != TTag::tgCustom) return;
    if (navigation_tag(tag_string, tag_params, replace_text)) return;
    if (record_tag(tag_string, replace_text)) return;
    if (list_tag(tag_string, tag_params, replace_text)) return;
    // The remaining names are decided with the request's parameters at
    // hand; a request whose fields cannot be decoded fails here.
    const Tmwrequests requests(*Request);
    if (query_tag(tag_string, tag_params, requests, replace_text)) return;
    error->replace(tag_string, tag_params, replace_text);
  });
}

}  // namespace Mirel::MirelWeb
