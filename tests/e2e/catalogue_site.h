// A small library installation for end-to-end tests of searching: a sandbox
// program directory with mirelweb.ini, aliases.ini, a template directory and
// a catalogue written by the project's dBASE writer, and helpers that run
// requests against it with a private temporary directory (so the database
// mutex's lock file is the test's own).
//
// The catalogue, in ascending book id order (the default order of hits):
//   1..45   "Cat story NN"   (45 hits for SYOMEI=cat)
//   46..85  "Dog story NN"   (40 hits for SYOMEI=dog)
//   86..90  "Bird ..."       records for the field, lending and author tags
#pragma once

#include <string>
#include <vector>

#include "cgi_runner.h"

namespace mwtest {

// The program's own address as the tests' requests give it.
inline const std::string kBase = "http://lib.example/cgi-bin/mirelweb";

// The query string every link carries, for a title search.
std::string list_query(unsigned long long pagenum, const std::string& syomei);

// UTF-8 text as code page 932 bytes.
std::string cp932(const std::string& utf8);

class CatalogueSite {
 public:
  CatalogueSite();

  CgiSandbox box;

  // Writes tpl/<name> as code page 932.
  void write_template(const std::string& name, const std::string& utf8) const;

  Env env(const std::string& path_info, const std::string& query = "") const;
  CgiResult get(const std::string& path_info, const std::string& query) const;
  // Runs a request; a request that does not end normally (a signal, a
  // sanitizer report, anything on standard error) fails the current test.
  CgiResult run(const Env& env, const std::string& body = "") const;

  // Lines of Error.txt (the program's current directory is the sandbox).
  std::vector<std::string> log_lines() const;

  std::string tmp_dir() const { return box.dir() + "tmp/"; }
  std::string lock_path() const { return tmp_dir() + "MirelWebMutex"; }
  // Whether another holder could take the database mutex right now.
  bool lock_is_free() const;
};

// Holds the database mutex of a site (an exclusive flock on its lock file)
// for the lifetime of the object.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path);
  ~HeldLock();
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

}  // namespace mwtest
