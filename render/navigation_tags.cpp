// Page settings (SETUP) and the links to the main entry points of the site.
#include "app/web_main.h"

namespace Mirel::MirelWeb {

bool TWebMain::navigation_tag(const UnicodeString&, const TStrings&, UnicodeString&) {
  return false;
}

}  // namespace Mirel::MirelWeb
