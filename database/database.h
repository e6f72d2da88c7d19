// The library database engine: SQL over the library's dBASE tables.
//
// An alias (aliases.ini beside the program, section "Aliases") names the
// directory of a library's .dbf files. Every table is mirrored into an
// SQLite cache file that is checked against its .dbf (and memo file) before
// each use and rebuilt when it differs, so a change made by the library
// system is seen by the very next query. The cache is never the source of
// truth. SQL texts name tables by their file names ("master.dbf",
// 'master.dbf', MASTER.DBF); callers never edit their SQL for the engine.
//
// Value rules: a blank field (all spaces, blank date, blank logical) is NULL;
// C fields lose trailing blanks; D fields are text "yyyymmdd"; N and F are
// numbers; M fields are their memo text; deleted records are absent.
//
// Every failure (unknown alias, missing table, bad SQL, unknown column) is
// an EDatabaseError whose message names what is wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/unicode_string.h"

struct sqlite3;

namespace Mirel::Database {

MIREL_DECLARE_EXCEPTION(EDatabaseError, Exception);

// The alias used when a caller gives none.
inline constexpr const char16_t* kDefaultAlias = u"MirelWin";

// Something that opens and closes a database connection.
class Idatabase {
 public:
  virtual bool open_database(const UnicodeString& private_dir) = 0;
  virtual bool close_database() = 0;
  virtual ~Idatabase() = default;
};

// A private session: the context in which queries run.
class TSession {
 public:
  TSession();
  ~TSession();
  void set_component_name(const UnicodeString& name);
  void set_private_dir(const UnicodeString& dir);
  void set_session_name(const UnicodeString& name);
  void set_auto_session_name(bool on);
  const UnicodeString& session_name() const;
  const UnicodeString& private_dir() const;
  // Opens the session; a non-empty `private_dir` replaces the one set
  // before. Returns whether it was already open.
  bool open(const UnicodeString& private_dir = {});
  // Returns whether it was open.
  bool close();
  bool is_open() const;

  struct Impl;  // opaque: the engine's own state

 private:
  std::unique_ptr<Impl> impl_;
  friend class TQuery;
};

// A forward-only query over one alias. The whole result is available after
// open(); the first row is current.
class TQuery {
 public:
  TQuery();
  ~TQuery();
  void set_unidirectional(bool on);
  void set_calc_fields(bool on);
  void set_param_check(bool on);  // false: ':' in the SQL is no parameter marker
  void set_database_name(const UnicodeString& alias);
  const UnicodeString& database_name() const;
  // Attaches the query to the open session of that name.
  void set_session_name(const UnicodeString& name);
  void set_sql(const UnicodeString& sql);

  void prepare();
  void open();   // prepares if needed, runs the SQL
  void close();
  void unprepare();
  bool is_open() const;

  bool eof() const;
  void next();
  // Advances by n rows (n >= 0), stopping on the last row; returns the rows passed.
  int32_t move_by(int32_t n);
  int32_t record_count() const;

  bool has_field(const UnicodeString& name) const;  // column names without letter case
  UnicodeString field_as_string(const UnicodeString& name) const;  // NULL gives ""
  int32_t field_as_integer(const UnicodeString& name) const;       // NULL gives 0
  bool field_is_null(const UnicodeString& name) const;

  // The columns of the result in order (available once prepared), and the
  // current row's values by position, for tools that print whole rows.
  int32_t column_count() const;
  UnicodeString column_name(int32_t index) const;
  UnicodeString column_as_string(int32_t index) const;  // NULL gives ""
  bool column_is_null(int32_t index) const;
  // The size in bytes of a blob value (G and P memos, unknown field types),
  // which is no text; nullopt for a value of any other kind.
  std::optional<size_t> column_blob_size(int32_t index) const;

  struct Impl;  // opaque: the engine's own state

