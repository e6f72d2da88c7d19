// Building a table's cache in full: every live record of the .dbf becomes a
// row of the table "data" (rowid = record index + 1, so rows keep their
// identity across updates), with the typed values of the dBASE reader. The
// cache also keeps a hash of every record and of its memos so that a later
// change of a few records can be applied in place (cache_update.cpp)
// instead of rebuilding the whole table. The contents of a cache file are
// listed in cache_rows.h.

#include <utility>

#include "database/cache_rows.h"
#include "database/hash_blocks.h"
#include "database/sql_rewrite.h"

namespace Mirel::Database::detail {
namespace {

// Format of the cache files; a change forces every cache to be rebuilt.
// 2: memo hashes of the raw memo bytes. 3: column names decoded with the
// table's code page, fields named like the row id kept, unterminated memos
// cut, the .cpg file in the signature. 4: the record hashes in blocks.
constexpr const char* kCacheFormat = "mwcache-4";

// Columns used in join conditions, grouping and ordering of the catalogue's
// SQL: any table that has one gets an index on it.
constexpr const char* kIndexedColumns[] = {
    "MS_BOOKID", "MS_UKEIRE", "FK_FUKUID", "SK_SKUBUN", "KK_KKUBUN", "KO_CODE",
    "HI_CODE",   "SY_CODE",   "KA_BOOKID", "YO_BOOKID", "FT_BOOKID"};

bool same_name_ascii_ci(const std::string& a, const char* b) {
  return same_text_ascii_ci(std::string_view(a), std::string_view(b));
}

thread_local TBuildProgress t_progress;

// Reports the percentage of a build when it has moved on since the last
// report. Reading the rows is the first kRowsShare percent, the statements
// run after them the rest, each by a rough weight of its work.
class TProgress {
 public:
  static constexpr int kRowsShare = 20;

  void rows(uint64_t done, uint64_t total) {
    if (total > 0) report(static_cast<int>(done * kRowsShare / total));
  }
  void statements(double done, double total) {
    report(kRowsShare + static_cast<int>(done * (99 - kRowsShare) / (total > 0 ? total : 1)));
  }
  void finished() { report(100); }

 private:
  void report(int percent) {
    if (!t_progress || percent <= last_) return;
    last_ = percent;
    t_progress(percent);
  }
  int last_ = -1;
};

// Splits SQL text into its statements (each complete, with its ';').
std::vector<std::string> statements_of(const std::string& sql) {
  std::vector<std::string> out;
  std::string pending;
  size_t from = 0;
  while (from < sql.size()) {
    size_t end = sql.find(';', from);
    end = end == std::string::npos ? sql.size() : end + 1;
    pending.append(sql, from, end - from);
    from = end;
    if (sqlite3_complete(pending.c_str())) {
      if (pending.find_first_not_of(" \t\r\n;") != std::string::npos) out.push_back(pending);
      pending.clear();
    }
  }
  if (pending.find_first_not_of(" \t\r\n;") != std::string::npos) out.push_back(pending);
  return out;
}

// How much work a statement run after the rows is, roughly: reading every
// row into a full-text index outweighs an index, or a function that reads
// the rows (a bare SELECT), which outweigh the bookkeeping.
double weight_of(const std::string& statement) {
  const size_t start = statement.find_first_not_of(" \t\r\n");
  if (statement.find(" FROM data") != std::string::npos) return 10;
  if (statement.find("CREATE INDEX") != std::string::npos) return 2;
  if (start != std::string::npos && statement.compare(start, 7, "SELECT ") == 0) return 2;
  return 0.2;
}

// Whether an index of "data" begins with `column` (an extension may have
// made one under the name its own SQL asks for): it serves the look-ups and
// ranges on the column as well as an index of the column alone.
bool column_indexed(TDb& db, const std::string& column) {
  TStmt st(db.get(),
           "SELECT 1 FROM pragma_index_list('data') AS l, pragma_index_info(l.name) AS i "
           "WHERE l.partial = 0 AND i.seqno = 0 AND i.name = ?1");
  sqlite3_bind_text(st.get(), 1, column.c_str(), -1, SQLITE_TRANSIENT);
  return st.step();
}

}  // namespace

TBuildProgressScope::TBuildProgressScope(TBuildProgress progress)
    : previous_(std::exchange(t_progress, std::move(progress))) {}

TBuildProgressScope::~TBuildProgressScope() { t_progress = std::move(previous_); }

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
    TProgress progress;
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
        db.exec("CREATE TABLE mw_meta(k TEXT PRIMARY KEY, v)");
        db.exec(kHashTableSql);
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
      progress = TProgress();
      const bool has_memo = has_memo_column(cols);
      rec_hashes.assign(n, 0);
      memo_hashes.assign(has_memo ? n : 0, 0);
      std::vector<Dbase::TValue> values(cols.size());
      TMemoHasher memo_hash(cols);
      for (uint32_t i = 0; i < n; ++i) {
        // Valid until the next record(): reading memos does not disturb it.
        const std::string_view record = reader->record(i);
        rec_hashes[i] = record_hash(record);
        if ((i & 4095) == 0) progress.rows(i, n);
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
      std::vector<std::string> after;
      for (const auto& e : extensions)
        for (std::string& statement : statements_of(e.after_build_sql))
          after.push_back(std::move(statement));
      std::vector<std::string> indexed;
      for (const auto& c : cols)
        for (const char* ix : kIndexedColumns)
          if (same_name_ascii_ci(c.name, ix)) indexed.push_back(c.name);
      const double index_weight = weight_of("CREATE INDEX");
      double total = index_weight * static_cast<double>(indexed.size()), done = 0;
      for (const std::string& statement : after) total += weight_of(statement);
      for (const std::string& statement : after) {
        db.exec(statement);
        done += weight_of(statement);
        progress.statements(done, total);
      }
      // The page cache gives its room to the sorter of each index below:
      // both are sized by cache_size, and the build's pages are written.
      db.exec("PRAGMA cache_size=-16384");
      // A second index on a column that an extension's index begins with
      // would be dead weight.
      for (const std::string& column : indexed) {
        if (!column_indexed(db, column))
          db.exec("CREATE INDEX " + quote_identifier("ix_" + column) + " ON data(" +
                  quote_identifier(column) + ")");
        done += index_weight;
        progress.statements(done, total);
      }
      db.exec("CREATE VIEW dbf AS SELECT * FROM data");
      store_all_hashes(db, rec_hashes, has_memo_column(cols) ? &memo_hashes : nullptr);
      write_meta(db, result, layout, build_key(alias, src.key),
                 static_cast<uint32_t>(rec_hashes.size()), memo, memo_content);
      db.exec("COMMIT");
      // Statistics let the planner pick the indexes of a ten-table join.
      db.exec("PRAGMA analysis_limit=1000; ANALYZE");
    });
    progress.finished();
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
