// Database aliases: aliases.ini in the program directory names, for each
// alias, the directory of its tables and optional settings (code page, cache
// directory). Read once per lookup; an alias is looked up once per query, so
// there is nothing to gain from keeping the file.

#include <unistd.h>

#include <climits>
#include <mutex>

#include "config/ini_file.h"
#include "database/engine.h"
#include "platform/integer.h"

namespace Mirel::Database {
namespace {

std::mutex g_dir_mutex;
std::string& program_dir_storage() {
  static std::string dir;
  return dir;
}

std::string strip_trailing_slashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// A directory as configured: absolute as it is, relative to the program
// directory otherwise.
std::string resolve_dir(const std::string& base, const std::string& value) {
  if (!value.empty() && value[0] == '/') return strip_trailing_slashes(value);
  return strip_trailing_slashes(base + "/" + value);
}

// "932" -> "CP932"; iconv names pass unchanged.
std::string codepage_name(const UnicodeString& value) {
  if (value.empty()) return {};
  if (auto number = text_to_int(value)) return "CP" + std::to_string(*number);
  return to_utf8(value);
}

}  // namespace

void set_program_directory(const std::string& dir) {
  std::lock_guard lock(g_dir_mutex);
  program_dir_storage() = strip_trailing_slashes(dir);
}

std::string program_directory() {
  std::lock_guard lock(g_dir_mutex);
  std::string& dir = program_dir_storage();
  if (dir.empty()) {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    std::string exe = n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    const size_t slash = exe.rfind('/');
    dir = slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : exe.substr(0, slash));
  }
  return dir;
}

namespace detail {

TAlias resolve_alias(const UnicodeString& alias) {
  const std::string base = program_directory();
  const std::string ini = base + "/aliases.ini";
  const Tini_document doc = Tini_document::load(ini);
  const auto dir = alias.empty() ? std::nullopt : doc.value(u"Aliases", alias);
  if (!dir || dir->empty())
    throw EDatabaseError(u"データベース別名 '" + alias + u"' は登録されていません (" +
                         from_ansi(ini) + u")");
  TAlias out;
  out.name = to_utf8(alias);
  out.dir = resolve_dir(base, to_ansi(*dir));
  const UnicodeString section = u"Alias:" + alias;
  out.codepage = codepage_name(doc.value(section, u"CodePage").value_or(UnicodeString()));
  const UnicodeString cache = doc.value(section, u"CacheDir").value_or(UnicodeString());
  out.cache_dir = cache.empty() ? out.dir + "/mirelweb-cache" : resolve_dir(base, to_ansi(cache));
  return out;
}

}  // namespace detail
}  // namespace Mirel::Database
