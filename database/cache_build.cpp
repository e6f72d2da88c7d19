// Building a table's cache: every live record of the .dbf becomes a row of
// the table "data" (rowid = record index + 1, so rows keep their identity
// across updates), with the typed values of the dBASE reader. The cache also
// keeps a hash of every record so that a later change of a few records can
// be applied in place instead of rebuilding the whole table.
//
// Cache file contents:
//   data        the rows; columns under their .dbf names
//   dbf         a view of data, so that <schema>.dbf also names the table
//   mw_meta     k/v: build (build key), signature, racy, layout, records, memo
//   mw_rowhash  id 1: 8-byte hash per record; id 2: per record, of its memo texts
//   indexes ix_<column> on the columns that the catalogue joins and sorts by

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "database/engine.h"
#include "database/sql_rewrite.h"
#include "dbase/dbf.h"

namespace Mirel::Database::detail {
namespace {

// Format of the cache files; a change forces every cache to be rebuilt.
constexpr const char* kCacheFormat = "mwcache-1";

// A table file whose newest time is this close to the start of its read may
// be changed again in the same clock tick without its time moving: its cache
// is then checked record by record at the next use.
constexpr int64_t kRacyNs = 2'000'000'000;

// Rereads of a table that keeps changing while it is read.
constexpr int kMaxAttempts = 4;

// The pause before reading again a table that could not be read and was
// written a moment ago (see attempt).
constexpr int kBeingWrittenPauseMs = 50;

// Columns used in join conditions, grouping and ordering of the catalogue's
// SQL: any table that has one gets an index on it.
constexpr const char* kIndexedColumns[] = {
    "MS_BOOKID", "MS_UKEIRE", "FK_FUKUID", "SK_SKUBUN", "KK_KKUBUN", "KO_CODE",
    "HI_CODE",   "SY_CODE",   "KA_BOOKID", "YO_BOOKID", "FT_BOOKID"};

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

// The columns of the cache: every field but Visual FoxPro's null flags, a
// duplicated name (a damaged header) made unique.
struct TColumn {
  size_t field;
  std::string name;
  bool memo;
};

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
  return cols;
}

// Everything about the file's structure that the rows depend on; a cache
// whose layout differs cannot be updated in place.
std::string layout_of(const Dbase::TTableReader& reader) {
  std::string s = std::to_string(reader.version()) + "/" + std::to_string(reader.header_length()) +
                  "/" + std::to_string(reader.record_length()) + "/" + reader.codepage();
  for (const auto& f : reader.fields())
    s += "|" + f.name + ":" + f.type + ":" + std::to_string(f.offset) + ":" +
         std::to_string(f.length) + ":" + std::to_string(f.decimals) + ":" +
         std::to_string(f.flags);
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

std::string hashes_blob(const std::vector<uint64_t>& h) {
  std::string out(h.size() * 8, '\0');
  if (!h.empty()) std::memcpy(out.data(), h.data(), out.size());
  return out;
}

std::vector<uint64_t> hashes_from(const void* blob, size_t bytes) {
  std::vector<uint64_t> h(bytes / 8);
  if (!h.empty()) std::memcpy(h.data(), blob, h.size() * 8);
  return h;
}

// Reads one record's values, binding them from parameter 2 on (1 is the
// rowid), and returns the hash of its memo texts (0 without memo fields).
uint64_t bind_record(Dbase::TTableReader& reader, const std::vector<TColumn>& cols,
                     std::string_view record, sqlite3_stmt* st, std::vector<Dbase::TValue>& values) {
  uint64_t memo_hash = 0;
  for (size_t c = 0; c < cols.size(); ++c) {
    reader.value_of(record, cols[c].field, values[c]);
    if (cols[c].memo) memo_hash = hash_bytes(values[c].text.data(), values[c].text.size(), memo_hash + c);
    if (st) bind_value(st, static_cast<int>(c) + 2, values[c]);
  }
  return memo_hash;
}

uint64_t memo_hash_of(Dbase::TTableReader& reader, const std::vector<TColumn>& cols,
                      std::string_view record, std::vector<Dbase::TValue>& values) {
  return bind_record(reader, cols, record, nullptr, values);
}

bool is_deleted_record(std::string_view record) { return !record.empty() && record[0] == '*'; }

void set_meta(TDb& db, const std::string& key, const std::string& value, bool blob = false) {
  TStmt st(db.get(), "INSERT OR REPLACE INTO mw_meta(k, v) VALUES(?1, ?2)");
  sqlite3_bind_text(st.get(), 1, key.data(), static_cast<int>(key.size()), SQLITE_STATIC);
  if (blob)
    sqlite3_bind_blob(st.get(), 2, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
  else
    sqlite3_bind_text(st.get(), 2, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
  st.step();
}

void set_hashes(TDb& db, int id, const std::vector<uint64_t>& h) {
  const std::string blob = hashes_blob(h);
  TStmt st(db.get(), "INSERT OR REPLACE INTO mw_rowhash(id, h) VALUES(?1, ?2)");
  sqlite3_bind_int(st.get(), 1, id);
  sqlite3_bind_blob(st.get(), 2, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
  st.step();
}

void write_meta(TDb& db, const TBuildResult& r, const std::string& layout, const std::string& build,
                uint32_t records, const std::string& memo) {
  set_meta(db, "build", build);
  set_meta(db, "signature", r.signature, true);
  set_meta(db, "racy", r.racy ? "1" : "0");
  set_meta(db, "layout", layout);
  set_meta(db, "records", std::to_string(records));
  set_meta(db, "memo", memo, true);
  set_meta(db, "memo_racy", r.memo_racy ? "1" : "0");
}

std::string meta_text(TDb& db, const char* key) {
  TStmt st(db.get(), "SELECT v FROM mw_meta WHERE k = ?1");
  sqlite3_bind_text(st.get(), 1, key, -1, SQLITE_STATIC);
  if (!st.step()) return {};
  const auto* p = static_cast<const char*>(sqlite3_column_blob(st.get(), 0));
  return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(st.get(), 0))) : std::string();
}

std::vector<uint64_t> load_hashes(TDb& db, int id) {
  TStmt st(db.get(), "SELECT h FROM mw_rowhash WHERE id = ?1");
  sqlite3_bind_int(st.get(), 1, id);
  if (!st.step()) return {};
  return hashes_from(sqlite3_column_blob(st.get(), 0),
                     static_cast<size_t>(sqlite3_column_bytes(st.get(), 0)));
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

[[noreturn]] void throw_kept_changing(const TTableSource& src) {
  throw ESourceError(from_utf8("テーブル " + src.dbf_path +
                                 " は読み取り中に更新され続けたため読み込めませんでした"));
}

[[noreturn]] void throw_unreadable(const TTableSource& src, const Exception& e) {
  throw ESourceError(from_utf8("テーブル " + src.dbf_path + " を読み込めません: ") + e.message());
}

// Runs `body` as one attempt at reading the table; a failure of the reader
// while the table changed under it counts as "changed", not as an error.
// So does a failure on a table written within the racy interval: a program
// that writes a table anew truncates it first, and for a moment the file is
// too short to be a table although it stands still. After a short pause the
// caller reads again; on the `last` attempt a table that stands still and
// cannot be read fails with the reader's message.
template <typename Body>
bool attempt(const TTableSource& src, const std::string& sig_before, bool last, Body body) {
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

}  // namespace

TBuildResult build_full(const std::string& uri, const TAlias& alias, const TTableSource& src) {
  const auto extensions = extensions_for(src.key);
  for (int attempt_no = 0; attempt_no < kMaxAttempts; ++attempt_no) {
    const int64_t started = now_ns();
    int64_t mtime_max = 0;
    TBuildResult result;
    result.signature = source_signature(src, &mtime_max);
    result.racy = !signature_is_hashed(result.signature) && mtime_max >= started - kRacyNs;
    int64_t memo_mtime = 0;
    const std::string memo = memo_stamp(src, &memo_mtime);
    result.memo_racy = result.racy && memo_mtime >= started - kRacyNs;

    TDb db;
    try {
      db = TDb(uri, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
      // A fresh file renamed into place only when complete: no journal on
      // disk is needed, but the in-memory one lets a reread start over.
      db.exec("PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; PRAGMA cache_size=-65536;"
              "PRAGMA temp_store=MEMORY; PRAGMA locking_mode=EXCLUSIVE");
      register_extension_functions(db.get(), src.key);
    } catch (const EDatabaseError& e) {
      throw ECacheWrite(e.message());
    }

    std::unique_ptr<Dbase::TTableReader> reader;
    std::vector<TColumn> cols;
    std::string layout;
    std::vector<uint64_t> rec_hashes, memo_hashes;
    auto cache_op = [&](auto op) {
      try {
        op();
      } catch (const EDatabaseError& e) {
        throw ECacheWrite(e.message());
      }
    };
    const bool same = attempt(src, result.signature, attempt_no + 1 == kMaxAttempts, [&] {
      reader = std::make_unique<Dbase::TTableReader>(src.dbf_path,
                                                     Dbase::TReadOptions{alias.codepage});
      cols = columns_of(*reader);
      layout = layout_of(*reader);
      const uint8_t version = reader->version();
      cache_op([&] {
        db.exec("BEGIN");
        std::string ddl = "CREATE TABLE data(";
        for (size_t c = 0; c < cols.size(); ++c)
          ddl += (c ? ", " : "") + quote_identifier(cols[c].name) + " " +
                 column_type(reader->fields()[cols[c].field], version);
        db.exec(ddl + ")");
        db.exec("CREATE TABLE mw_meta(k TEXT PRIMARY KEY, v);"
                "CREATE TABLE mw_rowhash(id INTEGER PRIMARY KEY, h BLOB)");
        for (const auto& e : extensions)
          if (!e.schema_sql.empty()) db.exec(e.schema_sql);
      });
      TStmt insert;
      cache_op([&] {
        insert = TStmt(db.get(), "INSERT INTO data(rowid, " + column_list(cols) + ") VALUES(" +
                                     placeholders(cols.size()) + ")");
      });
      const uint32_t n = reader->record_count();
      const bool has_memo =
          std::any_of(cols.begin(), cols.end(), [](const TColumn& c) { return c.memo; });
      rec_hashes.assign(n, 0);
      memo_hashes.assign(has_memo ? n : 0, 0);
      std::vector<Dbase::TValue> values(cols.size());
      std::string record;
      for (uint32_t i = 0; i < n; ++i) {
        record.assign(reader->record(i));
        rec_hashes[i] = hash_bytes(record.data(), record.size());
        if (is_deleted_record(record)) continue;
        sqlite3_bind_int64(insert.get(), 1, static_cast<sqlite3_int64>(i) + 1);
        const uint64_t mh = bind_record(*reader, cols, record, insert.get(), values);
        if (has_memo) memo_hashes[i] = mh;
        cache_op([&] {
          insert.step();
          insert.reset();
        });
      }
    });
    if (!same) {
      db.close();
      continue;  // the file changed while it was read: a new file, a new attempt
    }
    cache_op([&] {
      for (const auto& e : extensions)
        if (!e.after_build_sql.empty()) db.exec(e.after_build_sql);
      for (const auto& c : cols)
        for (const char* ix : kIndexedColumns)
          if (upper_ascii(c.name) == ix)
            db.exec("CREATE INDEX " + quote_identifier("ix_" + c.name) + " ON data(" +
                    quote_identifier(c.name) + ")");
      db.exec("CREATE VIEW dbf AS SELECT * FROM data");
      set_hashes(db, 1, rec_hashes);
      set_hashes(db, 2, memo_hashes);
      write_meta(db, result, layout, build_key(alias, src.key),
                 static_cast<uint32_t>(rec_hashes.size()), memo);
      db.exec("COMMIT");
      // Statistics let the planner pick the indexes of a ten-table join.
      db.exec("PRAGMA analysis_limit=1000; ANALYZE");
    });
    return result;
  }
  throw_kept_changing(src);
}

bool update_incremental(TDb& db, const TAlias& alias, const TTableSource& src,
                        TBuildResult& result) {
  const std::string old_layout = meta_text(db, "layout");
  const std::string old_memo = meta_text(db, "memo");
  const bool old_memo_racy = meta_text(db, "memo_racy") != "0";
  const std::vector<uint64_t> old_rec = load_hashes(db, 1);
  const std::vector<uint64_t> old_memo_h = load_hashes(db, 2);
  if (old_layout.empty() || std::to_string(old_rec.size()) != meta_text(db, "records"))
    return false;

  for (int attempt_no = 0; attempt_no < kMaxAttempts; ++attempt_no) {
    const int64_t started = now_ns();
    int64_t mtime_max = 0;
    result.signature = source_signature(src, &mtime_max);
    result.racy = !signature_is_hashed(result.signature) && mtime_max >= started - kRacyNs;
    int64_t memo_mtime = 0;
    const std::string memo = memo_stamp(src, &memo_mtime);
    result.memo_racy = result.racy && memo_mtime >= started - kRacyNs;
    // Memo texts can change in place without any record changing: compare
    // them all when a memo file changed or its time was not trustworthy.
    const bool compare_memos = old_memo_racy || memo != old_memo;

    bool too_many = false;
    bool layout_changed = false;
    bool began = false;
    const bool same = attempt(src, result.signature, attempt_no + 1 == kMaxAttempts, [&] {
      Dbase::TTableReader reader(src.dbf_path, Dbase::TReadOptions{alias.codepage});
      if (layout_of(reader) != old_layout) {
        layout_changed = true;
        return;
      }
      const auto cols = columns_of(reader);
      const bool has_memo =
          std::any_of(cols.begin(), cols.end(), [](const TColumn& c) { return c.memo; });
      if (has_memo && old_memo_h.size() != old_rec.size()) {
        layout_changed = true;
        return;
      }
      const uint32_t n = reader.record_count();
      std::vector<uint64_t> rec(n), memo_h(has_memo ? n : 0);
      std::vector<uint32_t> changed;
      std::vector<Dbase::TValue> values(cols.size());
      std::string record;
      for (uint32_t i = 0; i < n; ++i) {
        record.assign(reader.record(i));
        rec[i] = hash_bytes(record.data(), record.size());
        bool differs = i >= old_rec.size() || rec[i] != old_rec[i];
        if (has_memo) {
          if (compare_memos && !is_deleted_record(record)) {
            memo_h[i] = memo_hash_of(reader, cols, record, values);
            differs = differs || i >= old_memo_h.size() || memo_h[i] != old_memo_h[i];
          } else if (!differs) {
            memo_h[i] = old_memo_h[i];
          }
        }
        if (differs) changed.push_back(i);
        if (changed.size() > kMaxIncrementalRows) {
          too_many = true;
          return;
        }
      }

      try {
        db.exec("BEGIN IMMEDIATE");
        began = true;
        register_extension_functions(db.get(), src.key);
        const std::string names = column_list(cols);
        std::string set;
        for (size_t c = 0; c < cols.size(); ++c)
          set += (c ? ", " : "") + quote_identifier(cols[c].name) + " = ?" + std::to_string(c + 2);
        TStmt update(db.get(), "UPDATE data SET " + set + " WHERE rowid = ?1");
        TStmt insert(db.get(), "INSERT INTO data(rowid, " + names + ") VALUES(" +
                                   placeholders(cols.size()) + ")");
        TStmt remove(db.get(), "DELETE FROM data WHERE rowid = ?1");
        for (uint32_t i : changed) {
          record.assign(reader.record(i));
          const sqlite3_int64 rowid = static_cast<sqlite3_int64>(i) + 1;
          if (is_deleted_record(record)) {
            sqlite3_bind_int64(remove.get(), 1, rowid);
            remove.step();
            remove.reset();
            if (has_memo) memo_h[i] = 0;
            continue;
          }
          sqlite3_bind_int64(update.get(), 1, rowid);
          const uint64_t mh = bind_record(reader, cols, record, update.get(), values);
          if (has_memo) memo_h[i] = mh;
          update.step();
          update.reset();
          if (sqlite3_changes(db.get()) == 0) {
            sqlite3_bind_int64(insert.get(), 1, rowid);
            bind_record(reader, cols, record, insert.get(), values);
            insert.step();
            insert.reset();
          }
        }
        if (old_rec.size() > n) {
          TStmt trim(db.get(), "DELETE FROM data WHERE rowid > ?1");
          sqlite3_bind_int64(trim.get(), 1, n);
          trim.step();
        }
        set_hashes(db, 1, rec);
        set_hashes(db, 2, memo_h);
        write_meta(db, result, old_layout, build_key(alias, src.key), n, memo);
      } catch (const EDatabaseError& e) {
        if (began) sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw ECacheWrite(e.message());
      }
    });
    if (layout_changed || too_many) return false;
    if (!same) {
      if (began) sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      continue;
    }
    try {
      db.exec("COMMIT");
    } catch (const EDatabaseError& e) {
      sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      throw ECacheWrite(e.message());
    }
    return true;
  }
  throw_kept_changing(src);
}

std::string build_key(const TAlias& alias, const std::string& key) {
  std::string k = std::string(kCacheFormat) + ";cp=" + alias.codepage + ";ext=";
  for (const auto& e : extensions_for(key))
    k += std::to_string(e.version) + ":" +
         std::to_string(hash_bytes(e.schema_sql.data(), e.schema_sql.size())) + ":" +
         std::to_string(hash_bytes(e.after_build_sql.data(), e.after_build_sql.size())) + ",";
  return k;
}

}  // namespace Mirel::Database::detail
