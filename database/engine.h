// Internals of the database engine shared by its files: alias resolution,
// locating a table's files, the signature that says whether a cache is
// current, and making a table's cache current and attaching it to a
// connection. Internal to database/; the public contract is database.h.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/sqlite_util.h"

namespace Mirel::Database::detail {

// ---- aliases (aliases.cpp) ----

struct TAlias {
  std::string name;       // as configured (UTF-8), for messages
  std::string dir;        // directory of the .dbf files, no trailing '/'
  std::string codepage;   // iconv name forced for every table; empty: the table's own
  std::string cache_dir;  // where the cache files live, no trailing '/'
};

// Resolves `alias` through aliases.ini of the program directory. Throws
// EDatabaseError naming the alias (and the ini file) when it is unknown.
TAlias resolve_alias(const UnicodeString& alias);

// ---- table files (table_files.cpp) ----

struct TTableSource {
  std::string key;       // lower-case name without extension: "master"
  std::string dbf_path;  // the file as it is spelled on disk
  std::string memo_paths[2];  // .dbt / .fpt beside it when present (any case), else ""
  std::string cpg_path;       // .cpg (the code page of a table without a driver byte), else ""
};

// Finds "<key>.dbf" in `dir` without regard to letter case. Returns false
// when there is none.
bool locate_table(const std::string& dir, const std::string& key, TTableSource& out);
// Like locate_table, throwing EDatabaseError "table missing" naming the file.
TTableSource require_table(const TAlias& alias, const std::string& key);
// Lower-case names (no extension) of every .dbf file of `dir`, sorted.
std::vector<std::string> list_tables(const std::string& dir);

// The state of a table's files that the cache records: size, modification
// time in nanoseconds, inode, device and the first 32 bytes of the .dbf, of
// each memo file and of the .cpg; for small tables also a hash of their
// whole contents.
// Equal signatures mean an unchanged table. `mtime_max_ns` receives the
// newest modification time among the files.
std::string source_signature(const TTableSource& src, int64_t* mtime_max_ns = nullptr);
// True when the signature holds a hash of the whole contents, so that a
// change that left size and time alone is still seen.
bool signature_is_hashed(const std::string& signature);
// The stamps (no contents) of the memo files alone: tells whether a memo
// file changed at all.
std::string memo_stamp(const TTableSource& src, int64_t* mtime_max_ns = nullptr);
// Equal and trustworthy (a file that changed during hashing never matches).
bool same_signature(const std::string& a, const std::string& b);
// The mode of a cache file of `src` whose group is `cache_group`: read and
// write for its owner; read for the group only when every file of the table
// is readable by that same group (or by everyone); read for others only when
// every file of the table is. A copy is never more readable than its table.
unsigned cache_file_mode(const TTableSource& src, unsigned cache_group);
// The current time of the real-time clock in nanoseconds.
int64_t now_ns();

// A fast 64-bit hash of bytes (not cryptographic; change detection only).
uint64_t hash_bytes(const void* data, size_t size, uint64_t seed = 0);

// hash_bytes of `total_size` bytes fed in pieces of any size, so that a
// file is hashed through a small buffer. The result equals hash_bytes only
// when exactly `total_size` bytes were fed; bytes beyond it are ignored.
class TByteHasher {
 public:
  explicit TByteHasher(uint64_t total_size, uint64_t seed = 0);
  void update(const void* data, size_t size);
  uint64_t finish() const;

