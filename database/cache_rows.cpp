// Records of a .dbf as rows of its cache: columns, values, the hashes that
// tell a changed record, the bookkeeping tables, and the attempt at reading
// a table that may change while it is read (see cache_rows.h).

#include "database/cache_rows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "database/sql_rewrite.h"

namespace Mirel::Database::detail {
namespace {

// The pause before reading again a table that could not be read and was
// written a moment ago (see attempt).
constexpr int kBeingWrittenPauseMs = 50;

bool is_vfp(uint8_t version) { return version == 0x30 || version == 0x31 || version == 0x32; }

bool is_memo_field(const Dbase::TField& f, uint8_t version) {
  return f.type == 'M' || f.type == 'G' || f.type == 'P' || (f.type == 'B' && !is_vfp(version));
}

const char* column_type(const Dbase::TField& f, uint8_t version) {
  switch (f.type) {
    case 'C': case 'V': case 'D': case 'T': case '@': case 'M':
      return "TEXT";
    case 'N':
      return f.decimals == 0 ? "INTEGER" : "REAL";
    case 'F': case 'O': case 'Y':
      return "REAL";
    case 'L': case 'I': case '+':
      return "INTEGER";
    case 'B':
      return is_vfp(version) ? "REAL" : "BLOB";
    default:
      return "BLOB";
  }
}

std::string upper_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return s;
}

void bind_value(sqlite3_stmt* st, int index, const Dbase::TValue& v) {
  using K = Dbase::TValue::Kind;
  switch (v.kind) {
    case K::Null:
      sqlite3_bind_null(st, index);
      break;
    case K::Text:
      sqlite3_bind_text(st, index, v.text.data(), static_cast<int>(v.text.size()), SQLITE_STATIC);
      break;
    case K::Integer:
      sqlite3_bind_int64(st, index, v.integer);
      break;
    case K::Real:
      sqlite3_bind_double(st, index, v.real);
      break;
    case K::Blob:
      sqlite3_bind_blob(st, index, v.text.data(), static_cast<int>(v.text.size()), SQLITE_STATIC);
      break;
  }
}

void set_meta(TDb& db, const std::string& key, const std::string& value, bool blob = false) {
  TStmt st(db.get(), "INSERT OR REPLACE INTO mw_meta(k, v) VALUES(?1, ?2)");
  sqlite3_bind_text(st.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
  if (blob)
    sqlite3_bind_blob(st.get(), 2, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
  else
    sqlite3_bind_text(st.get(), 2, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
  st.step();
}

[[noreturn]] void throw_unreadable(const TTableSource& src, const Exception& e) {
  throw ESourceError(from_utf8("テーブル " + src.dbf_path + " を読み込めません: ") + e.message());
}

}  // namespace

std::vector<TColumn> columns_of(const Dbase::TTableReader& reader) {
  std::vector<TColumn> cols;
  const auto& fields = reader.fields();
  for (size_t f = 0; f < fields.size(); ++f) {
    if (fields[f].type == '0') continue;
    std::string name = fields[f].name.empty() ? "FIELD" + std::to_string(f + 1) : fields[f].name;
    auto taken = [&](const std::string& n) {
      for (const auto& c : cols)
        if (upper_ascii(c.name) == upper_ascii(n)) return true;
      return false;
    };
    for (int k = 2; taken(name); ++k) name = fields[f].name + "_" + std::to_string(k);
    cols.push_back({f, name, is_memo_field(fields[f], reader.version())});
  }
  if (rowid_name(cols).empty()) {
    auto taken = [&](const std::string& n) {
      for (const auto& c : cols)
        if (upper_ascii(c.name) == n) return true;
      return false;
    };
    for (auto& c : cols)
      if (upper_ascii(c.name) == "OID") {
        std::string name = c.name;
        for (int k = 2; taken(name); ++k) name = c.name + "_" + std::to_string(k);
        c.name = name;
      }
  }
  return cols;
}

std::string rowid_name(const std::vector<TColumn>& cols) {
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    bool taken = false;
    for (const auto& c : cols) taken = taken || same_text_ascii_ci(std::string_view(c.name), name);
    if (!taken) return name;
  }
  return {};
}

bool has_memo_column(const std::vector<TColumn>& cols) {
  for (const auto& c : cols)
    if (c.memo) return true;
  return false;
}

std::string column_definitions(const Dbase::TTableReader& reader,
                               const std::vector<TColumn>& cols) {
  std::string s;
  for (size_t c = 0; c < cols.size(); ++c)
    s += (c ? ", " : "") + quote_identifier(cols[c].name) + " " +
         column_type(reader.fields()[cols[c].field], reader.version());
  return s;
}

std::string column_list(const std::vector<TColumn>& cols) {
  std::string s;
  for (size_t c = 0; c < cols.size(); ++c) s += (c ? ", " : "") + quote_identifier(cols[c].name);
  return s;
}

std::string placeholders(size_t n) {
  std::string s = "?1";
  for (size_t i = 2; i <= n + 1; ++i) s += ", ?" + std::to_string(i);
  return s;
}

std::string layout_of(const Dbase::TTableReader& reader) {
  std::string s = std::to_string(reader.version()) + "/" + std::to_string(reader.header_length()) +
                  "/" + std::to_string(reader.record_length()) + "/" + reader.codepage();
  for (const auto& f : reader.fields())
    s += "|" + f.name + ":" + f.type + ":" + std::to_string(f.offset) + ":" +
         std::to_string(f.length) + ":" + std::to_string(f.decimals) + ":" +
         std::to_string(f.flags);
  return s;
}

bool is_deleted_record(std::string_view record) { return !record.empty() && record[0] == '*'; }

void read_values(Dbase::TTableReader& reader, const std::vector<TColumn>& cols,
                 std::string_view record, std::vector<Dbase::TValue>& values) {
  for (size_t c = 0; c < cols.size(); ++c) reader.value_of(record, cols[c].field, values[c]);
}

void bind_values(sqlite3_stmt* st, int first, const std::vector<Dbase::TValue>& values) {
  for (size_t c = 0; c < values.size(); ++c) bind_value(st, first + static_cast<int>(c), values[c]);
}

uint64_t record_hash(std::string_view record) { return hash_bytes(record.data(), record.size()); }

TMemoHasher::TMemoHasher(const std::vector<TColumn>& cols) {
  for (size_t c = 0; c < cols.size(); ++c)
    if (cols[c].memo) memos_.push_back({c, cols[c].field});
}

uint64_t TMemoHasher::operator()(Dbase::TTableReader& reader, std::string_view record) {
  uint64_t h = 0;
  for (const TMemo& m : memos_) {
    settled_ = reader.memo_of(record, m.field, buffer_) && settled_;
    h = hash_bytes(buffer_.data(), buffer_.size(), h + m.column);
  }
  return h;
}

std::string TMemoContent::text() const {
  return std::to_string(size) + ":" + std::to_string(hash) + ":" + (settled ? "1" : "0");
}

TMemoContent TMemoContent::parse(const std::string& text) {
  TMemoContent c;
  unsigned long long size = 0, hash = 0;
  int settled = 0, used = 0;
  if (std::sscanf(text.c_str(), "%llu:%llu:%d%n", &size, &hash, &settled, &used) == 3 &&
      static_cast<size_t>(used) == text.size()) {
    c.size = size;
    c.hash = hash;
    c.settled = settled == 1;
  }
  return c;
}

TMemoFileHash hash_memo_file(const std::string& path, uint64_t prefix_size) {
  // Chunks aligned on the end of the header, each hash seeding the next;
  // the last one (of the file or of the prefix) may be short.
  constexpr uint64_t kHeader = 512;
  constexpr size_t kChunk = 256 * 1024;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    throw Dbase::EDbaseError(from_utf8("メモファイル " + path + " を読み込めません"));
  }
  TMemoFileHash out;
  out.size = static_cast<uint64_t>(st.st_size);
  out.prefix_valid = out.size >= prefix_size;
  std::vector<char> chunk(kChunk);
  uint64_t h = 0;
  uint64_t pos = kHeader;
  bool short_read = false;
  while (pos < out.size) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, out.size - pos));
    size_t got = 0;
    while (got < want) {
      const ssize_t r = ::pread(fd, chunk.data() + got, want - got, static_cast<off_t>(pos + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) break;
      got += static_cast<size_t>(r);
    }
    if (got < want) {
      short_read = true;
      break;
    }
    if (prefix_size > pos && prefix_size <= pos + want)
      out.prefix = hash_bytes(chunk.data(), static_cast<size_t>(prefix_size - pos), h);
    h = hash_bytes(chunk.data(), want, h);
    pos += want;
  }
  ::close(fd);
  // The file shrank while it was read: the caller's signature check sees it.
  if (short_read)
    throw Dbase::EDbaseError(from_utf8("メモファイル " + path + " が読み込み中に短くなりました"));
  out.whole = h;
  if (prefix_size <= kHeader) out.prefix = 0;
  return out;
}

