// ListRowProducerHTMLTag: the tags of one result row.
#include "app/web_main.h"

namespace Mirel::MirelWeb {

void TWebMain::ListRowProducerHTMLTag(TPageProducer& sender, TTag tag, const UnicodeString& tag_string,
                                      TStrings& tag_params, UnicodeString& replace_text) {
  run_guarded(kTagFailureMessage, [&] {
    if (tag != TTag::tgCustom) return;
    PageProducerHTMLTag(sender, tag, tag_string, tag_params, replace_text);
  });
}

}  // namespace Mirel::MirelWeb
