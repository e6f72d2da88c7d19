// Keeping a table's cache current and attaching it to a query's connection.
//
// Cache directory layout (per alias, default <tables>/mirelweb-cache):
//   <table>.sqlite            the cache of <table>.dbf (lower-case name)
//   <table>.sqlite.lock       flock(2) lock taken by whoever updates that cache
//   <table>.sqlite.tmp-<pid>  a full rebuild in progress, renamed over the cache
//
// The check on every use: attach the cache read-only and compare what it
// recorded (build key, source signature) with the table's files now. Only
// when they differ is the lock taken; the holder looks again (another
// process may have just done the work), then updates the cache in place
// (few records changed) or rebuilds it into a new file that is renamed over
// the old one. A reader that attached the old file keeps reading it whole,
// so no query ever sees half of an update. When the directory cannot be
// written, the table is read into an in-memory database for this process,
// and the log says which directory or file is in the way and what to do.
//
// Permissions: a directory made here is 0750, lock files are 0600, and a
// cache file is never more readable than its table (cache_file_mode); an
// update gives an existing cache file that mode again.

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "database/engine.h"
#include "database/sql_rewrite.h"

namespace Mirel::Database::detail {

// Reads the bookkeeping of a cache attached (or opened) as `schema`.
TMeta read_meta(sqlite3* db, const std::string& schema) {
  TMeta m;
  sqlite3_stmt* st = nullptr;
  const std::string sql = "SELECT k, v FROM " + quote_identifier(schema) + ".mw_meta";
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return m;
  }
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const std::string k = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    const auto* v = static_cast<const char*>(sqlite3_column_blob(st, 1));
    const std::string value = v ? std::string(v, static_cast<size_t>(sqlite3_column_bytes(st, 1)))
                                : std::string();
    if (k == "build") m.build = value;
    if (k == "signature") m.signature = value;
    if (k == "racy") m.racy = value != "0";
  }
  sqlite3_finalize(st);
  m.ok = rc == SQLITE_DONE && !m.build.empty();
  return m;
}

bool meta_is_current(const TMeta& m, const std::string& build, const std::string& signature) {
  return m.ok && m.build == build && !m.racy && same_signature(m.signature, signature);
}

bool attach_uri(sqlite3* db, const std::string& uri, const std::string& schema) {
  sqlite3_stmt* st = nullptr;
  bool ok = sqlite3_prepare_v2(db, "ATTACH ?1 AS ?2", -1, &st, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_bind_text(st, 1, uri.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(st, 2, schema.c_str(), -1, SQLITE_TRANSIENT);
    ok = sqlite3_step(st) == SQLITE_DONE;
  }
  sqlite3_finalize(st);
  return ok;
}

void detach(sqlite3* db, const std::string& schema) {
  sqlite3_exec(db, ("DETACH " + quote_identifier(schema)).c_str(), nullptr, nullptr, nullptr);
}

std::string cache_uri(const TAlias& alias, const std::string& key) {
  return file_uri(alias.cache_dir + "/" + key + ".sqlite", "mode=ro&vfs=" + std::string(fast_vfs()));
}

namespace {

// Attaches `uri` and keeps it only when it is the current cache of the table.
bool attach_if_current(sqlite3* db, const std::string& uri, const std::string& schema,
                       const std::string& build, const std::string& signature) {
  if (!attach_uri(db, uri, schema)) {
    detach(db, schema);
    return false;
  }
  if (meta_is_current(read_meta(db, schema), build, signature)) return true;
  detach(db, schema);
  return false;
}

// An exclusive flock(2) on the table's lock file, released on destruction.
// Whoever can open the file can hold the lock, so it is its owner's alone.
class TTableLock {
 public:
  explicit TTableLock(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) return;
    struct stat st{};
    if (::fstat(fd_, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 0077) != 0)
      (void)::fchmod(fd_, 0600);  // made by an older version for everyone
    while (::flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        ::close(fd_);
        fd_ = -1;
        return;
      }
    }
  }
  ~TTableLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor drops the lock
  }
  TTableLock(const TTableLock&) = delete;
  TTableLock& operator=(const TTableLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

bool make_dirs(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = dir.rfind('/');
  if (slash != std::string::npos && slash > 0 && !make_dirs(dir.substr(0, slash))) return false;
  return ::mkdir(dir.c_str(), 0750) == 0 || errno == EEXIST;
}

// Gives the cache file open as `fd` the mode that its table allows.
void restrict_to_table(int fd, const TTableSource& src) {
  struct stat st{};
  if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid())
    (void)::fchmod(fd, cache_file_mode(src, st.st_gid));
}

std::string user_name(uid_t uid) {
  if (const passwd* pw = ::getpwuid(uid)) return pw->pw_name;
  return std::to_string(uid);
}

