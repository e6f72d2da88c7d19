// Session and query setup for the table readers of library/.
#include "library/db_reader.h"

#include "config/mw_settings.h"

namespace Mirel::MirelWeb::detail {

std::shared_ptr<Database::TSession> make_session(const UnicodeString& session_name) {
  auto session = std::make_shared<Database::TSession>();
  session->set_component_name(u"MirelWebRecomSession");
  session->set_private_dir(temp_path());
  session->set_session_name(session_name);
  session->set_auto_session_name(false);
  return session;
}

std::shared_ptr<Database::TQuery> make_query(const UnicodeString& session_name,
                                             const UnicodeString& sql) {
  auto query = std::make_shared<Database::TQuery>();
  query->set_unidirectional(true);
  query->set_calc_fields(false);
  query->set_param_check(false);
  query->set_database_name(Database::kDefaultAlias);
  query->set_session_name(session_name);
  if (!sql.empty()) query->set_sql(sql);
  return query;
}

bool open_query(Database::TQuery& query, const UnicodeString& database_name) {
  if (!database_name.empty()) query.set_database_name(database_name);
  const bool was_open = query.is_open();
  if (was_open) close_query(query);
  query.prepare();
  query.open();
  return was_open;
}

bool close_query(Database::TQuery& query) {
  const bool was_open = query.is_open();
  query.close();
  query.unprepare();
  return was_open;
}

}  // namespace Mirel::MirelWeb::detail
