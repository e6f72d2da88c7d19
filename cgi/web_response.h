// The CGI response: status, headers and body, written once to standard
// output as a CGI header block followed by the body.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "cgi/web_request.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// Where the response goes; the real program writes to file descriptor 1
// (a write that fails is dropped: the server has gone away).
using TCgiOutput = std::function<void(std::string_view bytes)>;
TCgiOutput process_cgi_output();

// The reason phrase of a status code: 200 "OK", 302 "Moved Temporarily",
// 500 "Internal Server Error"; the empty text for any other code.
const char* reason_phrase(int code);

// A header value as written: CR and LF are dropped, so that no value (a
// reason phrase made from a message, a location made from a request's host)
// can end its header line early or add a header of its own.
std::string header_value(std::string_view value);

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

  // The CGI header block: "Status: " code and reason phrase ("200 OK" when
  // the phrase is empty), "Location: " when a location is set,
  // "Content-Type: ", "Content-Length: " when the body is not empty, the line
  // "Content:" and an empty line; CR LF line ends.
  std::string HeaderBlock() const;
  // Writes the header block and the body (only the body when the request
  // has no protocol version) and marks the response sent; once sent, later
  // calls write nothing.
  void SendResponse();
  // Status 302 to `url` (8-bit text of the default code page) with the
  // redirect page as body, sent at once. The URL is HTML-escaped in the page.
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
