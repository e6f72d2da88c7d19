// The search page service: the prepared catalogue search run under the
// database mutex while a template is produced.
#include "app/web_main.h"

namespace Mirel::MirelWeb {

void TWebMain::produce_page(const UnicodeString&) {}

}  // namespace Mirel::MirelWeb
