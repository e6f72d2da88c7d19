#include "deployment.h"

#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace mwtest {
namespace {

std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + p.string());
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void replace_all(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
}

// Gives a path of the layout to www-data, as the README's commands do.
void give_to_www_data(const std::string& path) {
  const passwd* pw = ::getpwnam("www-data");
  if (!pw) throw std::runtime_error("no www-data account");
  if (::chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0)
    throw std::runtime_error("cannot chown " + path);
}

}  // namespace

std::string recipe_text(const std::string& name) {
  return read_all(fs::path(source_dir()) / "docs" / "deploy" / name);
}

bool DeployedSite::as_root() { return ::geteuid() == 0; }

DeployedSite::DeployedSite() {
  const CgiSandbox& box = site.box;
  const std::string root = box.dir();
  fs::copy_file(fs::path(binary_dir()) / "mirelweb-db", root + "mirelweb-db");
  box.write_file("aliases.ini", "[Aliases]\r\nMirelWin=" + root + "data\r\n[Alias:MirelWin]\r\nCacheDir=" +
                                    cache_dir() + "\r\n");
  box.write_file("Error.txt", "");
  fs::create_directories(cache_dir());
  fs::permissions(cache_dir(), fs::perms(0750));
  fs::permissions(site.tmp_dir(), fs::perms(0700));
  fs::permissions(root + "Error.txt", fs::perms(0640));
  if (as_root()) {
    fs::permissions(root, fs::perms(0755));
    for (const auto& p : {cache_dir(), site.tmp_dir(), root + "Error.txt"}) give_to_www_data(p);
  }
}

std::string DeployedSite::recipe(const std::string& name) const {
  std::string text = recipe_text(name);
  std::string root = site.box.dir();
  root.pop_back();
  replace_all(text, "/srv/mirelweb/cgi-bin", root);
  replace_all(text, "/srv/mirelweb/www", root + "/www");
  replace_all(text, "/var/lib/mirelweb/tmp", site.tmp_dir());
  replace_all(text, "/var/cache/mirelweb", cache_dir());
  return text;
}

std::vector<std::string> DeployedSite::lock_dir_entries() const {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(site.tmp_dir())) names.push_back(e.path().filename());
  return names;
}

namespace {

// The main configuration of Debian's lighttpd package (lighttpd.conf) with
// its paths moved into the test's directory, then the recipe.
class LighttpdServer : public WebServer {
 public:
  explicit LighttpdServer(const DeployedSite& d) : dir_(d.site.box.dir()) {
    const std::string log = dir_ + "lighttpd-error.log";
    std::ofstream(log).flush();
    fs::create_directories(dir_ + "htdocs");
    if (DeployedSite::as_root()) give_to_www_data(log);
    const std::string recipe = d.recipe("lighttpd-mirelweb.conf");
    const std::string tmp = d.site.tmp_dir();
    server_ = std::make_unique<Lighttpd>(dir_ + "lighttpd.conf", [&](int port) {
      std::string conf =
          "server.modules = (\"mod_indexfile\", \"mod_access\", \"mod_alias\", \"mod_redirect\")\n"
          "server.document-root = \"" + dir_ + "htdocs\"\n"
          "server.errorlog = \"" + log + "\"\n"
          "server.bind = \"127.0.0.1\"\n"
          "server.port = " + std::to_string(port) + "\n"
          "server.systemd-socket-activation = \"enable\"\n";
      if (DeployedSite::as_root())
        conf += "server.username = \"www-data\"\nserver.groupname = \"www-data\"\n";
      conf +=
          "server.http-parseopts = (\n"
          "  \"header-strict\" => \"enable\", \"host-strict\" => \"enable\",\n"
          "  \"host-normalize\" => \"enable\", \"url-normalize-unreserved\" => \"enable\",\n"
          "  \"url-normalize-required\" => \"enable\", \"url-ctrls-reject\" => \"enable\",\n"
          "  \"url-path-2f-decode\" => \"enable\", \"url-path-dotseg-remove\" => \"enable\",\n"
          ")\n"
          "index-file.names = (\"index.php\", \"index.html\")\n"
          "url.access-deny = (\"~\", \".inc\")\n"
          "static-file.exclude-extensions = (\".php\", \".pl\", \".fcgi\")\n"
          "include_shell \"/usr/share/lighttpd/create-mime.conf.pl\"\n"
          "# conf-enabled/50-mirelweb.conf\n" + recipe + "\n"
          "$REQUEST_HEADER[\"X-Test-Https\"] == \"on\" {\n"
          "  setenv.add-environment = (\"HTTPS\" => \"on\", \"TMPDIR\" => \"" + tmp + "\")\n"
          "}\n"
          "server.modules += (\"mod_dirlisting\", \"mod_staticfile\")\n";
      return conf;
    });
  }
  int port() const override { return server_->port(); }
  std::string error_log() const override { return read_all(dir_ + "lighttpd-error.log"); }

