// Finding a table's files without regard to letter case, and the signature
// of their state that decides whether a cache is current. The signature is
// taken on every use of a table, so it costs a few system calls: a stat and
// a 32-byte read per file, and for small tables a read of the whole file.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "database/engine.h"
#include "platform/unicode_string.h"

namespace Mirel::Database::detail {
namespace {

// Tables up to this size (the .dbf and its memo together) are hashed whole
// on every check: loans and reservations change all day, and a rewrite in
// place within one clock tick would leave size and time unchanged.
constexpr uint64_t kHashWholeLimit = 512 * 1024;

// A listing older than this after the directory's last change is trusted;
// a younger one may miss an entry made in the same clock tick.
constexpr int64_t kListingSettleNs = 2'000'000'000;

int64_t mtime_of(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

// Directory listings by directory, lower-case name -> name on disk; kept for
// the process and taken again when the directory changed. A CGI process
// reads the tables' directory once; every lookup after that costs one stat.
struct TListing {
  int64_t dir_mtime = 0;
  int64_t taken_ns = 0;
  std::map<std::string, std::string> names;
};
std::mutex g_listing_mutex;

// Calls `use` with the listing of `dir` (empty when it cannot be read);
// `fresh` reads the directory again whatever its time says.
template <typename F>
void with_listing(const std::string& dir, bool fresh, F use) {
  static std::map<std::string, TListing> listings;
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0) return use(std::map<std::string, std::string>());
  std::lock_guard lock(g_listing_mutex);
  TListing& l = listings[dir];
  const int64_t mt = mtime_of(st);
  if (!fresh && l.taken_ns != 0 && l.dir_mtime == mt && l.taken_ns - mt > kListingSettleNs)
    return use(l.names);
  l.names.clear();
  l.dir_mtime = mt;
  l.taken_ns = now_ns();
  if (DIR* d = ::opendir(dir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      if (e->d_type != DT_REG && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
      std::string name = e->d_name;
      // Of two names differing only in letter case the first one listed wins.
      l.names.emplace(to_lower_ascii(name), name);
    }
    ::closedir(d);
  }
  use(l.names);
}

void put_u64(std::string& out, uint64_t v) {
  char b[8];
  std::memcpy(b, &v, 8);
  out.append(b, 8);
}

// One file of a table, opened once for its stamp (and contents).
struct TOpenFile {
  int fd = -1;
  struct stat st {};
  explicit TOpenFile(const std::string& path) {
    if (path.empty()) return;
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && ::fstat(fd, &st) != 0) {
      ::close(fd);
      fd = -1;
    }
  }
  ~TOpenFile() {
    if (fd >= 0) ::close(fd);
  }
  TOpenFile(const TOpenFile&) = delete;
  TOpenFile& operator=(const TOpenFile&) = delete;
};

// Appends the stamp of one file: size, time, inode, device and its first
// 32 bytes; `hash` (when not null) is fed its whole contents. A file that
// is not there appends a marker only.
void stamp_file(std::string& out, const std::string& path, const TOpenFile& f,
                int64_t* mtime_max, uint64_t* hash, bool& hashed) {
  if (path.empty()) {
    out += '-';
    return;
  }
  if (f.fd < 0) {
    out += '?';
    return;
  }
  out += 'F';
  put_u64(out, static_cast<uint64_t>(f.st.st_size));
  put_u64(out, static_cast<uint64_t>(mtime_of(f.st)));
  put_u64(out, static_cast<uint64_t>(f.st.st_ino));
  put_u64(out, static_cast<uint64_t>(f.st.st_dev));
  // Who may read the table decides who may read its cache: a chmod or chgrp
  // makes the cache out of date, and its update gives it the new mode.
  put_u64(out, static_cast<uint64_t>(f.st.st_mode & 07777) << 32 | f.st.st_gid);
  if (mtime_max) *mtime_max = std::max(*mtime_max, mtime_of(f.st));
  if (!hash) {
    char head[32] = {};
    const ssize_t n = ::pread(f.fd, head, sizeof head, 0);
    out.append(head, n > 0 ? static_cast<size_t>(n) : 0);
    return;
  }
  // Read through a small buffer: every fresh page a process touches costs
  // a page fault, and this runs on every request.
  const uint64_t size = static_cast<uint64_t>(f.st.st_size);
  TByteHasher hasher(size, *hash);
  char buffer[16 * 1024];
  uint64_t got = 0;
  while (got < size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, size - got));
    const ssize_t r = ::pread(f.fd, buffer, want, static_cast<off_t>(got));
    if (r <= 0) break;
    if (got < 32) out.append(buffer, std::min<size_t>(static_cast<size_t>(r), 32 - got));
    hasher.update(buffer, static_cast<size_t>(r));
    got += static_cast<uint64_t>(r);
  }
  *hash = hasher.finish();
  hashed = hashed && got == size;
}

}  // namespace

