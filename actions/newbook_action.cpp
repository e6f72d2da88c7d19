// The new-arrivals action ("/newbook") and the handler of its settings pass.
#include "app/web_main.h"

namespace Mirel::MirelWeb {

void TWebMain::WebMainRequestNewBookAction(TWebRequest&, TWebResponse&, bool&) {}

void TWebMain::NewBookProducerHTMLTag(TPageProducer&, TTag, const UnicodeString&, TStrings&,
                                      UnicodeString&) {}

}  // namespace Mirel::MirelWeb