 private:
  std::unique_ptr<Impl> impl_;
};

// Derived data kept inside one table's cache (for example a search index):
// `schema_sql` runs on the cache database after the table "data" has been
// created and before any row goes in, so triggers it creates see every
// insert, update and delete of the cache; `register_functions` runs on every
// connection that writes that cache. A change of `version` forces a rebuild.
// An update in place changes many rows per statement: one DELETE, one
// UPDATE and one INSERT, rowids ascending within each (so that a full-text
// index writes a few segments, not one per row); it stages the rows in the
// temporary tables mw_gone, mw_changed and mw_added, names an extension's
// TEMP objects must leave alone.
// A table has at most one extension: registering again for the same table
// replaces the earlier one. Register before the first query of the process.
struct TCacheExtension {
  std::string table;  // file name without extension, lower case: "master"
  int version = 1;
  std::function<void(sqlite3*)> register_functions;
  std::string schema_sql;
  // Optional: runs once a full build has put every row into "data" (and
  // before the cache is used), so that derived data can be built in bulk;
  // triggers made here follow the later in-place updates. Leave it empty
  // when schema_sql's triggers already build everything row by row.
  std::string after_build_sql;
  // Optional: runs on the connection that applies changed records in
  // place, before any row changes, to make TEMP triggers that keep derived
  // data current (CREATE TEMP TRIGGER IF NOT EXISTS ... ON main.data). They
  // vanish with that connection, so no reader of the cache parses them.
  std::string update_sql;
  // Optional: runs on that connection once every changed row is in "data",
  // in the same transaction, to finish in one pass what the triggers only
  // recorded row by row.
  std::string after_update_sql;
};
void register_cache_extension(TCacheExtension extension);

// Direct read access to an alias's cached tables, for components that run
// their own (bound) SQL. Each named table is made current, then reachable
// in SQL under its file name as for TQuery.
class TCatalog {
 public:
  // Throws EDatabaseError for an unknown alias or a missing table.
  TCatalog(const UnicodeString& alias, const std::vector<std::string>& tables);
  ~TCatalog();
  sqlite3* handle() const;
  // The schema name under which `table` ("master") is attached; its rows
  // are in <schema>.data with the .dbf columns under their own names.
  std::string schema_of(const std::string& table) const;
  // `sql` with its file-name table references ("master.dbf", 'master.dbf')
  // of the attached tables rewritten as TQuery does, ready to prepare on
  // handle(). Tables not attached here are left as written.
  std::string translate(const std::string& sql) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ---- Installation ----
//
// aliases.ini (in the program directory) maps aliases to table directories:
//
//   [Aliases]
//   MirelWin=/srv/library/data        ; absolute, or relative to the program directory
//
//   [Alias:MirelWin]                  ; optional settings of one alias
//   CodePage=932                      ; code page of every table (a number or an
//                                     ; iconv name); default: each table's own
//                                     ; language-driver byte, 932 when unknown
//   CacheDir=/var/cache/mirelweb      ; where the caches live; default: the
//                                     ; subdirectory "mirelweb-cache" of the tables
//
// Alias names match without regard to letter case.

// The program directory: where aliases.ini is read. By default the directory
// of the running executable (/proc/self/exe); tools and tests may set it.
void set_program_directory(const std::string& dir);
std::string program_directory();

// For a process that serves one request: a table whose cache this process
// has read or brought up to date is not checked again byte by byte while its
// file keeps the size and time seen then. Without it, a table written less
// than two seconds before it was read (when its time cannot prove it
// unchanged) is read and hashed whole at every open of a query, several
// times a request. The cache keeps the table marked as recently written, so
// the next process checks it again. Off by default: a long-lived process
// must see every change.
void set_one_look_per_process(bool on);

// Conditions that do not stop a request but that an administrator should
// hear of (a cache directory that cannot be written, so that tables are read
// into memory on every request). Each distinct message is reported once per
// process: to the handler when one is set, and always kept as last_warning().
void set_warning_handler(std::function<void(const UnicodeString&)> handler);
UnicodeString last_warning();

}  // namespace Mirel::Database
