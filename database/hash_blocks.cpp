// The per-record hashes of a table's cache in blocks (see hash_blocks.h).

#include "database/hash_blocks.h"

#include <cstring>

#include "database/engine.h"

namespace Mirel::Database::detail {
namespace {

sqlite3_int64 block_id(THashKind kind, uint32_t block) {
  return static_cast<sqlite3_int64>(block) * 2 + static_cast<int>(kind);
}

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

const char* const kHashTablesSql =
    "CREATE TABLE mw_rowhash(id INTEGER PRIMARY KEY, h BLOB);"
    "CREATE TABLE mw_blockhash(id INTEGER PRIMARY KEY, h BLOB)";

uint64_t block_digest(const uint64_t* hashes, size_t count) {
  return hash_bytes(hashes, count * 8, 0x626c6f636bull);
}

void store_all_hashes(TDb& db, THashKind kind, const std::vector<uint64_t>& hashes) {
  const uint32_t blocks = hash_block_count(hashes.size());
  std::vector<uint64_t> digests(blocks);
  TStmt insert(db.get(), "INSERT INTO mw_rowhash(id, h) VALUES(?1, ?2)");
  for (uint32_t b = 0; b < blocks; ++b) {
    const uint64_t* first = hashes.data() + size_t{b} * kHashBlock;
    const size_t count = hash_block_size(hashes.size(), b);
    digests[b] = block_digest(first, count);
    sqlite3_bind_int64(insert.get(), 1, block_id(kind, b));
    bind_hashes(insert.get(), 2, first, count);
    insert.step();
    insert.reset();
  }
  THashBlocks(db).write_digests(kind, digests);
}

THashBlocks::THashBlocks(TDb& db)
    : db_(db),
      select_block_(db.get(), "SELECT h FROM mw_rowhash WHERE id = ?1"),
      replace_block_(db.get(), "INSERT OR REPLACE INTO mw_rowhash(id, h) VALUES(?1, ?2)") {}

bool THashBlocks::read_digests(THashKind kind, std::vector<uint64_t>& out) {
  TStmt st(db_.get(), "SELECT h FROM mw_blockhash WHERE id = ?1");
  sqlite3_bind_int(st.get(), 1, static_cast<int>(kind));
  if (!st.step()) return false;
  column_hashes(st.get(), out);
  return true;
}

bool THashBlocks::read(THashKind kind, uint32_t block, std::vector<uint64_t>& out) {
  sqlite3_bind_int64(select_block_.get(), 1, block_id(kind, block));
  const bool found = select_block_.step();
  if (found) column_hashes(select_block_.get(), out);
  select_block_.reset();
  return found;
}

void THashBlocks::write(THashKind kind, uint32_t block, const uint64_t* hashes, size_t count) {
  sqlite3_bind_int64(replace_block_.get(), 1, block_id(kind, block));
  bind_hashes(replace_block_.get(), 2, hashes, count);
  replace_block_.step();
  replace_block_.reset();
}

void THashBlocks::write_digests(THashKind kind, const std::vector<uint64_t>& digests) {
  TStmt st(db_.get(), "INSERT OR REPLACE INTO mw_blockhash(id, h) VALUES(?1, ?2)");
  sqlite3_bind_int(st.get(), 1, static_cast<int>(kind));
  bind_hashes(st.get(), 2, digests.data(), digests.size());
  st.step();
}

void THashBlocks::remove_from(uint32_t first) {
  TStmt st(db_.get(), "DELETE FROM mw_rowhash WHERE id >= ?1");
  sqlite3_bind_int64(st.get(), 1, block_id(THashKind::Record, first));
  st.step();
}

}  // namespace Mirel::Database::detail
