// The CGI request: its variables, its body and its decoded fields.
//
// The request is read completely when it is constructed. Variables are kept
// as the 8-bit text the web server passed (default code page); the fields are
// decoded into UTF-16 the first time they are asked for, and a bad percent
// escape throws Exception at that moment (inside an action, never here).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/strings.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// The process environment and standard input, behind a seam so that tests
// build requests without touching the real process.
struct TCgiInput {
  // Returns the value of an environment variable, or nullptr when unset.
  std::function<const char*(const char*)> getenv;
  // Reads at most `n` bytes into `buf`; returns the count, 0 at end of input.
  std::function<size_t(char* buf, size_t n)> read;
  // A body whose CONTENT_LENGTH is larger is not read at all.
  int64_t max_content = 1048576;
};

// The real process: ::getenv and file descriptor 0.
TCgiInput process_cgi_input();

// Whether a content type names UTF-8 as its charset: upper-cased, it holds
// "CHARSET" and somewhere after it "UTF-8". Request bodies and response
// bodies are converted with UTF-8 then, else with the default code page.
bool content_type_names_utf8(std::string_view content_type);

class TWebRequest {
 public:
  explicit TWebRequest(const TCgiInput& input);

  // Variables, 8-bit text as passed by the web server: only the CGI
  // meta-variables that the server sets itself, never a client's header
  // (which arrives as HTTP_...). Host alone comes from a header: HTTP_HOST,
  // else HOST.
  const std::string& Method() const { return method_; }
  const std::string& ProtocolVersion() const { return protocol_; }
  const std::string& Query() const { return query_; }
  const std::string& PathInfo() const { return path_info_; }
  const std::string& Host() const { return host_; }
  const std::string& ScriptName() const { return script_name_; }
  const std::string& RemoteAddr() const { return remote_addr_; }
  // Whether the request came over TLS: HTTPS is "on" or "1" (any letter
  // case), or REQUEST_SCHEME is "https".
  bool Secure() const { return secure_; }
  // The program's public address (scheme, host, port and script path) as
  // the installation fixes it; empty when it does not, and the links are
  // then made from the scheme, Host and ScriptName.
  const std::string& BaseUrl() const { return base_url_; }
  void SetBaseUrl(std::string url) { base_url_ = std::move(url); }
  const std::string& ContentType() const { return content_type_; }
  // CONTENT_LENGTH read as an integer; -1 when it is not a number.
  int ContentLength() const { return content_length_; }
  // The body bytes that actually arrived (at most ContentLength of them),
  // read through a fixed-size buffer so that memory follows what arrived,
  // not what CONTENT_LENGTH promised. Empty when the body was too large.
  const std::string& Content() const { return content_; }
  // CONTENT_LENGTH was larger than TCgiInput::max_content: nothing of the
  // body was read.
  bool ContentTooLarge() const { return content_too_large_; }

  // Decoded fields, name=value each; throws Exception on a bad escape.
  const TStrings& QueryFields();
  const TStrings& ContentFields();

 private:
  std::string method_, protocol_, query_, path_info_, host_, script_name_,
      remote_addr_, content_type_, content_, base_url_;
  int content_length_ = -1;
  bool secure_ = false;
  bool content_too_large_ = false;
  std::optional<TStrings> query_fields_, content_fields_;
};

}  // namespace Mirel::MirelWeb
