// The registry of cache extensions: derived data that other components keep
// inside a table's cache (a search index maintained by triggers). Registered
// before the first query of the process; read by every build and attach.

#include <mutex>

#include "database/engine.h"
#include "platform/unicode_string.h"

namespace Mirel::Database {
namespace {

std::mutex g_ext_mutex;
std::vector<TCacheExtension>& registry() {
  static std::vector<TCacheExtension> extensions;
  return extensions;
}

}  // namespace

void register_cache_extension(TCacheExtension extension) {
  extension.table = to_lower_ascii(extension.table);
  std::lock_guard lock(g_ext_mutex);
  // One extension per table: registering again (a second instance of the
  // component, or a new version) replaces it rather than running two schemas.
  for (auto& e : registry())
    if (e.table == extension.table) {
      e = std::move(extension);
      return;
    }
  registry().push_back(std::move(extension));
}

namespace detail {

std::vector<TCacheExtension> extensions_for(const std::string& key) {
  std::lock_guard lock(g_ext_mutex);
  std::vector<TCacheExtension> out;
  for (const auto& e : registry())
    if (e.table == key) out.push_back(e);
  return out;
}

void register_extension_functions(sqlite3* db, const std::string& key) {
  for (const auto& e : extensions_for(key))
    if (e.register_functions) e.register_functions(db);
}

void prepare_extension_updates(const TDb& db, const std::string& key) {
  register_extension_functions(db.get(), key);
  for (const auto& e : extensions_for(key))
    if (!e.update_sql.empty()) db.exec(e.update_sql);
}

void finish_extension_updates(const TDb& db, const std::string& key) {
  for (const auto& e : extensions_for(key))
    if (!e.after_update_sql.empty()) db.exec(e.after_update_sql);
}

}  // namespace detail
}  // namespace Mirel::Database
