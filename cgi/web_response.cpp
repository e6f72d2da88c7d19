// The response: reason phrases, body conversion, the CGI header block and
// the redirect page.
#include "cgi/web_response.h"

#include <unistd.h>

#include <cerrno>

#include "platform/html_escape.h"

namespace Mirel::MirelWeb {

std::string header_value(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value)
    if (c != '\r' && c != '\n') out.push_back(c);
  return out;
}

const char* reason_phrase(int code) {
  switch (code) {
    case 200: return "OK";
    case 302: return "Moved Temporarily";
    case 500: return "Internal Server Error";
    default: return "";
  }
}

TCgiOutput process_cgi_output() {
  return [](std::string_view bytes) {
    const char* p = bytes.data();
    size_t left = bytes.size();
    while (left > 0) {
      const ssize_t w = ::write(1, p, left);
      if (w < 0) {
        if (errno == EINTR) continue;
        return;  // the server has gone; nothing is left to tell it
      }
      p += w;
      left -= static_cast<size_t>(w);
    }
  };
}

TWebResponse::TWebResponse(const TWebRequest& request, TCgiOutput output)
    : request_(request), output_(std::move(output)) {}

void TWebResponse::SetStatusCode(int code) {
  status_code_ = code;
  reason_ = reason_phrase(code);
}

void TWebResponse::SetReasonString(std::string reason) { reason_ = std::move(reason); }

void TWebResponse::SetContent(const UnicodeString& text) {
  content_ = content_type_names_utf8(content_type_) ? to_utf8(text) : to_ansi(text);
}

std::string TWebResponse::HeaderBlock() const {
  const std::string reason = header_value(reason_);
  std::string block = "Status: ";
  block += reason.empty() ? std::string("200 OK") : std::to_string(status_code_) + " " + reason;
  block += "\r\n";
  if (!location_.empty()) block += "Location: " + header_value(location_) + "\r\n";
  block += "Content-Type: " + header_value(content_type_) + "\r\n";
  if (!content_.empty()) block += "Content-Length: " + std::to_string(content_.size()) + "\r\n";
  block += "Content:\r\n\r\n";
  return block;
}

void TWebResponse::SendResponse() {
  if (sent_) return;
  // Marked first: should the output fail, nothing tries to answer twice.
  sent_ = true;
  if (request_.ProtocolVersion().empty()) {
    output_(content_);
  } else {
    output_(HeaderBlock() + content_);
  }
}

void TWebResponse::SendRedirect(const std::string& url) {
  const UnicodeString target = html_escape(from_ansi(url));
  SetLocation(url);
  SetStatusCode(302);
  SetContentType("text/html");
  SetContent(u"<html><head><title>Document Moved 302</title></head>\r\n"
             u"<body><h1>Object Moved</h1><hr><h1>オブジェクトは移動しました。</h1><hr>\r\n"
             u"This Object may be found <a href=\"" + target + u"\">here.</a><br>"
             u"オブジェクトは<a href=\"" + target + u"\">ここ</a>に移動しました。<br>\r\n"
             u"<br></body></html>\r\n");
  SendResponse();
}

}  // namespace Mirel::MirelWeb
