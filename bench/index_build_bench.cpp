// mirelweb-index-bench: the search index's full build on its own.
//
//   mirelweb-index-bench ROWS_FILE SCRATCH_FILE
//
// ROWS_FILE is a cache of master.dbf with only its table "data" left (the
// other tables and indexes dropped, then VACUUM); it is copied to
// SCRATCH_FILE, where the index's tables are made and filled as a cache
// build fills them after its rows, on a connection set as a build's.
// Prints the CPU time (user + system), wall time and peak memory of
// `SELECT mw_build_index()`, the number of entries and the size of the
// lists written. For profiling the index pass without the rest of a build.
#include <sqlite3.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "mirelsearch/catalogue_index.h"
#include "mirelsearch/posting_index.h"

namespace {

double cpu_seconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", sql.c_str(), error != nullptr ? error : "?");
    sqlite3_free(error);
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ROWS_FILE SCRATCH_FILE\n", argv[0]);
    return 2;
  }
  std::filesystem::copy_file(argv[1], argv[2], std::filesystem::copy_options::overwrite_existing);
  sqlite3* db = nullptr;
  if (sqlite3_open(argv[2], &db) != SQLITE_OK) return 1;
  using namespace Mirelsearch_tlb::detail;
  register_index_functions(db);
  // As a cache build sets its connection.
  exec(db, "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; PRAGMA cache_size=-65536;"
           "PRAGMA temp_store=MEMORY; PRAGMA locking_mode=EXCLUSIVE");
  exec(db, "BEGIN; " + posting_schema_sql());
  const double cpu = cpu_seconds();
  const auto wall = std::chrono::steady_clock::now();
  sqlite3_stmt* build = nullptr;
  sqlite3_prepare_v2(db, "SELECT mw_build_index()", -1, &build, nullptr);
  if (sqlite3_step(build) != SQLITE_ROW) {
    std::fprintf(stderr, "mw_build_index: %s\n", sqlite3_errmsg(db));
    return 1;
  }
  const long long entries = sqlite3_column_int64(build, 0);
  sqlite3_finalize(build);
  exec(db, "COMMIT");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
  const double used = cpu_seconds() - cpu;
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  sqlite3_stmt* size = nullptr;
  sqlite3_prepare_v2(db, "SELECT count(*), sum(length(ids)) FROM mw_post", -1, &size, nullptr);
  sqlite3_step(size);
  std::printf("mw_build_index: %.2f s CPU, %.2f s wall, %ld MB peak; %lld entries, %lld rows, %.1f MB of lists\n",
              used, seconds, u.ru_maxrss / 1024, entries, sqlite3_column_int64(size, 0),
              static_cast<double>(sqlite3_column_int64(size, 1)) / 1e6);
  sqlite3_finalize(size);
  sqlite3_close(db);
  return 0;
}
