// The web-module base and the CGI application runner.
//
// A web module owns an action table. HandleRequest attaches the request and
// the response, calls the first action whose path info equals PATH_INFO
// without regard to letter case (else the default action), and sends the
// response unless a handler has sent it. An Exception that leaves a handler
// is answered with the internal-error page (status 500).
//
// RunCgiApplication is the whole life of one CGI process: read the request,
// construct the module, dispatch, send. An exception that escapes even that
// (above all one thrown while the module is constructed) is answered with the
// last-resort status-500 page written straight to the output.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cgi/web_request.h"
#include "cgi/web_response.h"
#include "platform/exception.h"

namespace Mirel::MirelWeb {

using TActionHandler = std::function<void(TWebRequest& request, TWebResponse& response, bool& handled)>;

struct TWebActionItem {
  std::string name;       // "DefaultAction", "RequestList" ...
  std::string path_info;  // "/", "/list" ...
  bool is_default = false;
  TActionHandler handler;
};

class TWebModule {
 public:
  virtual ~TWebModule() = default;

  // Attaches the request and the response and dispatches. A handler that
  // clears `handled` lets the next matching action, then the default
  // action, try. An Exception from a handler gives the internal-error page;
  // anything else thrown passes to the caller.
  void HandleRequest(TWebRequest& request, TWebResponse& response);

  TWebRequest* Request = nullptr;
  TWebResponse* Response = nullptr;
  // The installation's public address of the program; when not empty, it
  // becomes the request's BaseUrl before dispatch.
  std::string BaseUrl;

 protected:
  std::vector<TWebActionItem> Actions;
};

// The dispatcher's internal-error page for `error` (body and status 500,
// sent unless the response was already sent). The message and the request's
// path info are HTML-escaped in the page.
void send_internal_error_page(TWebResponse& response, const TWebRequest& request,
                              const Exception& error);

// The last-resort page: header block and body written straight to `output`,
// in the default code page, whatever the request's protocol. The class name
// and the message are HTML-escaped in the body; in the status line the
// message only loses its CR and LF.
void write_last_resort_page(const TCgiOutput& output, const Exception& error);

using TWebModuleFactory = std::function<std::unique_ptr<TWebModule>()>;

// Serves one CGI request; returns the process exit code (always 0). An
// Exception that escapes (from reading the request, from `make_module`, from
// dispatch) is answered with the last-resort page; any other thrown object
// with the last-resort page of an Exception saying
// "サーバー管理者に問い合わせてください". A failing output ends the request quietly.
int RunCgiApplication(const TCgiInput& input, const TCgiOutput& output,
                      const TWebModuleFactory& make_module);

}  // namespace Mirel::MirelWeb
