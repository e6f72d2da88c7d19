// The error page, the error log and the boundary convention of every action
// and tag handler.
#include "app/web_main.h"
#include "error/error_log.h"
#include "error/mwerror.h"

namespace Mirel::MirelWeb {

void TWebMain::produce_error_page() {
  PageProducer.SetHTMLFile(path->html_path + u"error.html");
  Response->SetContent(PageProducer.Content());
  Response->SendResponse();
}

void TWebMain::write_error_log(const UnicodeString&) {
  // The log line is written here.
}

void TWebMain::run_guarded(const char16_t* fallback_message, const std::function<void()>& work) {
  try {
    work();
  } catch (const Exception& e) {
    write_error_log(e.message());
    if (Response) Response->SetReasonString(to_ansi(e.message()));
    throw;
  } catch (...) {
    Exception replacement(fallback_message);
    write_error_log(replacement.message());
    if (Response) Response->SetReasonString(to_ansi(replacement.message()));
    throw replacement;
  }
}

}  // namespace Mirel::MirelWeb
