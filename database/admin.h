// Upkeep of an alias's caches, for the command-line tool and cron: bring
// every table's cache up to date and report what was done.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "database/database.h"

namespace Mirel::Database {

struct TTableState {
  enum class Action { Current, Updated, Rebuilt };
  std::string name;     // lower-case, without extension: "master"
  std::string file;     // the .dbf as spelled on disk
  int64_t records = 0;  // live (not deleted) records
  Action action = Action::Current;
};

// Told of refresh_tables' work as it goes (each member may be empty): a
// table about to be made current, the percentage done of a full build of
// its cache, and the table once current.
struct TRefreshObserver {
  std::function<void(const std::string& table)> started;
  std::function<void(const std::string& table, int percent)> building;
  std::function<void(const TTableState& state)> done;
};

// Every .dbf table of the alias, its cache made current, in name order.
// Throws EDatabaseError for an unknown alias, a table that cannot be read,
// or a cache directory that cannot be written.
std::vector<TTableState> refresh_tables(const UnicodeString& alias,
                                        const TRefreshObserver& observer = {});

// The cache directory in use for an alias (for messages and tools).
std::string cache_directory(const UnicodeString& alias);

}  // namespace Mirel::Database
