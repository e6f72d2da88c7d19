#include "sample_site.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/unicode_string.h"

namespace fs = std::filesystem;

namespace mwtest {

namespace {

std::string read_all(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

std::string local_date() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[16];
  std::strftime(buf, sizeof buf, "%Y%m%d", &tm);
  return buf;
}

std::string utf8_of(const std::string& bytes) { return Mirel::to_utf8(Mirel::from_ansi(bytes)); }
std::string cp932_of(const std::string& utf8) { return Mirel::to_ansi(Mirel::from_utf8(utf8)); }

std::string title_query(const std::string& utf8_title, unsigned page) {
  static const char hex[] = "0123456789ABCDEF";
  std::string encoded;
  for (unsigned char c : cp932_of(utf8_title)) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) {
      encoded += static_cast<char>(c);
    } else {
      encoded += '%';
      encoded += hex[c >> 4];
      encoded += hex[c & 15];
    }
  }
  return "SYOMEI=" + encoded + "&PAGENUM=" + std::to_string(page);
}

std::string node_dir() { return binary_dir() + "/node"; }

SampleSite::SampleSite() : today_(local_date()) {
  const std::string root = box.dir();
  fs::create_directories(root + "data");
  fs::create_directories(tmp_dir());
  Mirel::Dbase::write_sample_catalogue(root + "data", today_);
  library_ = Mirel::Dbase::sample_library(today_);
  for (const auto& entry : fs::directory_iterator(fs::path(source_dir()) / "site" / "templates"))
    box.write_file("templates/" + entry.path().filename().string(), read_all(entry.path()));
  for (const auto& entry : fs::directory_iterator(fs::path(source_dir()) / "site" / "www"))
    box.write_file("www/" + entry.path().filename().string(), read_all(entry.path()));
  box.write_file("mirelweb.ini", "[Path]\r\nHtml=" + root + "templates/\r\nDb=MirelWin\r\n");
  box.write_file("aliases.ini", "[Aliases]\r\nMirelWin=" + root + "data\r\n");
}

std::string SampleSite::bookid_of(const std::string& title) const {
  for (const auto& b : library_.books())
    if (b.syomei == title) return b.bookid;
  return "";
}

std::string SampleSite::template_bytes(const std::string& name) const {
  return box.read_file("templates/" + name);
}

void SampleSite::write_template_bytes(const std::string& name, const std::string& bytes) const {
  box.write_file("templates/" + name, bytes);
}

std::string SampleSite::lighttpd_conf(const std::string& more_environment) const {
  std::string env = "\"TMPDIR\" => \"" + tmp_dir() + "\"";
  if (!more_environment.empty()) env += ", " + more_environment;
  // Without a type the browser refuses the stylesheet.
  return "mimetype.assign = (\".css\" => \"text/css\", \".svg\" => \"image/svg+xml\", "
         "\".xml\" => \"application/opensearchdescription+xml\")\n"
         "server.modules += (\"mod_setenv\")\nsetenv.add-environment = (" + env + ")\n";
}

CgiResult SampleSite::get(const std::string& path_info, const std::string& query) const {
  Env env = CgiSandbox::get_env(path_info, query);
  env["TMPDIR"] = tmp_dir();
  return box.run(env);
}

std::string SampleSite::error_log() const {
  return box.exists("Error.txt") ? box.read_file("Error.txt") : "";
}

HeldMutex::HeldMutex(const std::string& lock_path) {
  fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ >= 0) held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

HeldMutex::~HeldMutex() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace mwtest
