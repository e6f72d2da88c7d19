// Builds TWebRequest objects from a map of CGI variables and a body string,
// without touching the process environment or standard input.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "cgi/web_request.h"

namespace Mirel::MirelWeb::testing {

inline TWebRequest make_request(const std::map<std::string, std::string>& env,
                                const std::string& body = {}) {
  size_t offset = 0;
  TCgiInput input;
  input.getenv = [&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  input.read = [&body, &offset](char* buf, size_t n) -> size_t {
    const size_t count = std::min(n, body.size() - offset);
    std::memcpy(buf, body.data() + offset, count);
    offset += count;
    return count;
  };
  return TWebRequest(input);
}

inline TWebRequest make_get(const std::string& query) {
  return make_request({{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", query}});
}

inline TWebRequest make_post(const std::string& body, const std::string& query = {}) {
  return make_request({{"REQUEST_METHOD", "POST"},
                       {"QUERY_STRING", query},
                       {"CONTENT_TYPE", "application/x-www-form-urlencoded"},
                       {"CONTENT_LENGTH", std::to_string(body.size())}},
                      body);
}

}  // namespace Mirel::MirelWeb::testing