// Why the cache of `path` could not be written: a file of another user in
// the way (named, with the chown that fixes it), else the directory.
std::string cache_write_problem(const TAlias& alias, const std::string& path) {
  const uid_t me = ::geteuid();
  const std::string owner = user_name(me);
  struct stat st{};
  if (::stat(alias.cache_dir.c_str(), &st) == 0 && st.st_uid != me &&
      ::access(alias.cache_dir.c_str(), W_OK) != 0)
    return "キャッシュディレクトリ " + alias.cache_dir + " は " + user_name(st.st_uid) +
           " のもので、" + owner + " には書き込めません。chown -R " + owner + ": " +
           alias.cache_dir + " で持ち主を直してください。それまではテーブルを毎回メモリに読み込みます";
  for (const std::string& file : {path + ".lock", path}) {
    if (::lstat(file.c_str(), &st) == 0 && st.st_uid != me)
      return "キャッシュファイル " + file + " は " + user_name(st.st_uid) + " のもので、" + owner +
             " には置き換えられません。chown " + owner + ": " + file +
             " で持ち主を直してください(mirelweb-db は " + owner +
             " として実行してください)。それまではテーブルを毎回メモリに読み込みます";
  }
  return "キャッシュディレクトリ " + alias.cache_dir +
         " に書き込めないため、テーブルを毎回メモリに読み込みます (aliases.ini の [Alias:" +
         alias.name + "] CacheDir= で書き込めるディレクトリを指定してください)";
}

// Removes rebuilds left behind by processes that ended in the middle.
void remove_stale_temporaries(const std::string& dir, const std::string& cache_name) {
  const std::string prefix = cache_name + ".tmp-";
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0)
        ::unlink((dir + "/" + e->d_name).c_str());
    ::closedir(d);
  }
}

std::string cache_path(const TAlias& alias, const std::string& key) {
  return alias.cache_dir + "/" + key + ".sqlite";
}

// Brings the on-disk cache up to date under the table's lock. Returns false
// when the cache directory cannot be written (nothing changed then).
bool update_on_disk(const TAlias& alias, const TTableSource& src, TUpdateKind& kind) {
  if (!make_dirs(alias.cache_dir)) return false;
  const std::string path = cache_path(alias, src.key);
  TTableLock lock(path + ".lock");
  if (!lock.held()) return false;
  const std::string build = build_key(alias, src.key);

  if (::access(path.c_str(), F_OK) == 0) {
    if (const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC); fd >= 0) {
      restrict_to_table(fd, src);
      ::close(fd);
    }
    try {
      TDb db(file_uri(path), SQLITE_OPEN_READWRITE);
      sqlite3_busy_timeout(db.get(), 3000);
      // A cache can always be rebuilt: one sync per update is enough.
      db.exec("PRAGMA synchronous=NORMAL");
      // Room for 128 MB of changed pages before any is spilled to the file,
      // so that readers are locked out only while the transaction commits,
      // not from the first spilled page on. Pages only read are kept to a
      // few megabytes and their memory reused: every page of fresh memory a
      // process touches costs a page fault, which is more than reading the
      // page again.
      db.exec("PRAGMA cache_size=-2048; PRAGMA cache_spill=32768");
      const TMeta meta = read_meta(db.get(), "main");
      if (meta_is_current(meta, build, source_signature(src))) {
        kind = TUpdateKind::Current;  // another process has just done it
        return true;
      }
      TBuildResult result;
      if (meta.ok && meta.build == build &&
          update_incremental(db, alias, src, result)) {
        kind = TUpdateKind::Incremental;
        return true;
      }
    } catch (const ESourceError&) {
      throw;
    } catch (const EDatabaseError&) {
      // A damaged or foreign file, or one that cannot be updated in place
      // (readers kept it busy): it is rebuilt whole below.
    }
  }

  const size_t slash = path.rfind('/');
  remove_stale_temporaries(alias.cache_dir, path.substr(slash + 1));
  const std::string tmp = path + ".tmp-" + std::to_string(::getpid());
  ::unlink(tmp.c_str());
  // Made here with its final mode before a byte of the table is in it.
  const int fd = ::open(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  restrict_to_table(fd, src);
  ::close(fd);
  try {
    build_full(file_uri(tmp), alias, src);
  } catch (const ECacheWrite&) {
    ::unlink(tmp.c_str());
    return false;
  } catch (...) {
    ::unlink(tmp.c_str());
    throw;
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    return false;
  }
  kind = TUpdateKind::Full;
  return true;
}

// In-memory caches of tables whose cache directory cannot be written, kept
// for the rest of the process; keyed by the path the cache would have had.
struct TMemCache {
  std::string uri;
  std::shared_ptr<TDb> holder;
};
std::mutex g_mem_mutex;
std::map<std::string, TMemCache>& mem_caches() {
  static std::map<std::string, TMemCache> caches;
  return caches;
}