std::string meta_text(TDb& db, const char* key) {
  TStmt st(db.get(), "SELECT v FROM mw_meta WHERE k = ?1");
  sqlite3_bind_text(st.get(), 1, key, -1, SQLITE_STATIC);
  if (!st.step()) return {};
  const auto* p = static_cast<const char*>(sqlite3_column_blob(st.get(), 0));
  return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st.get(), 0))) : std::string();
}

void write_meta(TDb& db, const TBuildResult& result, const std::string& layout,
                const std::string& build, uint32_t records, const std::string& memo,
                const TMemoContent& memo_content) {
  set_meta(db, "build", build);
  set_meta(db, "signature", result.signature, true);
  set_meta(db, "racy", result.racy ? "1" : "0");
  set_meta(db, "layout", layout);
  set_meta(db, "records", std::to_string(records));
  set_meta(db, "memo", memo, true);
  set_meta(db, "memo_racy", result.memo_racy ? "1" : "0");
  set_meta(db, "memo_content", memo_content.text());
}

bool attempt(const TTableSource& src, const std::string& sig_before, bool last,
             const std::function<void()>& body) {
  try {
    body();
  } catch (const ECacheWrite&) {
    throw;
  } catch (const Dbase::EDbaseError& e) {
    int64_t mtime_max = 0;
    const std::string sig_after = source_signature(src, &mtime_max);
    if (!same_signature(sig_before, sig_after)) return false;
    if (last || now_ns() - mtime_max >= kRacyNs) throw_unreadable(src, e);
    std::this_thread::sleep_for(std::chrono::milliseconds(kBeingWrittenPauseMs));
    return false;
  }
  return same_signature(sig_before, source_signature(src));
}

[[noreturn]] void throw_kept_changing(const TTableSource& src) {
  throw ESourceError(from_utf8("テーブル " + src.dbf_path +
                                 " は読み取り中に更新され続けたため読み込めませんでした"));
}

}  // namespace Mirel::Database::detail
