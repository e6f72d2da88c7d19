// The CGI response: status, headers and body, written once to standard
// output as a CGI header block followed by the body.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "cgi/web_request.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Where the response goes; the real program writes to file descriptor 1.
using TCgiOutput = std::function<void(std::string_view bytes)>;
TCgiOutput process_cgi_output();

class TWebResponse {
 public:
  TWebResponse(const TWebRequest& request, TCgiOutput output);

  int StatusCode() const { return status_code_; }
  // Sets the code and the reason phrase from the table (200, 302, 500).
  void SetStatusCode(int code);
  // The reason phrase, 8-bit text of the default code page.
  const std::string& ReasonString() const { return reason_; }
  void SetReasonString(std::string reason);

  const std::string& Location() const { return location_; }
  void SetLocation(std::string url) { location_ = std::move(url); }
  const std::string& ContentType() const { return content_type_; }
  void SetContentType(std::string type) { content_type_ = std::move(type); }

  // The body: set from UTF-16 (converted to the default code page, or UTF-8
  // when the content type names that charset) or as bytes.
  void SetContent(const UnicodeString& text);
  void SetContentBytes(std::string bytes) { content_ = std::move(bytes); }
  const std::string& Content() const { return content_; }

  void SendResponse();
  void SendRedirect(const std::string& url);
  bool Sent() const { return sent_; }

 private:
  const TWebRequest& request_;
  TCgiOutput output_;
  int status_code_ = 200;
  std::string reason_ = "OK";
  std::string location_;
  std::string content_type_ = "text/html";
  std::string content_;
  bool sent_ = false;
};

}  // namespace Mirel::MirelWeb
