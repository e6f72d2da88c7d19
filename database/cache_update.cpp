// Bringing an existing cache up to date in place when its table changed in
// a few records. One pass over the .dbf, read in runs of whole blocks of a
// few hundred kilobytes (each copied into memory that stays in the
// processor's cache while it is hashed), hashes every record's raw bytes;
// the digest of each block of record hashes is compared with the one the
// cache recorded, and only a block that differs is read back from the cache
// to find which of its records changed (hash_blocks.h). Every byte of the
// table is compared so, whatever its time stamps say. When the memo file
// changed in more than its length, the raw bytes of every record's memos
// are compared too (see TMemoContent), block by block. A block of hashes
// that differs is written again as soon as it has been compared, while its
// page is at hand. Only the records that differ are decoded. They are
// applied in the same transaction as three set-wise statements, each in
// ascending rowid order: the rows of records deleted or cut off, the rows
// whose values changed, and the rows of new records; the digests come last.
// The transaction starts before the first block is read back (one lock of
// the file instead of one per statement); a write transaction keeps readers
// out only while it commits.
//
// Cost at a million records of 914 bytes: the pass reads and hashes the
// whole table (about 0.1 s of CPU here, most of it the kernel's copy of the
// bytes; mapping the file instead costs far more in page-table work), and
// each changed record costs about a page of the cache written for its row,
// one for its block of hashes, and what the extension's triggers write.
//
// Why set-wise: an extension keeps its derived data current by row triggers
// on "data" (a full-text index, for one). Such an index buffers what the
// triggers write and writes it out at the end of every statement, so a
// statement per changed record made a segment of the index per record, and
// merging them cost more than all the rest. One statement per kind of change
// writes a few segments however many records changed. Changed rows are
// updated, not deleted and inserted again, so the triggers' own tests of
// which columns changed still hold: a record rewritten with only a new
// location costs such an index nothing. A record whose values all stay the
// same (its memos moved to new blocks with the same texts) is not written,
// and the UPDATE assigns only the columns that changed in some row: SQLite
// rewrites the entries of every index on an assigned column, a page each.

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "database/cache_rows.h"
#include "database/hash_blocks.h"
#include "database/sql_rewrite.h"