 private:
  std::string dir_;
  std::unique_ptr<Lighttpd> server_;
};

// Debian's apache2 (the apache2-bin package's server and modules) with a
// configuration of the test's own in place of /etc/apache2: the modules
// Debian enables by default that the recipe needs, then mod_cgid, the
// recipe as conf-enabled/mirelweb.conf and Debian's serve-cgi-bin.conf.
class ApacheServer : public WebServer {
 public:
  explicit ApacheServer(const DeployedSite& d) : dir_(d.site.box.dir() + "apache/") {
    for (const char* sub : {"run", "htdocs", "cgi-bin"}) fs::create_directories(dir_ + sub);
    const std::string recipe = d.recipe("apache-mirelweb.conf");
    // The port is the kernel's choice, released for the server to take; if
    // another process takes it first the server exits and another is chosen.
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = free_port();
      write_conf(recipe);
      if (start()) return;
    }
    throw std::runtime_error("apache2 did not start: " + error_log());
  }
  ~ApacheServer() override { stop(); }
  int port() const override { return port_; }
  std::string error_log() const override {
    return fs::exists(dir_ + "error.log") ? read_all(dir_ + "error.log") : "";
  }

 private:
  static int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      throw std::runtime_error("cannot bind a loopback port");
    ::close(fd);
    return ntohs(addr.sin_port);
  }

  void write_conf(const std::string& recipe) const {
    const std::string modules = "/usr/lib/apache2/modules/";
    std::string conf =
        "ServerRoot \"" + dir_ + "\"\n"
        "ServerName 127.0.0.1\n"
        "Listen 127.0.0.1:" + std::to_string(port_) + "\n"
        "DefaultRuntimeDir " + dir_ + "run\n"
        "PidFile " + dir_ + "run/apache2.pid\n"
        "ErrorLog " + dir_ + "error.log\n"
        "LogLevel warn\n";
    if (DeployedSite::as_root()) conf += "User www-data\nGroup www-data\n";
    for (const char* m : {"mpm_event", "authz_core", "alias", "env", "mime", "setenvif", "cgid"})
      conf += std::string("LoadModule ") + m + "_module " + modules + "mod_" + m + ".so\n";
    conf +=
        "TypesConfig /etc/mime.types\n"
        "ScriptSock " + dir_ + "run/cgisock\n"
        "<Directory />\n    AllowOverride None\n    Require all denied\n</Directory>\n"
        "DocumentRoot " + dir_ + "htdocs\n"
        "<Directory " + dir_ + "htdocs>\n    Require all granted\n</Directory>\n"
        "SetEnvIf X-Test-Https ^on$ HTTPS=on\n"
        "# conf-enabled/mirelweb.conf\n" + recipe + "\n"
        "# conf-enabled/serve-cgi-bin.conf\n"
        "ScriptAlias /cgi-bin/ " + dir_ + "cgi-bin/\n"
        "<Directory " + dir_ + "cgi-bin>\n    Options +ExecCGI -MultiViews +SymLinksIfOwnerMatch\n"
        "    Require all granted\n</Directory>\n";
    std::ofstream(dir_ + "apache2.conf", std::ios::binary) << conf;
  }

  // Starts the server and waits until it accepts connections; false when it
  // exited instead (its port was taken).
  bool start() {
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const std::string conf = dir_ + "apache2.conf";
      ::execl("/usr/sbin/apache2", "apache2", "-d", dir_.c_str(), "-f", conf.c_str(), "-DFOREGROUND",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (std::chrono::steady_clock::now() < deadline) {
      int status;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
          throw std::runtime_error("cannot run /usr/sbin/apache2 (package apache2-bin)");
        return false;
      }
      if (accepts()) return true;
      const timespec pause{0, 20 * 1000 * 1000};
      ::nanosleep(&pause, nullptr);
    }
    stop();
    throw std::runtime_error("apache2 did not accept connections: " + error_log());
  }

  bool accepts() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
  }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace

std::unique_ptr<WebServer> serve_with_lighttpd(const DeployedSite& d) {
  return std::make_unique<LighttpdServer>(d);
}

std::unique_ptr<WebServer> serve_with_apache(const DeployedSite& d) {
  return std::make_unique<ApacheServer>(d);
}

}  // namespace mwtest
