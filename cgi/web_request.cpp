// Building the request from the CGI environment and standard input, and the
// lazily decoded query and content fields.
#include "cgi/web_request.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "cgi/field_decoder.h"
#include "platform/integer.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {
namespace {

// The body is read through a fixed buffer of this size and grows only by what
// has arrived, so a CONTENT_LENGTH that promises more than is sent costs no
// memory.
constexpr size_t kReadChunk = 16 * 1024;

// The variable `name`, empty when it is missing.
std::string variable(const TCgiInput& input, const std::string& name) {
  const char* value = input.getenv ? input.getenv(name.c_str()) : nullptr;
  return value ? std::string(value) : std::string();
}

// The host: HTTP_HOST, or HOST when that is missing or empty. Every other
// variable is read under its own name only: a client's header reaches the
// program as HTTP_<name>, so a fallback to it would let a header such as
// "Query-String:" or "Content-Length:" stand in for what the server saw.
std::string host_variable(const TCgiInput& input) {
  std::string value = variable(input, "HTTP_HOST");
  return value.empty() ? variable(input, "HOST") : value;
}

std::string read_body(const TCgiInput& input, int length) {
  std::string body;
  if (length <= 0 || !input.read) return body;
  const size_t wanted = static_cast<size_t>(length);
  char chunk[kReadChunk];
  while (body.size() < wanted) {
    const size_t ask = std::min(wanted - body.size(), kReadChunk);
    const size_t got = input.read(chunk, ask);
    if (got == 0) break;  // a body shorter than announced is taken as it came
    body.append(chunk, std::min(got, ask));
  }
  return body;
}

// HTTPS=on (mod_ssl, lighttpd), HTTPS=1 (some servers), REQUEST_SCHEME=https
// (Apache, nginx).
bool came_over_tls(const TCgiInput& input) {
  const std::string https = variable(input, "HTTPS");
  return same_text_ascii_ci(https, "on") || https == "1" ||
         same_text_ascii_ci(variable(input, "REQUEST_SCHEME"), "https");
}

}  // namespace

bool content_type_names_utf8(std::string_view content_type) {
  std::string upper(content_type);
  for (auto& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const size_t charset = upper.find("CHARSET");
  return charset != std::string::npos && upper.find("UTF-8", charset + 7) != std::string::npos;
}

TCgiInput process_cgi_input() {
  TCgiInput input;
  input.getenv = [](const char* name) -> const char* { return std::getenv(name); };
  input.read = [](char* buf, size_t n) -> size_t {
    for (;;) {
      const ssize_t r = ::read(0, buf, n);
      if (r >= 0) return static_cast<size_t>(r);
      if (errno != EINTR) return 0;  // a broken input ends the body
    }
  };
  return input;
}

TWebRequest::TWebRequest(const TCgiInput& input)
    : method_(variable(input, "REQUEST_METHOD")),
      protocol_(variable(input, "SERVER_PROTOCOL")),
      query_(variable(input, "QUERY_STRING")),
      path_info_(variable(input, "PATH_INFO")),
      host_(host_variable(input)),
      script_name_(variable(input, "SCRIPT_NAME")),
      remote_addr_(variable(input, "REMOTE_ADDR")),
      content_type_(variable(input, "CONTENT_TYPE")),
      content_length_(text_to_int_def(std::string_view(variable(input, "CONTENT_LENGTH")), -1)) {
  secure_ = came_over_tls(input);
  // A body over the limit is left unread: it is never held in memory, and
  // the request is answered without it (see request/request_limits.h).
  content_too_large_ = content_length_ > input.max_content;
  if (!content_too_large_) content_ = read_body(input, content_length_);
}

const TStrings& TWebRequest::QueryFields() {
  if (!query_fields_) query_fields_ = decode_request_fields(from_ansi(query_));
  return *query_fields_;
}

const TStrings& TWebRequest::ContentFields() {
  if (!content_fields_) {
    const UnicodeString text =
        content_type_names_utf8(content_type_) ? from_utf8(content_) : from_ansi(content_);
    content_fields_ = decode_request_fields(text);
  }
  return *content_fields_;
}

}  // namespace Mirel::MirelWeb
