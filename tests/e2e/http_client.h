// A minimal HTTP/1.0 client and a lighttpd instance for end-to-end tests.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

#include "cgi_runner.h"

namespace mwtest {

struct HttpResponse {
  int status = 0;
  std::string raw;   // the whole response
  std::string body;
};

// GET (or POST when `body` is given) of `target` on 127.0.0.1:port;
// `extra_headers` are further header lines, each ending in CR LF.
HttpResponse http_get(int port, const std::string& target, const std::string& extra_headers = "");
HttpResponse http_post(int port, const std::string& target, const std::string& form_body);

// lighttpd serving box.program() as /cgi-bin/mirelweb on a free loopback
// port; stopped (and waited for) by the destructor. `extra_conf` is appended
// to the configuration, for example to hand the program environment
// variables (lighttpd gives a CGI program only the CGI variables):
//   server.modules += ("mod_setenv")
//   setenv.add-environment = ("TMPDIR" => "/path")
class Lighttpd {
 public:
  explicit Lighttpd(const CgiSandbox& box, const std::string& extra_conf = "");
  // lighttpd with a whole configuration of the caller's, written to
  // `conf_path`: `conf(port)` returns it for the port the server listens on.
  Lighttpd(const std::string& conf_path, const std::function<std::string(int port)>& conf);
  ~Lighttpd();
  int port() const { return port_; }

 private:
  void start(int listener, const std::string& conf_path);
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace mwtest
