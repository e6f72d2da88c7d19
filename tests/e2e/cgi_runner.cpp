#include "cgi_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/unprivileged.h"

namespace fs = std::filesystem;

namespace mwtest {

std::string binary_dir() {
  const char* d = std::getenv("MW_BINARY_DIR");
  return d ? d : MW_BINARY_DIR;
}
std::string source_dir() {
  const char* d = std::getenv("MW_SOURCE_DIR");
  return d ? d : MW_SOURCE_DIR;
}

std::string CgiResult::headers() const {
  size_t end = output.find("\r\n\r\n");
  return end == std::string::npos ? "" : output.substr(0, end + 2);
}

std::string CgiResult::body() const {
  size_t end = output.find("\r\n\r\n");
  return end == std::string::npos ? output : output.substr(end + 4);
}

std::string CgiResult::status() const {
  const std::string h = headers();
  size_t p = h.find("Status: ");
  if (p == std::string::npos) return "";
  size_t e = h.find("\r\n", p);
  return h.substr(p + 8, e - p - 8);
}

CgiSandbox::CgiSandbox() {
  std::string tmpl = (fs::temp_directory_path() / "mwtest-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  dir_ = tmpl + "/";
  const fs::path exe = fs::path(binary_dir()) / "mirelweb";
  std::error_code ec;
  fs::create_hard_link(exe, program(), ec);
  if (ec) fs::copy_file(exe, program(), fs::copy_options::overwrite_existing);
}

CgiSandbox::~CgiSandbox() {
  std::error_code ec;
  // A test may have made the directory read-only; give it back before removal.
  fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(dir_, ec);
}

void CgiSandbox::write_file(const std::string& relative, const std::string& bytes) const {
  const fs::path p = fs::path(dir_) / relative;
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string CgiSandbox::read_file(const std::string& relative) const {
  std::ifstream in(fs::path(dir_) / relative, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool CgiSandbox::exists(const std::string& relative) const {
  return fs::exists(fs::path(dir_) / relative);
}

bool CgiSandbox::drop_root() {
  if (!running_as_root()) return false;
  give_tree_to_nobody(dir_, program());
  as_nobody_ = true;
  return true;
}

Env CgiSandbox::get_env(const std::string& path_info, const std::string& query) {
  return {{"REQUEST_METHOD", "GET"},     {"QUERY_STRING", query},
          {"PATH_INFO", path_info},      {"SERVER_PROTOCOL", "HTTP/1.1"},
          {"HTTP_HOST", "lib.example"},  {"SCRIPT_NAME", "/cgi-bin/mirelweb"},
          {"REMOTE_ADDR", "192.0.2.7"}};
}

CgiResult CgiSandbox::run(const Env& env, const std::string& stdin_bytes,
                          const std::string& cwd) const {
  ::signal(SIGPIPE, SIG_IGN);  // the program may exit without reading its body
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (::pipe2(in_pipe, O_CLOEXEC) || ::pipe2(out_pipe, O_CLOEXEC) || ::pipe2(err_pipe, O_CLOEXEC))
    throw std::runtime_error("pipe failed");
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : env) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  const std::string prog = program();
  const std::string workdir = cwd.empty() ? dir_ : cwd;

  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    ::dup2(out_pipe[1], 1);
    ::dup2(err_pipe[1], 2);
    if (as_nobody_ && !become_nobody()) ::_exit(125);
    if (::chdir(workdir.c_str()) != 0) ::_exit(126);
    char* argv[] = {const_cast<char*>(prog.c_str()), nullptr};
    ::execve(prog.c_str(), argv, envp.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);

  // Feed stdin and drain stdout/stderr together so that neither side blocks.
  CgiResult result;
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (stdin_bytes.empty()) {
    ::close(in_fd);
    in_fd = -1;
  } else {
    ::fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  bool out_open = true, err_open = true;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(time_limit_seconds_);
  while (out_open || err_open) {
    pollfd fds[3];
    int n = 0;
    if (out_open) fds[n++] = {out_pipe[0], POLLIN, 0};
    if (err_open) fds[n++] = {err_pipe[0], POLLIN, 0};
    if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      // The program hangs: kill it; its pipes then close and the loop ends.
      ::kill(pid, SIGKILL);
      result.timed_out = true;
      break;
    }
    const int ready = ::poll(fds, n, static_cast<int>(std::min<long long>(left.count(), 60000)));
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < n; ++i) {
      if (!fds[i].revents) continue;
      if (fds[i].fd == in_fd) {
        ssize_t w = ::write(in_fd, stdin_bytes.data() + written, stdin_bytes.size() - written);
        if (w > 0) written += static_cast<size_t>(w);
        if (w < 0 && errno != EAGAIN) written = stdin_bytes.size();
        if (written >= stdin_bytes.size()) {
          ::close(in_fd);
          in_fd = -1;
        }
        continue;
      }
      char buf[65536];
      ssize_t r = ::read(fds[i].fd, buf, sizeof buf);
      std::string& sink = fds[i].fd == out_pipe[0] ? result.output : result.errors;
      if (r > 0) {
        sink.append(buf, static_cast<size_t>(r));
      } else {
        if (fds[i].fd == out_pipe[0]) out_open = false; else err_open = false;
      }
    }
  }
  if (in_fd >= 0) ::close(in_fd);
  ::close(out_pipe[0]);
  ::close(err_pipe[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

}  // namespace mwtest