int64_t now_ns() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

bool locate_table(const std::string& dir, const std::string& key, TTableSource& out) {
  std::string names[4];  // .dbf, .dbt, .fpt, .cpg as spelled on disk
  auto look = [&](const std::map<std::string, std::string>& listing) {
    const char* exts[4] = {".dbf", ".dbt", ".fpt", ".cpg"};
    for (int i = 0; i < 4; ++i) {
      const auto it = listing.find(key + exts[i]);
      names[i] = it == listing.end() ? std::string() : it->second;
    }
  };
  with_listing(dir, false, look);
  // A table made since the listing was taken, within the same tick of the
  // directory's time, is found by reading the directory once more.
  if (names[0].empty()) with_listing(dir, true, look);
  if (names[0].empty()) return false;
  out.key = key;
  out.dbf_path = dir + "/" + names[0];
  for (int i = 0; i < 2; ++i)
    out.memo_paths[i] = names[i + 1].empty() ? std::string() : dir + "/" + names[i + 1];
  out.cpg_path = names[3].empty() ? std::string() : dir + "/" + names[3];
  return true;
}

TTableSource require_table(const TAlias& alias, const std::string& key) {
  TTableSource src;
  if (!locate_table(alias.dir, key, src))
    throw EDatabaseError(from_utf8("テーブル '" + key + ".dbf' がありません (データベース別名 " +
                                   alias.name + ": " + alias.dir + ")"));
  return src;
}

std::vector<std::string> list_tables(const std::string& dir) {
  std::vector<std::string> out;
  with_listing(dir, true, [&](const std::map<std::string, std::string>& names) {
    for (const auto& [lower, name] : names)
      if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dbf") == 0)
        out.push_back(lower.substr(0, lower.size() - 4));
  });
  return out;
}

std::string source_signature(const TTableSource& src, int64_t* mtime_max_ns) {
  const std::string* paths[4] = {&src.dbf_path, &src.memo_paths[0], &src.memo_paths[1],
                                 &src.cpg_path};
  const TOpenFile files[4] = {TOpenFile(*paths[0]), TOpenFile(*paths[1]), TOpenFile(*paths[2]),
                              TOpenFile(*paths[3])};
  uint64_t total = 0;
  for (const auto& f : files)
    if (f.fd >= 0) total += static_cast<uint64_t>(f.st.st_size);
  const bool want_hash = total <= kHashWholeLimit;
  std::string out;
  out.reserve(200);
  out += want_hash ? 'H' : 'S';
  uint64_t hash = 0;
  bool hashed = want_hash;
  int64_t mtime_max = 0;
  for (int i = 0; i < 4; ++i)
    stamp_file(out, *paths[i], files[i], &mtime_max, want_hash ? &hash : nullptr, hashed);
  if (want_hash) {
    // A file that changed size under the read is not hashed whole: mark the
    // signature so that it cannot match anything recorded.
    if (!hashed) out[0] = 'X';
    put_u64(out, hash);
  }
  if (mtime_max_ns) *mtime_max_ns = mtime_max;
  return out;
}

std::string memo_stamp(const TTableSource& src, int64_t* mtime_max_ns) {
  std::string out;
  bool hashed = false;
  int64_t mtime_max = 0;
  for (const auto& memo : src.memo_paths) {
    const TOpenFile f(memo);
    stamp_file(out, memo, f, &mtime_max, nullptr, hashed);
  }
  if (mtime_max_ns) *mtime_max_ns = mtime_max;
  return out;
}

bool signature_is_hashed(const std::string& signature) {
  return !signature.empty() && signature[0] == 'H';
}

unsigned cache_file_mode(const TTableSource& src, unsigned cache_group) {
  bool group = true, others = true;
  for (const std::string* path : {&src.dbf_path, &src.memo_paths[0], &src.memo_paths[1]}) {
    if (path->empty()) continue;
    struct stat st{};
    if (::stat(path->c_str(), &st) != 0) return 0600;
    others = others && (st.st_mode & S_IROTH) != 0;
    group = group && ((st.st_mode & S_IROTH) != 0 ||
                      ((st.st_mode & S_IRGRP) != 0 && st.st_gid == cache_group));
  }
  return 0600u | (group ? 0040u : 0u) | (others ? 0004u : 0u);
}

