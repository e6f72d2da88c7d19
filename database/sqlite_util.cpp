// The SQLite wrappers of sqlite_util.h.

#include "database/sqlite_util.h"

#include <cstring>
#include <mutex>

#include "database/engine.h"

namespace Mirel::Database::detail {

void throw_sqlite(sqlite3* db, const std::string& what) {
  const char* msg = db ? sqlite3_errmsg(db) : "out of memory";
  throw EDatabaseError(from_utf8(what + ": " + (msg ? msg : "")));
}

TDb::TDb(const std::string& uri, int flags) {
  configure_sqlite();
  const int rc = sqlite3_open_v2(uri.c_str(), &db_, flags | SQLITE_OPEN_URI, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    close();
    throw EDatabaseError(from_utf8("データベース " + uri + " を開けません: " + msg));
  }
  sqlite3_extended_result_codes(db_, 1);
}

TDb::~TDb() { close(); }

TDb& TDb::operator=(TDb&& other) noexcept {
  if (this != &other) {
    close();
    db_ = other.db_;
    other.db_ = nullptr;
  }
  return *this;
}

void TDb::close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
}

void TDb::exec(const std::string& sql) const {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw EDatabaseError(from_utf8("SQL の実行に失敗しました: " + msg));
  }
}

TStmt::TStmt(sqlite3* db, std::string_view sql) {
  if (sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &st_, nullptr) != SQLITE_OK)
    throw_sqlite(db, "SQL の誤り");
}

TStmt::~TStmt() { finalize(); }

TStmt& TStmt::operator=(TStmt&& other) noexcept {
  if (this != &other) {
    finalize();
    st_ = other.st_;
    other.st_ = nullptr;
  }
  return *this;
}

bool TStmt::step() {
  const int rc = sqlite3_step(st_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw_sqlite(sqlite3_db_handle(st_), "SQL の実行に失敗しました");
}

void TStmt::reset() {
  if (st_) sqlite3_reset(st_);
}

void TStmt::finalize() {
  if (st_) sqlite3_finalize(st_);
  st_ = nullptr;
}

std::string file_uri(const std::string& path, const std::string& query) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "file:";
  for (unsigned char c : path) {
    if (c == '%' || c == '?' || c == '#' || c < 0x20 || c >= 0x7F) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  if (!query.empty()) out += "?" + query;
  return out;
}

}  // namespace Mirel::Database::detail

namespace Mirel::Database::detail {
namespace {

sqlite3_vfs g_fast_vfs;
sqlite3_vfs* g_base_vfs = nullptr;

int fast_full_pathname(sqlite3_vfs*, const char* name, int size, char* out) {
  const size_t len = std::strlen(name);
  if (name[0] == '/' && len < static_cast<size_t>(size)) {
    std::memcpy(out, name, len + 1);
    return SQLITE_OK;
  }
  return g_base_vfs->xFullPathname(g_base_vfs, name, size, out);
}

}  // namespace

void configure_sqlite() {
  static std::once_flag once;
  std::call_once(once, [] {
    // No up-front bulk allocation of page cache memory per attached
    // database: a request reads a few pages of each of ten caches, and
    // touching twenty fresh pages for each costs more than the reads.
    sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    // A connection is only ever used by the thread that opened it: no
    // mutex around each call, and no locked bookkeeping of every
    // allocation (together a tenth of a search's instructions).
    sqlite3_config(SQLITE_CONFIG_MULTITHREAD);
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  });
}

const char* fast_vfs() {
  static std::once_flag once;
  std::call_once(once, [] {
    configure_sqlite();
    g_base_vfs = sqlite3_vfs_find(nullptr);
    g_fast_vfs = *g_base_vfs;
    g_fast_vfs.zName = "mirelweb";
    g_fast_vfs.pNext = nullptr;
    g_fast_vfs.xFullPathname = fast_full_pathname;
    sqlite3_vfs_register(&g_fast_vfs, 0);
  });
  return g_fast_vfs.zName;
}

}  // namespace Mirel::Database::detail
