// The per-record hashes of a table's cache in blocks (see hash_blocks.h).

#include "database/hash_blocks.h"

#include <cstring>

#include "database/engine.h"

namespace Mirel::Database::detail {
namespace {

constexpr sqlite3_int64 kDigestsId = -1;

// Binds `count` hashes as a blob (never a null pointer: that would bind
// NULL, not an empty blob).
void bind_hashes(sqlite3_stmt* st, int index, const uint64_t* hashes, size_t count) {
  static const uint64_t kNone = 0;
  sqlite3_bind_blob(st, index, count ? hashes : &kNone, static_cast<int>(count * 8),
                    SQLITE_STATIC);
}

// The hashes of column 0 of the current row of `st`.
void column_hashes(sqlite3_stmt* st, std::vector<uint64_t>& out) {
  const void* p = sqlite3_column_blob(st, 0);
  const size_t bytes = static_cast<size_t>(sqlite3_column_bytes(st, 0));
  out.resize(bytes / 8);
  if (!out.empty()) std::memcpy(out.data(), p, out.size() * 8);
}

}  // namespace

const char* const kHashTableSql = "CREATE TABLE mw_rowhash(id INTEGER PRIMARY KEY, h BLOB)";

uint64_t block_digest(const uint64_t* hashes, size_t count) {
  return hash_bytes(hashes, count * 8, 0x626c6f636bull);
}

void store_all_hashes(TDb& db, const std::vector<uint64_t>& rec,
                      const std::vector<uint64_t>* memo) {
  const uint32_t blocks = hash_block_count(rec.size());
  std::vector<uint64_t> digests(blocks);
  THashBlocks store(db);
  for (uint32_t b = 0; b < blocks; ++b) {
    const size_t first = size_t{b} * kHashBlock;
    const size_t count = hash_block_size(rec.size(), b);
    digests[b] = block_digest(rec.data() + first, count);
    store.write(b, rec.data() + first, memo ? memo->data() + first : nullptr, count);
  }
  store.write_digests(digests);
}

THashBlocks::THashBlocks(TDb& db)
    : db_(db),
      select_block_(db.get(), "SELECT h FROM mw_rowhash WHERE id = ?1"),
      replace_block_(db.get(), "INSERT OR REPLACE INTO mw_rowhash(id, h) VALUES(?1, ?2)") {}

bool THashBlocks::read_digests(std::vector<uint64_t>& out) {
  sqlite3_bind_int64(select_block_.get(), 1, kDigestsId);
  const bool found = select_block_.step();
  if (found) column_hashes(select_block_.get(), out);
  select_block_.reset();
  return found;
}

bool THashBlocks::read(uint32_t block, uint32_t count, bool has_memo, std::vector<uint64_t>& rec,
                       std::vector<uint64_t>& memo) {
  sqlite3_bind_int64(select_block_.get(), 1, block);
  const bool found = select_block_.step();
  if (found) column_hashes(select_block_.get(), row_);
  select_block_.reset();
  if (!found || row_.size() != size_t{count} * (has_memo ? 2 : 1)) return false;
  rec.assign(row_.begin(), row_.begin() + count);
  if (has_memo)
    memo.assign(row_.begin() + count, row_.end());
  else
    memo.clear();
  return true;
}

void THashBlocks::write(uint32_t block, const uint64_t* rec, const uint64_t* memo,
                        size_t count) {
  row_.assign(rec, rec + count);
  if (memo) row_.insert(row_.end(), memo, memo + count);
  sqlite3_bind_int64(replace_block_.get(), 1, block);
  bind_hashes(replace_block_.get(), 2, row_.data(), row_.size());
  replace_block_.step();
  replace_block_.reset();
}

void THashBlocks::write_digests(const std::vector<uint64_t>& digests) {
  sqlite3_bind_int64(replace_block_.get(), 1, kDigestsId);
  bind_hashes(replace_block_.get(), 2, digests.data(), digests.size());
  replace_block_.step();
  replace_block_.reset();
}

void THashBlocks::remove_from(uint32_t first) {
  TStmt st(db_.get(), "DELETE FROM mw_rowhash WHERE id >= ?1");
  sqlite3_bind_int64(st.get(), 1, first);
  st.step();
}

}  // namespace Mirel::Database::detail
