// Fuzz target for the request side of the CGI layer: a request built from a
// fake CGI environment whose query string and body are the fuzz bytes, its
// query and content fields decoded, and the URL decoder checked against an
// encoding of the same bytes that it must undo exactly.
//
// Input: byte 0 chooses the shape of the request (content type, how
// CONTENT_LENGTH relates to the body, how the body arrives, which variable
// names are set); the rest up to the first NUL is QUERY_STRING, the bytes
// after it the body (without a NUL, the same bytes serve as both).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "cgi/field_decoder.h"
#include "cgi/web_request.h"
#include "fuzz/fuzz_support.h"
#include "platform/exception.h"
#include "platform/strings.h"

namespace {

using Mirel::Exception;
using namespace Mirel::MirelWeb;

constexpr const char* kContentTypes[] = {
    "",
    "application/x-www-form-urlencoded",
    "application/x-www-form-urlencoded; charset=UTF-8",
    "text/plain; Charset=\"utf-8\"",
};
constexpr size_t kPieces[] = {1, 3, 4096, size_t(1) << 30};

// Every byte in a form url_decode_bytes must turn back into that byte:
// letters and digits as they are, a space as "+", "%" as "%%", the rest as
// "%" and two hexadecimal digits in alternating case.
std::string percent_encode(std::string_view bytes) {
  static constexpr char kUpper[] = "0123456789ABCDEF";
  static constexpr char kLower[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    const char* digits = i % 2 ? kLower : kUpper;
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) {
      out.push_back(static_cast<char>(b));
    } else if (b == ' ') {
      out.push_back('+');
    } else if (b == '%') {
      out += "%%";
    } else {
      out.push_back('%');
      out.push_back(digits[b >> 4]);
      out.push_back(digits[b & 15]);
    }
  }
  return out;
}

void look_up_fields(const Mirel::TStrings& fields) {
  for (const char16_t* name : {u"SYOMEI", u"pagenum", u"", u"="})
    (void)Mirel::value_of(fields, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t flags = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t nul = rest.find('\0');
  const std::string query(rest.substr(0, nul));
  const std::string body(nul == std::string_view::npos ? rest : rest.substr(nul + 1));

  // The decoder on its own: bad escapes throw Exception, nothing else.
  try {
    const std::string decoded = url_decode_bytes(rest);
    MWFUZZ_CHECK(decoded.size() <= rest.size());
  } catch (const Exception&) {
  }
  MWFUZZ_CHECK(url_decode_bytes(percent_encode(rest)) == rest);
  const Mirel::TStrings split = split_request_fields(Mirel::from_ansi(query));
  size_t split_units = 0;
  for (const auto& field : split) split_units += field.size();
  MWFUZZ_CHECK(split_units <= Mirel::from_ansi(query).size());

  // The same bytes as a whole request.
  std::map<std::string, std::string> env;
  const bool http_names = flags & 0x40;
  env["REQUEST_METHOD"] = flags & 0x80 ? "POST" : "get";
  env["SERVER_PROTOCOL"] = "HTTP/1.1";
  env["QUERY_STRING"] = query;
  env[http_names ? "HTTP_CONTENT_TYPE" : "CONTENT_TYPE"] = kContentTypes[flags & 3];
  int expected_length = -1;
  switch ((flags >> 2) & 3) {
    case 0: expected_length = static_cast<int>(body.size()); break;
    case 1: expected_length = static_cast<int>(body.size()) + 100; break;
    case 2: expected_length = static_cast<int>(body.size() / 2); break;
    case 3: expected_length = http_names ? -7 : -1; break;
  }
  const std::string length_text =
      (flags >> 2 & 3) == 3 && !http_names ? "12x" : std::to_string(expected_length);
  env[http_names ? "HTTP_CONTENT_LENGTH" : "CONTENT_LENGTH"] = length_text;

  size_t delivered = 0;
  const size_t piece = kPieces[(flags >> 4) & 3];
  TCgiInput input;
  input.getenv = [&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  input.read = [&](char* buf, size_t n) -> size_t {
    size_t count = std::min({n, piece, body.size() - delivered});
    body.copy(buf, count, delivered);
    delivered += count;
    return count;
  };

  TWebRequest request(input);
  MWFUZZ_CHECK(request.Query() == query);
  // Under the HTTP_ names the type and length are a client's headers, which
  // never stand in for the server's variables: no length, no body.
  if (http_names) expected_length = -1;
  MWFUZZ_CHECK(request.ContentLength() == expected_length);
  const size_t expected_body =
      expected_length > 0 ? std::min(body.size(), static_cast<size_t>(expected_length)) : 0;
  MWFUZZ_CHECK(request.Content() == std::string_view(body).substr(0, expected_body));
  MWFUZZ_CHECK(request.ContentType() == (http_names ? "" : kContentTypes[flags & 3]));

  try {
    look_up_fields(request.QueryFields());
  } catch (const Exception&) {
  }
  try {
    look_up_fields(request.ContentFields());
  } catch (const Exception&) {
  }
  return 0;
}
