// Dispatch of one request to an action, the dispatcher's internal-error page,
// and the runner around the whole CGI request with its last-resort page.
#include "cgi/web_module.h"

#include "platform/html_escape.h"

namespace Mirel::MirelWeb {
namespace {

// What the last-resort page says when something outside the exception
// family escapes the request.
constexpr const char16_t* kUnknownFailureMessage = u"サーバー管理者に問い合わせてください";

}  // namespace

void TWebModule::HandleRequest(TWebRequest& request, TWebResponse& response) {
  Request = &request;
  Response = &response;
  if (!BaseUrl.empty()) request.SetBaseUrl(BaseUrl);
  bool handled = false;
  const TWebActionItem* tried_default = nullptr;
  try {
    for (auto& action : Actions) {
      if (!action.handler || !same_text_ascii_ci(action.path_info, request.PathInfo())) continue;
      if (action.is_default) tried_default = &action;
      handled = true;
      action.handler(request, response, handled);
      if (handled) break;
    }
    // No action took the request: the default action answers whatever the
    // path info is (an empty one included).
    if (!handled) {
      for (auto& action : Actions) {
        if (!action.is_default || !action.handler || &action == tried_default) continue;
        handled = true;
        action.handler(request, response, handled);
        break;
      }
    }
  } catch (const Exception& error) {
    send_internal_error_page(response, request, error);
    return;
  }
  if (handled && !response.Sent()) response.SendResponse();
}

void send_internal_error_page(TWebResponse& response, const TWebRequest& request,
                              const Exception& error) {
  response.SetContent(
      u"<html><body><h1>Internal Application Error / 内部アプリケーションエラー</h1>\r\n<p>" +
      html_escape(error.message()) + u"\r\n<p><hr width=\"100%\"><i>" +
      html_escape(from_ansi(request.PathInfo())) + u"</i></body></html>");
  if (response.Sent()) return;
  response.SetStatusCode(500);
  response.SendResponse();
}

void write_last_resort_page(const TCgiOutput& output, const Exception& error) {
  const UnicodeString class_name = html_escape(from_utf8(error.class_name()));
  const UnicodeString message = html_escape(error.message());
  const std::string body = to_ansi(
      u"<html><head><title>Internal Server Error 500</title></head>\r\n"
      u"<h1>Internal Server Error 500</h1><hr>\r\n"
      u"<h1>サーバー内部エラー 500</h1><hr>\r\n"
      u"Exception: " + class_name + u"<br>Message: " + message + u"<br><hr>"
      u"例外 : " + class_name + u"<br>メッセージ : " + message + u"<br></html>\r\n");
  output("Status: 500 " + header_value(to_ansi(error.message())) +
         "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body);
}

int RunCgiApplication(const TCgiInput& input, const TCgiOutput& output,
                      const TWebModuleFactory& make_module) {
  auto last_resort = [&](const Exception& error) {
    try {
      write_last_resort_page(output, error);
    } catch (...) {
      // The output itself failed: there is nobody left to answer.
    }
  };
  try {
    TWebRequest request(input);
    TWebResponse response(request, output);
    // Declared after the request and the response, so destroyed before them.
    std::unique_ptr<TWebModule> module = make_module();
    if (module) module->HandleRequest(request, response);
  } catch (const Exception& error) {
    last_resort(error);
  } catch (...) {
    last_resort(Exception(kUnknownFailureMessage));
  }
  return 0;
}

}  // namespace Mirel::MirelWeb
