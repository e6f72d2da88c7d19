// Runs the built CGI program the way a web server does: a fresh process with
// a CGI environment, the body on standard input, standard output captured.
//
// Each CgiSandbox is a temporary program directory holding a link (or copy)
// of build/mirelweb, so that mirelweb.ini, aliases.ini and the templates a
// test writes there are the program's own; the process runs with that
// directory (or another one) as its current directory.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace mwtest {

struct CgiResult {
  std::string output;   // everything written to standard output
  std::string errors;   // standard error
  int exit_code = -1;   // -1: killed by a signal
  int signal = 0;
  bool timed_out = false;  // killed by the harness after the time limit

  // Header block and body split at the first empty line (CR LF CR LF).
  std::string headers() const;
  std::string body() const;
  std::string status() const;  // value of the Status header, "" when none
};

using Env = std::map<std::string, std::string>;

class CgiSandbox {
 public:
  CgiSandbox();
  ~CgiSandbox();
  CgiSandbox(const CgiSandbox&) = delete;
  CgiSandbox& operator=(const CgiSandbox&) = delete;

  const std::string& dir() const { return dir_; }  // with trailing '/'
  std::string program() const { return dir_ + "mirelweb"; }

  // Writes `bytes` to dir()/relative, creating folders as needed.
  void write_file(const std::string& relative, const std::string& bytes) const;
  std::string read_file(const std::string& relative) const;
  bool exists(const std::string& relative) const;

  // A run that has not ended after this many seconds is killed (SIGKILL)
  // and reported with timed_out set: a hang fails the test instead of
  // stopping the test run. Generous by default (the database mutex alone
  // may be waited for a minute).
  void set_time_limit(int seconds) { time_limit_seconds_ = seconds; }

  // For tests of what permission bits refuse, which do not bind root: when
  // the tests run as root, gives the sandbox as it is now (the program's
  // link aside) to the user nobody, and runs the program as nobody from
  // then on. Returns whether it did; as any other user nothing changes.
  bool drop_root();

  // Runs the program with exactly `env` as its environment.
  CgiResult run(const Env& env, const std::string& stdin_bytes = "",
                const std::string& cwd = "") const;

  // A GET of `path_info` with `query`: REQUEST_METHOD, QUERY_STRING,
  // PATH_INFO, SERVER_PROTOCOL, HTTP_HOST, SCRIPT_NAME, REMOTE_ADDR.
  static Env get_env(const std::string& path_info, const std::string& query = "");

 private:
  std::string dir_;
  int time_limit_seconds_ = 600;
  bool as_nobody_ = false;
};

// The build directory of the program under test.
std::string binary_dir();
std::string source_dir();

}  // namespace mwtest