namespace Mirel::Database::detail {
namespace {

// Bytes read from the table at a time: whole blocks of records, a few
// hundred kilobytes, so that the kernel copies them into memory that stays
// in the processor's cache while they are hashed.
constexpr size_t kReadBytes = 256 * 1024;

// The heap an update may grow by: the pages it changes stay in the
// engine's page cache until the commit (about 60 MB at 10,000 changed
// records of a million).
constexpr size_t kUpdateHeap = size_t{96} << 20;

// Grows the heap by `bytes` at once and asks the kernel to back that part
// with huge pages where it does so on request. Each page the engine reads
// or changes takes memory of its own from the heap, and a fault for every
// fresh 4 KB of it cost a third of an update of thousands of records; with
// a fault per 2 MB what remains is the kernel clearing the memory. What is
// not used is never touched (no memory is taken for it).
//
// Setting the pad stops the C library from raising its threshold for
// mapping large blocks on its own for the rest of the process; the pad
// goes back to the library's default when the update ends
// (THeapForUpdate).
void grow_heap_in_huge_pages(size_t bytes) {
  constexpr uintptr_t kHuge = uintptr_t{2} << 20;
  // Free memory at the heap's top goes back first, so that a small request
  // makes the heap grow; from now on it grows by `bytes` beyond what a
  // request needs.
  malloc_trim(0);
  mallopt(M_TOP_PAD, static_cast<int>(bytes));
  // A request that free blocks in the heap can serve does not make it
  // grow: larger ones follow, all below the size the C library maps on its
  // own, until one does.
  const auto from = reinterpret_cast<uintptr_t>(sbrk(0));
  void* probes[4] = {};
  size_t n = 0;
  for (size_t size : {4096, 16384, 65536, 120000}) {
    probes[n++] = std::malloc(size);
    if (reinterpret_cast<uintptr_t>(sbrk(0)) != from) break;
  }
  const auto to = reinterpret_cast<uintptr_t>(sbrk(0));
  for (size_t i = 0; i < n; ++i) std::free(probes[i]);
  const uintptr_t first = (from + kHuge - 1) & ~(kHuge - 1), last = to & ~(kHuge - 1);
  if (first < last) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// While it lives, the heap grows as grow_heap_in_huge_pages makes it.
class THeapForUpdate {
 public:
  explicit THeapForUpdate(size_t bytes) { grow_heap_in_huge_pages(bytes); }
  ~THeapForUpdate() { mallopt(M_TOP_PAD, kDefaultTopPad); }
  THeapForUpdate(const THeapForUpdate&) = delete;
  THeapForUpdate& operator=(const THeapForUpdate&) = delete;

 private:
  static constexpr int kDefaultTopPad = 128 * 1024;
};

// What one pass over the table found.
struct TScan {
  std::vector<uint32_t> changed;      // indexes of the records that differ, ascending
  std::string records;                // their raw bytes, one after another
  std::vector<uint64_t> digests;      // of every block of the table now
  bool memo_settled = true;           // every memo read was settled (TMemoHasher)
};

// What the cache recorded of its table's hashes.
struct TOldHashes {
  size_t count = 0;               // records
  std::vector<uint64_t> digests;  // one per block
};

// Hashes every record of `reader`, a block at a time, and collects those
// that differ from what `old` recorded. A block whose digest equals the
// recorded one is left at that; the others are read back from `store`,
// compared record by record and written again with the new hashes at once,
// while their page is at hand (inside the caller's transaction). When
// `compare_memos` (the memo file changed in more than its length) every
// block is, and every record's memos are hashed and compared too;
// otherwise only the memos of records that changed are read. Returns false
// as soon as more than `limit` records differ. Throws EDatabaseError when
// a block recorded is missing or of the wrong size (a damaged cache).
bool scan_table(Dbase::TTableReader& reader, const std::vector<TColumn>& cols,
                const TOldHashes& old, THashBlocks& store, bool compare_memos, size_t limit,
                TScan& out) {
  const uint32_t n = reader.record_count();
  const size_t length = reader.record_length();
  TMemoHasher memo_hash(cols);
  const bool has_memo = memo_hash.any();
  compare_memos = compare_memos && has_memo;
  const uint32_t blocks = hash_block_count(n);
  out.digests.assign(blocks, 0);
  const uint32_t blocks_per_read =
      static_cast<uint32_t>(std::max<size_t>(1, kReadBytes / (kHashBlock * length)));
  std::vector<uint64_t> rec(kHashBlock), memo(kHashBlock), old_rec, old_memo;
  for (uint32_t b0 = 0; b0 < blocks; b0 += blocks_per_read) {
    const uint32_t first0 = b0 * kHashBlock;
    const uint32_t in_read = std::min(n - first0, blocks_per_read * kHashBlock);
    const std::string_view bytes = reader.records(first0, in_read);
    for (uint32_t b = b0; b < blocks && b < b0 + blocks_per_read; ++b) {
      const uint32_t first = b * kHashBlock;
      const uint32_t count = hash_block_size(n, b);
      auto record_at = [&](uint32_t j) {
        return bytes.substr(size_t{first - first0 + j} * length, length);
      };
      for (uint32_t j = 0; j < count; ++j) rec[j] = record_hash(record_at(j));
      const uint64_t digest = block_digest(rec.data(), count);
      out.digests[b] = digest;
      const uint32_t old_count = hash_block_size(old.count, b);
      if (!compare_memos && count == old_count && digest == old.digests[b]) continue;
      // The block differs: which of its records do, against their hashes.
      old_rec.clear();
      old_memo.clear();
      if (old_count > 0 && !store.read(b, old_count, has_memo, old_rec, old_memo))
        throw EDatabaseError(u"キャッシュのレコードハッシュが壊れています");
      bool rewrite = count != old_count || digest != old.digests[b];
      for (uint32_t j = 0; j < count; ++j) {
        const std::string_view record = record_at(j);
        const bool known = j < old_count;  // the record was in the table
        bool differs = !known || rec[j] != old_rec[j];
        if (has_memo) {
          uint64_t m = 0;  // a deleted record's
          if (!is_deleted_record(record) && (differs || compare_memos)) {
            m = memo_hash(reader, record);
            differs = differs || m != old_memo[j];
          }
          memo[j] = differs ? m : old_memo[j];
        }
        if (!differs) continue;
        rewrite = true;
        if (out.changed.size() == limit) return false;
        out.changed.push_back(first + j);
        out.records.append(record);
      }
      // Every memo compared and none changed: the block stays as it is.
      if (rewrite) store.write(b, rec.data(), has_memo ? memo.data() : nullptr, count);
    }
  }
  out.memo_settled = memo_hash.settled();
  return true;
}

// Writes the digests and drops the blocks past the table's end (the blocks
// that differ were written by scan_table).
void store_scan_hashes(THashBlocks& store, const TScan& scan, size_t old_count, uint32_t n) {
  if (hash_block_count(n) < hash_block_count(old_count)) store.remove_from(hash_block_count(n));
  store.write_digests(scan.digests);
}

// Whether column `col` of the current row of `st` holds exactly `v`: the
// same storage class and the same bytes. Whatever else counts as changed;
// at worst a value is rewritten with what it had.
bool same_value(sqlite3_stmt* st, int col, const Dbase::TValue& v) {
  using K = Dbase::TValue::Kind;
  const int type = sqlite3_column_type(st, col);
  switch (v.kind) {
    case K::Null:
      return type == SQLITE_NULL;
    case K::Integer:
      return type == SQLITE_INTEGER && sqlite3_column_int64(st, col) == v.integer;
    case K::Real: {
      const double stored = sqlite3_column_double(st, col);
      return type == SQLITE_FLOAT && std::memcmp(&stored, &v.real, sizeof stored) == 0;
    }
    case K::Text:
    case K::Blob: {
      if (type != (v.kind == K::Text ? SQLITE_TEXT : SQLITE_BLOB)) return false;
      const void* p = v.kind == K::Text ? static_cast<const void*>(sqlite3_column_text(st, col))
                                        : sqlite3_column_blob(st, col);
      const size_t size = static_cast<size_t>(sqlite3_column_bytes(st, col));
      return size == v.text.size() && (size == 0 || std::memcmp(p, v.text.data(), size) == 0);
    }
  }
  return false;
}

// How many rows each temporary table of stage_changes received.
struct TStaged {
  size_t gone = 0, changed = 0, added = 0;
  // The columns whose value changed in any row of temp.mw_changed.
  std::vector<bool> columns;
};

// Sorts the records of `scan` into three temporary tables by what they do
// to "data": temp.mw_gone (rowids of records deleted, and of the rows past
// the table's `n` records, of the cache's `old_count`), temp.mw_changed
// (new values of rows that exist) and temp.mw_added (rows that do not).
// A record whose values equal its row's goes nowhere.
TStaged stage_changes(TDb& db, Dbase::TTableReader& reader, const std::vector<TColumn>& cols,
                      const TScan& scan, uint32_t n, size_t old_count) {
  const std::string names = column_list(cols);
  const std::string defs = column_definitions(reader, cols);
  // The columns keep their types, so that values are stored exactly as in
  // "data" and copied from there unchanged.
  db.exec("DROP TABLE IF EXISTS temp.mw_gone; DROP TABLE IF EXISTS temp.mw_changed;"
          "DROP TABLE IF EXISTS temp.mw_added;"
          "CREATE TEMP TABLE mw_gone(id INTEGER PRIMARY KEY);"
          "CREATE TEMP TABLE mw_changed(" + defs + ");"
          "CREATE TEMP TABLE mw_added(" + defs + ")");
  const std::string rid = rowid_name(cols);
  TStmt old_row(db.get(), "SELECT " + names + " FROM main.data WHERE " + rid + " = ?1");
  TStmt gone(db.get(), "INSERT INTO temp.mw_gone(id) VALUES(?1)");
  const std::string values_sql =
      "(" + rid + ", " + names + ") VALUES(" + placeholders(cols.size()) + ")";
  TStmt changed(db.get(), "INSERT INTO temp.mw_changed" + values_sql);
  TStmt added(db.get(), "INSERT INTO temp.mw_added" + values_sql);

  TStaged staged;
  staged.columns.assign(cols.size(), false);
  auto mark_gone = [&](sqlite3_int64 rowid) {
    sqlite3_bind_int64(gone.get(), 1, rowid);
    gone.step();
    gone.reset();
    ++staged.gone;
  };
  std::vector<Dbase::TValue> values(cols.size());
  const size_t length = reader.record_length();
  for (size_t k = 0; k < scan.changed.size(); ++k) {
    const std::string_view record = std::string_view(scan.records).substr(k * length, length);
    const sqlite3_int64 rowid = static_cast<sqlite3_int64>(scan.changed[k]) + 1;
    if (is_deleted_record(record)) {
      mark_gone(rowid);  // a record deleted before as well has no row: nothing happens
      continue;
    }
    read_values(reader, cols, record, values);
    sqlite3_bind_int64(old_row.get(), 1, rowid);
    const bool exists = old_row.step();
    bool same = exists;
    if (exists)
      for (size_t c = 0; c < cols.size(); ++c)
        if (!same_value(old_row.get(), static_cast<int>(c), values[c])) {
          same = false;
          staged.columns[c] = true;
        }
    old_row.reset();
    if (same) continue;
    TStmt& target = exists ? changed : added;
    sqlite3_bind_int64(target.get(), 1, rowid);
    bind_values(target.get(), 2, values);
    target.step();
    target.reset();
    ++(exists ? staged.changed : staged.added);
  }
  for (size_t i = n; i < old_count; ++i) mark_gone(static_cast<sqlite3_int64>(i) + 1);
  return staged;
}

// Applies the staged rows to "data" with one statement per kind of change,
// each in ascending rowid order, inside the caller's transaction.
void apply_staged(TDb& db, const std::vector<TColumn>& cols, const TStaged& staged) {
  const std::string names = column_list(cols);
  const std::string rid = rowid_name(cols);
  if (staged.gone)
    db.exec("DELETE FROM main.data WHERE " + rid + " IN (SELECT id FROM temp.mw_gone)");
  if (staged.changed) {
    // A row-value assignment from the staged row: the loop runs over the
    // staged rowids, one lookup each, whatever the planner thinks of the
    // size of a temporary table without statistics. Only the columns that
    // changed in some row are assigned: an index of "data" on a column not
    // assigned is left alone, where every assigned one is rewritten for
    // every row (a page of the index for each).
    std::string set, from;
    for (size_t c = 0; c < cols.size(); ++c) {
      if (!staged.columns[c]) continue;
      set += (set.empty() ? "" : ", ") + quote_identifier(cols[c].name);
      from += (from.empty() ? "s." : ", s.") + quote_identifier(cols[c].name);
    }
    db.exec("UPDATE main.data SET (" + set + ") = (SELECT " + from +
            " FROM temp.mw_changed AS s WHERE s." + rid + " = main.data." + rid + ")"
            " WHERE " + rid + " IN (SELECT " + rid + " FROM temp.mw_changed)");
  }
  if (staged.added)
    db.exec("INSERT INTO main.data(" + rid + ", " + names + ") SELECT " + rid + ", " + names +
            " FROM temp.mw_added ORDER BY " + rid);
  db.exec("DROP TABLE temp.mw_gone; DROP TABLE temp.mw_changed; DROP TABLE temp.mw_added");
}

}  // namespace

bool update_incremental(TDb& db, const TAlias& alias, const TTableSource& src,
                        TBuildResult& result) {
  const std::string old_layout = meta_text(db, "layout");
  const std::string old_memo = meta_text(db, "memo");
  const bool old_memo_racy = meta_text(db, "memo_racy") != "0";
  const TMemoContent old_content = TMemoContent::parse(meta_text(db, "memo_content"));
  TOldHashes old;
  old.count = static_cast<size_t>(std::strtoull(meta_text(db, "records").c_str(), nullptr, 10));
  THashBlocks store(db);
  if (old_layout.empty() || !store.read_digests(old.digests) ||
      old.digests.size() != hash_block_count(old.count))
    return false;
  try {
    // The staged rows stay in memory: a few megabytes at most.
    db.exec("PRAGMA temp_store=MEMORY");
    // Every page the update changes stays in memory until the commit (the
    // connection's spill threshold); the pages it only reads need room
    // beside them, or once the changed ones fill the cache each read
    // evicts the last and every descent of a tree reads its upper pages
    // from the file again.
    db.exec("PRAGMA cache_size=34816");
  } catch (const EDatabaseError& e) {
    throw ECacheWrite(e.message());
  }
  const THeapForUpdate heap(kUpdateHeap);

  for (int attempt_no = 0; attempt_no < kMaxAttempts; ++attempt_no) {
    const int64_t started = now_ns();
    int64_t mtime_max = 0;
    result.signature = source_signature(src, &mtime_max);
    result.racy = !signature_is_hashed(result.signature) && mtime_max >= started - kRacyNs;
    int64_t memo_mtime = 0;
    const std::string memo = memo_stamp(src, &memo_mtime);
    result.memo_racy = result.racy && memo_mtime >= started - kRacyNs;
    const bool memo_changed = old_memo_racy || memo != old_memo;

    bool too_many = false;
    bool layout_changed = false;
    bool began = false;
    TMemoContent content = old_content;
    const bool same = attempt(src, result.signature, attempt_no + 1 == kMaxAttempts, [&] {
      Dbase::TTableReader reader(src.dbf_path, Dbase::TReadOptions{alias.codepage});
      if (layout_of(reader) != old_layout) {
        layout_changed = true;
        return;
      }
      const auto cols = columns_of(reader);
      const bool has_memo = has_memo_column(cols);
      // Memo texts can change in their own blocks without any record
      // changing: when the memo file changed (or its time was not to be
      // trusted) every memo is compared, unless the file only grew.
      const bool memo_file = !reader.memo_path().empty();
      bool compare_memos = false;
      if (has_memo && memo_changed) {
        content = TMemoContent();
        if (memo_file) {
          const TMemoFileHash file = hash_memo_file(reader.memo_path(), old_content.size);
          const bool grew =
              old_content.settled && file.prefix_valid && file.prefix == old_content.hash;
          content = {file.size, file.whole, grew};
        }
        compare_memos = !content.settled;
      }
      const uint32_t n = reader.record_count();
      // Records cut off the end count as changed.
      const size_t cut = old.count > n ? old.count - n : 0;
      if (cut > kMaxIncrementalRows) {
        too_many = true;
        return;
      }
      // One transaction from the first block of hashes read: a statement
      // outside one takes and drops a lock of the file and looks for a hot
      // journal each time. Readers are kept out only by the commit.
      try {
        db.exec("BEGIN IMMEDIATE");
        began = true;
      } catch (const EDatabaseError& e) {
        throw ECacheWrite(e.message());
      }
      TScan scan;
      if (!scan_table(reader, cols, old, store, compare_memos, kMaxIncrementalRows - cut, scan)) {
        too_many = true;
        return;
      }
      // Settled: every memo read now was, and so were the others. Without
      // a memo file nothing is recorded: one that appears must be read.
      content.settled = memo_file && (compare_memos || content.settled) && scan.memo_settled;
      try {
        prepare_extension_updates(db, src.key);
        apply_staged(db, cols, stage_changes(db, reader, cols, scan, n, old.count));
        finish_extension_updates(db, src.key);
        store_scan_hashes(store, scan, old.count, n);
        write_meta(db, result, old_layout, build_key(alias, src.key), n, memo, content);
      } catch (const EDatabaseError& e) {
        if (began) sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw ECacheWrite(e.message());
      }
    });
    if (layout_changed || too_many) {
      if (began) sqlite3_exec(db.get(), "ROLLBACK", nullptr, nullptr, nullptr);
      return false;
    }
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

}  // namespace Mirel::Database::detail
