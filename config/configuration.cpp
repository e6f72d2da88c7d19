// Reading the configuration of one request from the program directory, with
// the one-time migration of mirelweb.conf into mirelweb.ini; and the
// directory for temporary files.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "config/mw_settings.h"

namespace Mirel::MirelWeb {
namespace {

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

Tmw_path read_configuration(const std::string& program_dir) {
  const std::string ini_file = program_dir + "mirelweb.ini";
  const std::string conf_file = program_dir + "mirelweb.conf";
  Tmwini_path ini;

  if (file_exists(ini_file)) return ini.read_path(ini_file);
  if (!file_exists(conf_file)) return Tmw_path{};

  TStrings lines;
  load_conf_lines(conf_file, lines);
  Tmw_path path{value_of(lines, u"HTML_PATH"), value_of(lines, u"DB_ALIAS"), {}};
  ini.write_path(ini_file, path);  // throws before the old file is touched
  // Another process migrating at the same moment may have deleted it first.
  ::unlink(conf_file.c_str());
  return path;
}

UnicodeString temp_path() {
  const char* dir = std::getenv("TMPDIR");
  std::string result = dir && *dir ? dir : "/tmp";
  if (result.back() != '/') result += '/';
  return from_utf8(result);
}

}  // namespace Mirel::MirelWeb