std::shared_ptr<void> attach_in_memory(sqlite3* db, const TAlias& alias, const TTableSource& src,
                                       const std::string& schema, const std::string& build,
                                       const std::string& signature) {
  const std::string path = cache_path(alias, src.key);
  std::lock_guard lock(g_mem_mutex);
  auto& caches = mem_caches();
  auto it = caches.find(path);
  if (it != caches.end() && attach_if_current(db, it->second.uri, schema, build, signature))
    return it->second.holder;
  static int counter = 0;
  TMemCache mem;
  mem.uri = "file:/mirelweb-" + std::to_string(::getpid()) + "-" + std::to_string(++counter) +
            "?vfs=memdb";
  // The holder keeps the in-memory database alive between connections.
  mem.holder = std::make_shared<TDb>(mem.uri, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  build_full(mem.uri, alias, src);
  if (!attach_uri(db, mem.uri, schema)) throw_sqlite(db, "キャッシュを開けません");
  caches[path] = mem;
  warn(from_utf8(cache_write_problem(alias, path)));
  return mem.holder;
}

// Caches this process has checked or brought up to date, by path, with the
// signature they recorded then (see set_one_look_per_process).
std::atomic<bool> g_one_look{false};
std::mutex g_looked_mutex;
std::map<std::string, std::string>& looked_at() {
  static std::map<std::string, std::string> looked;
  return looked;
}

void remember_look(const std::string& path, const std::string& signature) {
  if (!g_one_look) return;
  std::lock_guard lock(g_looked_mutex);
  looked_at()[path] = signature;
}

// Whether the cache attached as `schema` is one this process has already
// checked, of a source whose size and time are still those it recorded.
bool looked_at_already(sqlite3* db, const std::string& schema, const std::string& path,
                       const std::string& build, const std::string& signature) {
  if (!g_one_look) return false;
  const TMeta m = read_meta(db, schema);
  if (!m.ok || m.build != build || !same_signature(m.signature, signature)) return false;
  std::lock_guard lock(g_looked_mutex);
  const auto it = looked_at().find(path);
  return it != looked_at().end() && it->second == m.signature;
}

}  // namespace

std::string schema_name(const std::string& key) {
  bool plain = !key.empty() && !(key[0] >= '0' && key[0] <= '9');
  for (char c : key)
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_');
  if (plain && key != "main" && key != "temp" && key.rfind("sqlite_", 0) != 0) return key;
  char buf[20];
  std::snprintf(buf, sizeof buf, "%016llx",
                static_cast<unsigned long long>(hash_bytes(key.data(), key.size())));
  return std::string("tbl_") + buf;
}

TAttached attach_current(sqlite3* db, const TAlias& alias, const TTableSource& src,
                         const std::string& schema) {
  TAttached a;
  a.key = src.key;
  a.schema = schema;
  a.signature = source_signature(src);
  register_extension_functions(db, src.key);
  const std::string build = build_key(alias, src.key);
  const std::string path = cache_path(alias, src.key);
  const std::string uri = cache_uri(alias, src.key);
  if (attach_if_current(db, uri, schema, build, a.signature)) {
    remember_look(path, a.signature);
    return a;
  }
  if (g_one_look && attach_uri(db, uri, schema)) {
    if (looked_at_already(db, schema, path, build, a.signature)) return a;
    detach(db, schema);
  }

  TUpdateKind kind;
  if (update_on_disk(alias, src, kind)) {
    if (!attach_uri(db, uri, schema)) throw_sqlite(db, "キャッシュ " + path + " を開けません");
    // The cache now describes the table as it was read, which may already
    // be newer than the signature taken above.
    const TMeta meta = read_meta(db, schema);
    if (meta.ok) {
      a.signature = meta.signature;
      remember_look(path, meta.signature);
    }
    return a;
  }
  a.keep_alive = attach_in_memory(db, alias, src, schema, build, a.signature);
  const TMeta meta = read_meta(db, schema);
  if (meta.ok) a.signature = meta.signature;
  return a;
}

TUpdateKind refresh_table(const TAlias& alias, const TTableSource& src, int64_t* records) {
  TUpdateKind kind = TUpdateKind::Current;
  TDb db(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  const std::string build = build_key(alias, src.key);
  const std::string uri = cache_uri(alias, src.key);
  if (!attach_if_current(db.get(), uri, "t", build, source_signature(src))) {
    if (!update_on_disk(alias, src, kind))
      throw EDatabaseError(from_utf8(cache_write_problem(alias, cache_path(alias, src.key))));
    if (!attach_uri(db.get(), uri, "t")) throw_sqlite(db.get(), "キャッシュを開けません");
  }
  if (records) {
    TStmt st(db.get(), "SELECT count(*) FROM t.data");
    st.step();
    *records = sqlite3_column_int64(st.get(), 0);
  }
  return kind;
}

}  // namespace Mirel::Database::detail

namespace Mirel::Database {

void set_one_look_per_process(bool on) {
  detail::g_one_look = on;
  std::lock_guard lock(detail::g_looked_mutex);
  detail::looked_at().clear();
}

}  // namespace Mirel::Database
