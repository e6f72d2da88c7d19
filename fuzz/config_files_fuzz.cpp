// Fuzz target for the configuration readers: the fuzz bytes are read as an
// ini file (lookups, then values written into it and read back) and as the
// legacy name=value file (its lines, then the migration into a new ini file).
//
// Checked besides "no crash": a value written to any ini file reads back
// unchanged and leaves the other key of its section alone; every legacy
// line comes out as trimmed name=value without a comment; the migration
// deletes the legacy file and, for plain values, the new ini file holds them.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "config/ini_file.h"
#include "config/mw_settings.h"
#include "fuzz/fuzz_support.h"
#include "platform/exception.h"
#include "platform/strings.h"

namespace {

using Mirel::Exception;
using Mirel::UnicodeString;
using namespace Mirel::MirelWeb;

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool is_blank(char16_t c) { return c <= u' '; }

// A value that an ini file stores and gives back as it is: printable ASCII
// without quotes (which the reader would strip) and within the value limit.
bool plain(const UnicodeString& value) {
  if (value.size() > 2047) return false;
  for (char16_t c : value)
    if (c <= u' ' || c > u'~' || c == u'"' || c == u'\'') return false;
  return true;
}

void ini_document(std::string_view bytes) {
  const Tini_document doc = Tini_document::parse(bytes);
  for (const char16_t* key : {u"Html", u"Db", u""}) {
    if (auto v = doc.value(u"Path", key)) MWFUZZ_CHECK(v->size() <= 2047);
  }
  const auto keys = doc.keys(u"path");
  for (size_t i = 0; i < keys.size(); ++i)
    for (size_t j = i + 1; j < keys.size(); ++j) MWFUZZ_CHECK(!Mirel::same_text_ascii_ci(keys[i], keys[j]));
  MWFUZZ_CHECK(doc.has_section(u"PATH") == doc.has_section(u"Path"));
}

void ini_write(std::string_view bytes) {
  const std::string ini = mwfuzz::scratch_dir() + "written.ini";
  mwfuzz::write_file(ini, bytes);
  const auto db_before = Tini_document::parse(bytes).value(u"Path", u"Db");

  const UnicodeString html = u"/srv/mirelweb/templates/";
  Tini_file<UnicodeString>(u"Path", u"Html").write(ini, html);
  const Tini_document after = Tini_document::load(ini);
  MWFUZZ_CHECK(after.value(u"Path", u"Html") == html);
  MWFUZZ_CHECK(after.value(u"Path", u"Db") == db_before);

  // Both values at once, as the migration stores them.
  Tmwini_path path_file;
  path_file.write_path(ini, Tmw_path{u"tmpl/", u"MirelWin", {}});
  const Tmw_path read = path_file.read_path(ini);
  MWFUZZ_CHECK(read.html_path == u"tmpl/" && read.db_alias == u"MirelWin");
}

void legacy(std::string_view bytes) {
  const std::string dir = mwfuzz::scratch_dir();
  const std::string conf = dir + "mirelweb.conf", ini = dir + "mirelweb.ini";
  mwfuzz::write_file(conf, bytes);
  mwfuzz::remove_file(ini);

  Mirel::TStrings lines;
  load_conf_lines(conf, lines);
  for (const auto& line : lines) {
    const size_t eq = line.find(u'=');
    MWFUZZ_CHECK(eq != UnicodeString::npos);
    MWFUZZ_CHECK(line.find_first_of(u"#\r\n") == UnicodeString::npos);
    if (eq > 0) MWFUZZ_CHECK(!is_blank(line[0]) && !is_blank(line[eq - 1]));
    if (eq + 1 < line.size()) MWFUZZ_CHECK(!is_blank(line[eq + 1]) && !is_blank(line.back()));
  }

  const Tmw_path migrated = read_configuration(dir);
  MWFUZZ_CHECK(!exists(conf));
  MWFUZZ_CHECK(migrated.html_path == Mirel::value_of(lines, u"HTML_PATH"));
  MWFUZZ_CHECK(migrated.db_alias == Mirel::value_of(lines, u"DB_ALIAS"));
  if (plain(migrated.html_path) && plain(migrated.db_alias)) {
    const Tmw_path again = read_configuration(dir);
    MWFUZZ_CHECK(again.html_path == migrated.html_path && again.db_alias == migrated.db_alias);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ini_document(bytes);
  try {
    ini_write(bytes);
    legacy(bytes);
  } catch (const Exception& e) {
    // The scratch directory is writable and every file in it readable, so
    // no failure is expected here.
    mwfuzz::check_failed(e.what(), __FILE__, __LINE__);
  }
  return 0;
}
