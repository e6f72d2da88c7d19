// Direct read access to an alias's cached tables for components that run
// their own SQL with bound parameters (the catalogue search).

#include "database/engine.h"
#include "database/sql_rewrite.h"
#include "platform/unicode_string.h"

namespace Mirel::Database {
namespace {

std::string table_key(std::string name) {
  name = to_lower_ascii(name);
  if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dbf") == 0) name.resize(name.size() - 4);
  return name;
}

}  // namespace

struct TCatalog::Impl {
  std::unique_ptr<detail::TConnection> connection;
};

TCatalog::TCatalog(const UnicodeString& alias, const std::vector<std::string>& tables)
    : impl_(std::make_unique<Impl>()) {
  std::vector<std::string> keys;
  for (const auto& t : tables) {
    const std::string key = table_key(t);
    bool seen = false;
    for (const auto& k : keys) seen = seen || k == key;
    if (!seen) keys.push_back(key);
  }
  impl_->connection = std::make_unique<detail::TConnection>(detail::resolve_alias(alias), keys);
}

TCatalog::~TCatalog() = default;

sqlite3* TCatalog::handle() const { return impl_->connection->get(); }

std::string TCatalog::schema_of(const std::string& table) const {
  const std::string key = table_key(table);
  for (const auto& t : impl_->connection->tables())
    if (t.key == key) return t.schema;
  throw EDatabaseError(from_utf8("テーブル '" + table + "' はこのカタログに開かれていません"));
}

std::string TCatalog::translate(const std::string& sql) const {
  const auto& tables = impl_->connection->tables();
  auto schema = [&](const std::string& key) -> std::string {
    for (const auto& t : tables)
      if (t.key == key) return t.schema;
    return {};
  };
  auto attached = [&](const std::string& key) { return !schema(key).empty(); };
  return detail::rewrite_table_names(sql, schema, attached).sql;
}

}  // namespace Mirel::Database
