// The private state of sessions and queries, shared by session.cpp and
// query.cpp so that a closing session can close the queries attached to it.
// Internal to database/.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "database/engine.h"

namespace Mirel::Database {

struct TSession::Impl {
  UnicodeString component_name;
  UnicodeString private_dir;
  UnicodeString session_name;
  bool auto_session_name = true;
  bool open = false;
  std::vector<TQuery::Impl*> queries;  // prepared queries attached to this session
};

// One value of a result row, copied out of SQLite.
struct TCell {
  int type = SQLITE_NULL;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // TEXT as UTF-8, BLOB as bytes
};
using TRow = std::vector<TCell>;

struct TQuery::Impl {
  // Settings.
  bool unidirectional = false;
  bool calc_fields = true;
  bool param_check = true;
  UnicodeString database_name{kDefaultAlias};
  UnicodeString session_name;
  UnicodeString sql;

  // Prepared: the connection with its tables, the statement, the columns.
  TSession::Impl* session = nullptr;
  std::unique_ptr<detail::TConnection> connection;
  detail::TStmt stmt;
  std::vector<std::string> columns;  // names as SQLite reports them (UTF-8)

  // Open: the current row, rows read ahead, and how far the cursor came.
  bool open = false;
  bool eof = true;
  bool in_transaction = false;
  bool statement_done = false;
  TRow current;
  std::deque<TRow> ahead;
  int64_t rows_passed = 0;  // rows before the current one

  void detach_session();  // closes and unprepares, forgetting the session
  void close();
  void unprepare();
  bool fetch(TRow& row);   // the next row from SQLite; false at the end
  bool peek();             // makes sure ahead holds a row; false at the end
};

namespace detail {
TSession::Impl* find_session(const UnicodeString& name);
}  // namespace detail

}  // namespace Mirel::Database
