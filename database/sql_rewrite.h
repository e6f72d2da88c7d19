// Table names of SQL texts written for dBASE files, mapped onto the caches.
//
// Callers name tables by their file names: `master.dbf`, 'master.dbf',
// "master.dbf", [master.dbf], `MASTER.DBF`. SQLite would read the bare form
// as table "dbf" of schema "master", so the engine rewrites every such
// reference that stands in a table position (right after FROM or JOIN, or
// after a comma of a FROM list) into the cache table that mirrors the file:
//     from feature.dbf left join 'master.dbf' on ...
//  -> from "feature"."data" AS "feature" left join "master"."data" AS "master" on ...
// A reference already followed by an alias keeps that alias; without one the
// table gets its own name as alias, so `feature.FT_BOOKID` keeps working.
// A bare name without extension (`from master`) is taken as a table too when
// `is_table` says such a file exists. Everything else (string literals in
// expressions, comments, identifiers elsewhere) passes byte for byte.
// Internal to database/.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace Mirel::Database::detail {

struct TRewrittenSql {
  std::string sql;                  // the text to prepare
  std::vector<std::string> tables;  // lower-case table names, first use first, each once
};

// `schema_of` maps a lower-case table name to the schema it will be attached
// under; `is_table` says whether a bare name (no ".dbf") is a table of the
// alias. Neither may throw for an unknown name; a name that is not a table
// simply stays as it is and SQLite reports it. A reference whose file name
// holds a path separator is left alone too.
TRewrittenSql rewrite_table_names(std::string_view sql,
                                  const std::function<std::string(const std::string&)>& schema_of,
                                  const std::function<bool(const std::string&)>& is_table);

// "x" -> "\"x\"" with inner quotes doubled: an SQL identifier.
std::string quote_identifier(std::string_view name);

}  // namespace Mirel::Database::detail
