// The error page, the error log and the boundary convention that every
// action and tag handler (and the module's construction) follows.
#include "app/web_main.h"
#include "error/error_log.h"
#include "error/mwerror.h"
#include "request/request_limits.h"
#include "search/conditions.h"

namespace Mirel::MirelWeb {

void TWebMain::produce_error_page() {
  prepare_error_page();
  Response->SendResponse();
}

void TWebMain::prepare_error_page() {
  PageProducer.SetHTMLFile(path->html_path + u"error.html");
  Response->SetContent(PageProducer.Content());
}

bool TWebMain::answer_request_past_limits() {
  const Trequest_limits limits{environment_.limits.max_value_bytes, environment_.limits.max_words};
  if (request_within_limits(*Request, limits)) return false;
  set_narrow_error(*error);
  produce_error_page();
  return true;
}

void TWebMain::write_error_log(const UnicodeString& message) {
  if (!error_log) return;
  // During construction no request is attached yet; the address then comes
  // from the CGI environment the module was built with.
  const std::string& client = Request ? Request->RemoteAddr() : environment_.remote_addr;
  error_log->write(client, message);
}

void TWebMain::run_guarded(const char16_t* fallback_message, const std::function<void()>& work) {
  auto report = [this](const Exception& e) {
    write_error_log(e.message());
    if (Response) Response->SetReasonString(to_ansi(e.message()));
  };
  try {
    work();
  } catch (const Mirelsearch_tlb::ESearchTimeout&) {
    // Not a failure: it passes every handler unlogged to the search page
    // service, which answers with the narrow-your-search page.
    throw;
  } catch (const Exception& e) {
    report(e);
    throw;
  } catch (...) {
    Exception replacement(fallback_message);
    report(replacement);
    throw replacement;
  }
}

}  // namespace Mirel::MirelWeb
