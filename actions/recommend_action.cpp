// The recommend action ("/recommend").
#include "app/web_main.h"

namespace Mirel::MirelWeb {

void TWebMain::WebMainRequestRecommendAction(TWebRequest&, TWebResponse&, bool&) {}

}  // namespace Mirel::MirelWeb
