// Requests for the parameter and link tests, built through the CGI layer's
// test seam from a few variables and a body.
#pragma once

#include <map>
#include <string>

#include "tests/cgi/fake_cgi.h"

namespace Mirel::MirelWeb::testing {

inline TWebRequest make_request(const std::map<std::string, std::string>& env,
                                const std::string& body = {}) {
  mwtest::FakeCgi cgi;
  cgi.env = env;
  cgi.body = body;
  return TWebRequest(cgi.input());
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
