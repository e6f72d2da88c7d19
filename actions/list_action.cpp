// The list and detail actions ("/list", "/data").
#include "app/web_main.h"

namespace Mirel::MirelWeb {

void TWebMain::WebMainRequestListAction(TWebRequest&, TWebResponse&, bool&) {}

}  // namespace Mirel::MirelWeb
