// The settings of the installation and of the pages, and how they are read.
//
// The installation is described by mirelweb.ini beside the program: section
// "Path", key "Html" (the template directory prefix), key "Db" (the
// database alias) and the optional key "BaseUrl" (the program's public
// address, for sites behind a proxy or that must not trust the Host header). An older installation keeps them in mirelweb.conf
// (HTML_PATH=..., DB_ALIAS=...); read_configuration migrates that file into
// mirelweb.ini the first time it finds only the old file. Page settings live
// in the templates (tag SETUP) and start from Tmw_setup's values.
//
// Failures are Mirel::Exception: "<ini path> に書き込めません" when the
// migration cannot write the ini file, "ファイル <path> は開けません。 <reason> "
// when the old file exists but cannot be read. Missing files and missing
// keys are not failures; they give empty values.
#pragma once

#include <cstdint>
#include <string>

#include "config/ini_file.h"
#include "platform/strings.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// The installation, read from mirelweb.ini: the template directory prefix
// (put directly in front of every template file name) and the database alias.
struct Tmw_path {
  UnicodeString html_path;
  UnicodeString db_alias;
  // Scheme, host, port and script path every link begins with, e.g.
  // "https://opac.example.jp/cgi-bin/mirelweb"; trailing '/' removed. Empty:
  // the links follow the request.
  UnicodeString base_url;
};

// Page settings, changed only by the template tag SETUP.
struct Tmw_setup {
  int32_t rows = 20;
  uint8_t author_link_chars = 6;
};

// What one request may ask of the catalogue, from section "Limits" of
// mirelweb.ini (absent keys, and values that are not whole numbers >= 0,
// keep these defaults; 0 turns a time limit off). A request past the first
// three is answered with the narrow-your-search page before the database
// lock is taken; the last two bound a search once it runs.
struct Tmw_limits {
  int64_t max_body_bytes = 1048576;  // "MaxBodyBytes": a larger POST body is never read
  int64_t max_value_bytes = 1024;    // "MaxValueBytes": of one request parameter
  int64_t max_words = 16;            // "MaxWords": in one search field
  int64_t search_ms = 5000;          // "SearchMilliseconds": wall time of one search
  int64_t cpu_seconds = 30;          // "CpuSeconds": CPU time of one search (RLIMIT_CPU)
  // Section "Web", key "LockWaitSeconds" (0 to 60, in whole seconds): how
  // long every holder of the database mutex waits before the busy page.
  uint32_t lock_wait_ms = 60000;
};

// The limits from `program_dir` + "mirelweb.ini" (defaults when the file or
// a key is missing, or a value out of range). Never throws.
Tmw_limits read_limits(const std::string& program_dir);

// Tmw_path <-> section "Path" of an ini file.
class Tmwini_path : public Iread_ini_file<Tmw_path>, public Iwrite_ini_file<Tmw_path> {
 public:
  Tmwini_path();

  // html_path from ("Path", "Html"), db_alias from ("Path", "Db"), base_url
  // from ("Path", "BaseUrl"); absent values give the empty text.
  virtual Tmw_path read_path(const std::string& ini_file);
  // Stores each non-empty value (an empty one neither creates nor clears its
  // key). Both go into the file with one replacement, so no reader ever sees
  // one without the other. Throws "<ini_file> に書き込めません".
  virtual void write_path(const std::string& ini_file, const Tmw_path& path);

  Tmw_path read(const std::string& ini_file) final { return read_path(ini_file); }
  void write(const std::string& ini_file, const Tmw_path& path) final { write_path(ini_file, path); }

 private:
  Tini_file<UnicodeString> html_;
  Tini_file<UnicodeString> db_;
  Tini_file<UnicodeString> base_url_;
};

// Loads the legacy name=value file into `lines`, each entry normalised to
// name=value: a "#" starts a comment, a line without "=" is dropped, blanks
// (characters up to and including the space) around name and value are
// removed, and only the first "=" separates. The file may begin with a UTF-8
// or UTF-16 (LE or BE) byte order mark, else it is code page 932; lines end
// with CR LF, LF or CR. Look names up with value_of (first one wins).
// Throws the file-open message when the file cannot be read.
void load_conf_lines(const std::string& path, TStrings& lines);

// The directory for temporary files with its trailing '/': TMPDIR when it is
// set and not empty, else "/tmp/".
UnicodeString temp_path();

// The configuration of one request, read from `program_dir` (with its
// trailing '/'): mirelweb.ini when it exists (the old file is then ignored);
// else, when mirelweb.conf exists, its values are written to mirelweb.ini
// and it is deleted (a failed deletion is ignored; a failed write throws and
// leaves it in place); else both values are empty.
Tmw_path read_configuration(const std::string& program_dir);

}  // namespace Mirel::MirelWeb