bool same_signature(const std::string& a, const std::string& b) {
  return a == b && !a.empty() && a[0] != 'X';
}

namespace {

// Multiply-rotate rounds; enough to tell records apart. Four lanes take 32
// bytes at a time, each its own chain, so that the processor works on them
// side by side: every request after a change hashes the whole table.
constexpr uint64_t kMul = 0x9E3779B97F4A7C15ull;
constexpr uint64_t kMul2 = 0xBF58476D1CE4E5B9ull;
constexpr uint64_t kMul3 = 0x94D049BB133111EBull;

inline uint64_t load64(const unsigned char* q) {
  uint64_t w;
  std::memcpy(&w, q, 8);
  return w;
}
inline uint64_t rotl(uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
// A bijection of the word for a given lane state, and of the state for a
// given word: a change of one word always changes its lane.
inline uint64_t round64(uint64_t lane, uint64_t w) { return rotl(lane + w * kMul2, 31) * kMul; }

inline void init_lanes(uint64_t h, uint64_t lanes[4]) {
  lanes[0] = h + kMul;
  lanes[1] = h + kMul2;
  lanes[2] = h ^ kMul3;
  lanes[3] = h - kMul;
}

inline void hash_blocks(uint64_t lanes[4], const unsigned char* p, size_t blocks) {
  uint64_t a = lanes[0], b = lanes[1], c = lanes[2], d = lanes[3];
  for (; blocks > 0; --blocks, p += 32) {
    a = round64(a, load64(p));
    b = round64(b, load64(p + 8));
    c = round64(c, load64(p + 16));
    d = round64(d, load64(p + 24));
  }
  lanes[0] = a, lanes[1] = b, lanes[2] = c, lanes[3] = d;
}

inline uint64_t join_lanes(const uint64_t lanes[4]) {
  return rotl(lanes[0], 1) + rotl(lanes[1], 7) + rotl(lanes[2], 12) + rotl(lanes[3], 18);
}

// The bytes after the last whole block (fewer than 32), then the final mix.
inline uint64_t hash_tail(uint64_t h, const unsigned char* p, size_t size) {
  while (size >= 8) {
    h = rotl(h ^ round64(0, load64(p)), 27) * kMul + kMul3;
    p += 8;
    size -= 8;
  }
  uint64_t tail = 0;
  if (size) std::memcpy(&tail, p, size);
  h = (h ^ round64(0, tail ^ (static_cast<uint64_t>(size) << 56))) * kMul;
  h ^= h >> 32;
  h *= kMul3;
  h ^= h >> 29;
  return h;
}

}  // namespace

uint64_t hash_bytes(const void* data, size_t size, uint64_t seed) {
  const auto* p = static_cast<const unsigned char*>(data);
  uint64_t h = seed ^ (size * kMul);
  if (size >= 32) {
    uint64_t lanes[4];
    init_lanes(h, lanes);
    const size_t blocks = size / 32;
    hash_blocks(lanes, p, blocks);
    h = join_lanes(lanes);
    p += blocks * 32;
    size -= blocks * 32;
  }
  return hash_tail(h, p, size);
}

TByteHasher::TByteHasher(uint64_t total_size, uint64_t seed)
    : total_(total_size), h_(seed ^ (total_size * kMul)) {
  init_lanes(h_, lanes_);
}

void TByteHasher::update(const void* data, size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  const uint64_t block_bytes = total_ / 32 * 32;
  while (size > 0) {
    if (fed_ >= block_bytes) {
      // Past the whole blocks: keep the tail for finish().
      const size_t n = std::min(size, sizeof pending_ - pending_size_);
      std::memcpy(pending_ + pending_size_, p, n);
      pending_size_ += n;
      fed_ += n;
      return;
    }
    if (pending_size_ == 0 && size >= 32) {
      const size_t blocks =
          static_cast<size_t>(std::min<uint64_t>(size / 32, (block_bytes - fed_) / 32));
      hash_blocks(lanes_, p, blocks);
      p += blocks * 32;
      size -= blocks * 32;
      fed_ += blocks * 32;
      continue;
    }
    const size_t n = std::min(size, 32 - pending_size_);
    std::memcpy(pending_ + pending_size_, p, n);
    pending_size_ += n;
    p += n;
    size -= n;
    fed_ += n;
    if (pending_size_ == 32) {
      hash_blocks(lanes_, pending_, 1);
      pending_size_ = 0;
    }
  }
}

uint64_t TByteHasher::finish() const {
  const uint64_t h = total_ >= 32 ? join_lanes(lanes_) : h_;
  return hash_tail(h, pending_, pending_size_);
}

}  // namespace Mirel::Database::detail