 private:
  uint64_t total_;
  uint64_t fed_ = 0;
  uint64_t h_;
  uint64_t lanes_[4];
  unsigned char pending_[32];
  size_t pending_size_ = 0;
};

// ---- schemas and caches (table_cache.cpp, cache_build.cpp) ----

// The schema a table is attached under: its lower-case name when that is a
// plain identifier other than "main" and "temp", else a derived name.
std::string schema_name(const std::string& key);

// What a cache must have been built with to be usable: format version, the
// forced code page and the versions of the table's cache extensions.
std::string build_key(const TAlias& alias, const std::string& key);

// One table attached to a connection.
struct TAttached {
  std::string key;
  std::string schema;
  std::string signature;             // of the source when the cache was checked
  std::shared_ptr<void> keep_alive;  // holds an in-memory cache open
};

// What a cache recorded about itself.
struct TMeta {
  std::string build;
  std::string signature;
  bool racy = true;
  bool ok = false;  // the bookkeeping could be read at all
};
// Reads the bookkeeping of the cache attached (or opened) as `schema`;
// `ok` is false for anything that is not a complete cache.
TMeta read_meta(sqlite3* db, const std::string& schema);
// Whether a cache with `m` may answer for a table with `signature` now.
bool meta_is_current(const TMeta& m, const std::string& build, const std::string& signature);
// ATTACH `uri` AS `schema`; false (nothing attached) on failure.
bool attach_uri(sqlite3* db, const std::string& uri, const std::string& schema);
void detach(sqlite3* db, const std::string& schema);
// The read-only URI of a table's cache file.
std::string cache_uri(const TAlias& alias, const std::string& key);
// The name of the VFS used for reading caches: the system's own, except that
// an absolute path is taken as it is instead of being resolved component by
// component (a dozen system calls per attached table on every request).
const char* fast_vfs();
// Process-wide SQLite settings, applied once before SQLite is first used.
void configure_sqlite();

// Makes the cache of `src` current (building or updating it when it is
// missing or stale) and attaches it to `db` as `schema`. Throws
// EDatabaseError when the table cannot be read.
TAttached attach_current(sqlite3* db, const TAlias& alias, const TTableSource& src,
                         const std::string& schema);

// The cache extensions registered for table `key`.
std::vector<TCacheExtension> extensions_for(const std::string& key);
// Runs the registered cache extensions' register_functions for `key` on `db`.
void register_extension_functions(sqlite3* db, const std::string& key);
// Prepares `db` for changing rows of `key`'s cache in place: the
// extensions' functions, then their update_sql.
void prepare_extension_updates(const TDb& db, const std::string& key);
// Runs the extensions' after_update_sql once the changed rows are in.
void finish_extension_updates(const TDb& db, const std::string& key);

// How a rebuild went, for tools and benchmarks.
enum class TUpdateKind { Current, Full, Incremental, InMemory };
// Brings the cache of `src` up to date without attaching it; returns what
// was done and the number of live records in `records` when not null.
TUpdateKind refresh_table(const TAlias& alias, const TTableSource& src, int64_t* records = nullptr);

// ---- building (cache_build.cpp) ----

struct TBuildResult {
  std::string signature;  // of the source as it was read
  bool racy = false;       // the source changed too recently to trust its times
  bool memo_racy = false;  // so did its memo file
};

// A failure to write a cache (disk full, no permission): the engine then
// answers from memory instead.
MIREL_DECLARE_EXCEPTION(ECacheWrite, EDatabaseError);
// A table that cannot be read (damaged, or changing all the time).
MIREL_DECLARE_EXCEPTION(ESourceError, EDatabaseError);

// Told how far a full build of a table's cache has come: a percentage,
// rising from 0 to 100 (a reread of a table that changed starts again).
using TBuildProgress = std::function<void(int percent)>;

// Makes `progress` the receiver of build_full's progress in this thread
// while the scope lives (tools show it; requests set none).
class TBuildProgressScope {
 public:
  explicit TBuildProgressScope(TBuildProgress progress);
  ~TBuildProgressScope();
  TBuildProgressScope(const TBuildProgressScope&) = delete;
  TBuildProgressScope& operator=(const TBuildProgressScope&) = delete;

 private:
  TBuildProgress previous_;
};

// Builds a complete cache of `src` into the database at `uri` (a new, empty
// file or in-memory database). Rereads the table when it changed while it
// was read. Throws EDatabaseError.
TBuildResult build_full(const std::string& uri, const TAlias& alias, const TTableSource& src);

// Updates an existing cache (open read-write as `db`) in place, when the
// table's layout is unchanged and few records differ: only the records whose
// raw bytes (or memo bytes) differ, set-wise (cache_update.cpp). Returns
// false (having changed nothing) when a full rebuild is needed instead.
bool update_incremental(TDb& db, const TAlias& alias, const TTableSource& src,
                        TBuildResult& result);

// The largest number of changed records applied in place; more means a
// full rebuild, which is quicker for very many changes. Measured on 100,000
// books with the catalogue's search index: 20,000 changed records take
// about 2.4 s in place, a full rebuild about 6 s.
inline constexpr size_t kMaxIncrementalRows = 20000;

// ---- warnings (warnings.cpp) ----

// Reports a condition that does not stop the request (an unwritable cache
// directory) once per process and message.
void warn(const UnicodeString& message);

// ---- connections (connection.cpp) ----

// A read connection with a set of tables current and attached.
class TConnection {
 public:
  TConnection(const TAlias& alias, const std::vector<std::string>& keys);
  sqlite3* get() const { return db_.get(); }
  const TAlias& alias() const { return alias_; }
  const std::vector<TAttached>& tables() const { return tables_; }
  // Whether every attached table's source still has the signature it had
  // when it was attached (the freshness check of a reopened query).
  bool still_current() const;

 private:
  TAlias alias_;
  std::vector<TTableSource> sources_;
  TDb db_;
  std::vector<TAttached> tables_;
};

}  // namespace Mirel::Database::detail
