// The session and query setup shared by the readers of library/ (the value
// ranges and the recommended-books source): both configure them the same
// way and differ only in session name and SQL text. Internal to library/.
#pragma once

#include <memory>

#include "database/database.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb::detail {

// A private session named `session_name`, component "MirelWebRecomSession",
// private directory the temporary-files directory, automatic naming off.
std::shared_ptr<Database::TSession> make_session(const UnicodeString& session_name);

// A forward-only query without calculated fields or parameter parsing, on
// the alias "MirelWin", attached to `session_name`, with `sql` (none when
// empty).
std::shared_ptr<Database::TQuery> make_query(const UnicodeString& session_name,
                                             const UnicodeString& sql);

// Opens `query`: a non-empty `database_name` replaces its alias; a query
// still open is closed first. Returns whether it was open.
bool open_query(Database::TQuery& query, const UnicodeString& database_name);

// Closes and unprepares `query`. Returns whether it was open.
bool close_query(Database::TQuery& query);

}  // namespace Mirel::MirelWeb::detail
