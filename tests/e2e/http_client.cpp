#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace mwtest {
namespace {

int connect_to(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// A listening loopback socket on a port the kernel chooses; the web server
// inherits it, so connections queue until it accepts them.
int listen_socket(int* port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0)
    throw std::runtime_error("cannot listen on loopback");
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

HttpResponse request(int port, const std::string& text) {
  int fd = connect_to(port);
  if (fd < 0) throw std::runtime_error("cannot connect to port " + std::to_string(port));
  size_t sent = 0;
  while (sent < text.size()) {
    ssize_t w = ::write(fd, text.data() + sent, text.size() - sent);
    if (w <= 0) break;
    sent += static_cast<size_t>(w);
  }
  HttpResponse r;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    r.raw.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  if (r.raw.rfind("HTTP/1.", 0) == 0 && r.raw.size() > 12) r.status = std::stoi(r.raw.substr(9, 3));
  size_t end = r.raw.find("\r\n\r\n");
  if (end != std::string::npos) r.body = r.raw.substr(end + 4);
  return r;
}

}  // namespace

HttpResponse http_get(int port, const std::string& target, const std::string& extra_headers) {
  return request(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                           "\r\n" + extra_headers + "\r\n");
}

HttpResponse http_post(int port, const std::string& target, const std::string& form_body) {
  return request(port, "POST " + target + " HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(port) +
                           "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                           std::to_string(form_body.size()) + "\r\n\r\n" + form_body);
}

Lighttpd::Lighttpd(const CgiSandbox& box, const std::string& extra_conf) {
  const int listener = listen_socket(&port_);
  box.write_file("www/index.txt", "static\n");
  const std::string conf =
      "server.document-root = \"" + box.dir() + "www\"\n"
      "server.bind = \"127.0.0.1\"\n"
      "server.port = " + std::to_string(port_) + "\n"
      "server.systemd-socket-activation = \"enable\"\n"
      "server.errorlog = \"" + box.dir() + "lighttpd-error.log\"\n"
      // Shift_JIS search words carry bytes that the default URL
      // normalisation rejects with status 400.
      "server.http-parseopts = (\"url-normalize\" => \"disable\")\n"
      "server.modules = (\"mod_alias\", \"mod_cgi\")\n"
      "alias.url = (\"/cgi-bin/mirelweb\" => \"" + box.program() + "\")\n"
      "$HTTP[\"url\"] =~ \"^/cgi-bin/\" { cgi.assign = (\"\" => \"\") }\n" + extra_conf + "\n";
  box.write_file("lighttpd.conf", conf);
  start(listener, box.dir() + "lighttpd.conf");
}

Lighttpd::Lighttpd(const std::string& conf_path, const std::function<std::string(int port)>& conf) {
  const int listener = listen_socket(&port_);
  std::ofstream(conf_path, std::ios::binary) << conf(port_);
  start(listener, conf_path);
}

void Lighttpd::start(int listener, const std::string& conf_path) {
  pid_ = ::fork();
  if (pid_ == 0) {
    // A test killed by its time-out must not leave the server running.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Hand the listening socket over as the first activated socket (fd 3).
    if (listener != 3) {
      ::dup2(listener, 3);
      ::close(listener);
    }
    ::setenv("LISTEN_FDS", "1", 1);
    ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
    ::execlp("lighttpd", "lighttpd", "-D", "-f", conf_path.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(listener);
  if (pid_ < 0) throw std::runtime_error("fork failed");
}

Lighttpd::~Lighttpd() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
  }
}

}  // namespace mwtest
