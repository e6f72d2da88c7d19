// The sample catalogue site as a newcomer gets it, installed into a test
// sandbox: the program with mirelweb.ini and aliases.ini beside it, the
// sample templates (site/templates) in templates/, the stylesheet
// (site/www) in www/, and the sample library written for today's date by
// the project's dBASE writer into data/. Requests run with a private
// temporary directory (tmp/), so the database mutex is the test's own.
#pragma once

#include <string>

#include "cgi_runner.h"
#include "dbase/sample_catalogue.h"
#include "http_client.h"

namespace mwtest {

// Today's local date, "yyyymmdd": the day the sample library is dated from
// and the day the program's new-arrivals window ends on.
std::string local_date();

class SampleSite {
 public:
  SampleSite();

  CgiSandbox box;

  const std::string& today() const { return today_; }
  std::string tmp_dir() const { return box.dir() + "tmp"; }
  std::string lock_path() const { return tmp_dir() + "/MirelWebMutex"; }

  // The sample library as written (for looking up book ids by title).
  const Mirel::Dbase::TLibraryBuilder& library() const { return library_; }
  // The id of the first book with exactly this title (UTF-8); "" if none.
  std::string bookid_of(const std::string& title) const;

  // Reads or replaces one template of templates/ (code page 932 bytes).
  std::string template_bytes(const std::string& name) const;
  void write_template_bytes(const std::string& name, const std::string& bytes) const;

  // Lines appended to the configuration of a lighttpd serving this site:
  // the stylesheet's content type, the program's temporary directory and
  // any further variables ("NAME" => "value" pairs, already formatted).
  std::string lighttpd_conf(const std::string& more_environment = "") const;

  // A GET through the CGI interface directly (no web server).
  CgiResult get(const std::string& path_info, const std::string& query) const;

  // Lines of the program's error log (Error.txt in its directory).
  std::string error_log() const;

 private:
  std::string today_;
  Mirel::Dbase::TLibraryBuilder library_;
};

// Holds the database mutex of a site (an exclusive flock on its lock
// file, as every copy of the program takes it) while the object lives.
class HeldMutex {
 public:
  explicit HeldMutex(const std::string& lock_path);
  ~HeldMutex();
  HeldMutex(const HeldMutex&) = delete;
  HeldMutex& operator=(const HeldMutex&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// Code page 932 bytes as UTF-8 and back.
std::string utf8_of(const std::string& cp932_bytes);
std::string cp932_of(const std::string& utf8);

// The query string of a catalogue search by title, percent-encoded in code
// page 932 as a browser would send the sample search form.
std::string title_query(const std::string& utf8_title, unsigned page = 0);

// The directory holding node_modules with html-validate and playwright-core
// (made by tests/browser/npm-setup in the build directory).
std::string node_dir();

}  // namespace mwtest
