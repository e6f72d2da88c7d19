// PageProducerHTMLTag: dispatch of the page tags.
#include "app/web_main.h"
#include "error/mwerror.h"

namespace Mirel::MirelWeb {

void TWebMain::PageProducerHTMLTag(TPageProducer&, TTag tag, const UnicodeString& tag_string,
                                   TStrings& tag_params, UnicodeString& replace_text) {
  run_guarded(kTagFailureMessage, [&] {
    if (tag != TTag::tgCustom) return;
    error->replace(tag_string, tag_params, replace_text);
  });
}

}  // namespace Mirel::MirelWeb
