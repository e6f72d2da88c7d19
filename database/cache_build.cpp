// Building a table's cache in full: every live record of the .dbf becomes a
// row of the table "data" (rowid = record index + 1, so rows keep their
// identity across updates), with the typed values of the dBASE reader. The
// cache also keeps a hash of every record and of its memos so that a later
// change of a few records can be applied in place (cache_update.cpp)
// instead of rebuilding the whole table. The contents of a cache file are
// listed in cache_rows.h.

#include "database/cache_rows.h"
#include "database/sql_rewrite.h"

namespace Mirel::Database::detail {
namespace {

// Format of the cache files; a change forces every cache to be rebuilt.
// 2: memo hashes of the raw memo bytes. 3: column names decoded with the
// table's code page, fields named like the row id kept, unterminated memos
// cut, the .cpg file in the signature.
constexpr const char* kCacheFormat = "mwcache-3";

// Columns used in join conditions, grouping and ordering of the catalogue's
// SQL: any table that has one gets an index on it.
constexpr const char* kIndexedColumns[] = {
    "MS_BOOKID", "MS_UKEIRE", "FK_FUKUID", "SK_SKUBUN", "KK_KKUBUN", "KO_CODE",
    "HI_CODE",   "SY_CODE",   "KA_BOOKID", "YO_BOOKID", "FT_BOOKID"};

bool same_name_ascii_ci(const std::string& a, const char* b) {
  return same_text_ascii_ci(std::string_view(a), std::string_view(b));
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
    TMemoContent memo_content;
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
      cache_op([&] {
        db.exec("BEGIN");
        db.exec("CREATE TABLE data(" + column_definitions(*reader, cols) + ")");
        db.exec("CREATE TABLE mw_meta(k TEXT PRIMARY KEY, v);"
                "CREATE TABLE mw_rowhash(id INTEGER PRIMARY KEY, h BLOB)");
        for (const auto& e : extensions)
          if (!e.schema_sql.empty()) db.exec(e.schema_sql);
      });
      TStmt insert;
      cache_op([&] {
        insert = TStmt(db.get(), "INSERT INTO data(" + rowid_name(cols) + ", " +
                                     column_list(cols) + ") VALUES(" +
                                     placeholders(cols.size()) + ")");
      });
      const uint32_t n = reader->record_count();
      const bool has_memo = has_memo_column(cols);
      rec_hashes.assign(n, 0);
      memo_hashes.assign(has_memo ? n : 0, 0);
      std::vector<Dbase::TValue> values(cols.size());
      TMemoHasher memo_hash(cols);
      for (uint32_t i = 0; i < n; ++i) {
        // Valid until the next record(): reading memos does not disturb it.
        const std::string_view record = reader->record(i);
        rec_hashes[i] = record_hash(record);
        if (is_deleted_record(record)) continue;
        if (has_memo) memo_hashes[i] = memo_hash(*reader, record);
        read_values(*reader, cols, record, values);
        sqlite3_bind_int64(insert.get(), 1, static_cast<sqlite3_int64>(i) + 1);
        bind_values(insert.get(), 2, values);
        cache_op([&] {
          insert.step();
          insert.reset();
        });
      }
      if (has_memo && !reader->memo_path().empty()) {
        const TMemoFileHash file = hash_memo_file(reader->memo_path(), 0);
        memo_content = {file.size, file.whole, memo_hash.settled()};
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
          if (same_name_ascii_ci(c.name, ix))
            db.exec("CREATE INDEX " + quote_identifier("ix_" + c.name) + " ON data(" +
                    quote_identifier(c.name) + ")");
      db.exec("CREATE VIEW dbf AS SELECT * FROM data");
      set_hashes(db, 1, rec_hashes);
      set_hashes(db, 2, memo_hashes);
      write_meta(db, result, layout, build_key(alias, src.key),
                 static_cast<uint32_t>(rec_hashes.size()), memo, memo_content);
      db.exec("COMMIT");
      // Statistics let the planner pick the indexes of a ten-table join.
      db.exec("PRAGMA analysis_limit=1000; ANALYZE");
    });
    return result;
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
