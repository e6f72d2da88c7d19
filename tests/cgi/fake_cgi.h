// A CGI process for tests: environment variables from a map, a body handed
// out in pieces of a chosen size, and the output collected in a string.
#pragma once

#include <algorithm>
#include <cstddef>
#include <map>
#include <string>

#include "cgi/web_request.h"
#include "cgi/web_response.h"

namespace mwtest {

struct FakeCgi {
  std::map<std::string, std::string> env;
  std::string body;
  size_t piece = 1 << 20;  // the most one read hands out
  size_t delivered = 0;
  size_t largest_request = 0;  // the largest count a read was asked for
  std::string output;

  Mirel::MirelWeb::TCgiInput input() {
    Mirel::MirelWeb::TCgiInput in;
    in.getenv = [this](const char* name) -> const char* {
      auto it = env.find(name);
      return it == env.end() ? nullptr : it->second.c_str();
    };
    in.read = [this](char* buf, size_t n) -> size_t {
      largest_request = std::max(largest_request, n);
      const size_t count = std::min({n, piece, body.size() - delivered});
      body.copy(buf, count, delivered);
      delivered += count;
      return count;
    };
    return in;
  }

  Mirel::MirelWeb::TCgiOutput sink() {
    return [this](std::string_view bytes) { output.append(bytes); };
  }
};

}  // namespace mwtest
