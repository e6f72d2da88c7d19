// The hashes that tell a changed record, kept in a table's cache in blocks
// of kHashBlock records, so that an update reads back and writes again only
// the blocks whose records changed, not one hash per record of the table.
// Internal to database/.
//
//   mw_rowhash  id = block (0, 1, ...): the 8-byte hashes of the raw bytes
//               of the block's records (deletion flag included), in record
//               order, followed in a table with memo fields by those of the
//               raw bytes of each record's memos (0 for a deleted record)
//               id = -1: the digests, one 8-byte block_digest of each
//               block's record hashes
//
// A pass over the table hashes a block's records and compares the digest of
// those hashes with the one recorded. Equal digests mean equal hashes (with
// the certainty of a 64-bit hash, as for the records themselves); only a
// block whose digest differs is read back to find which records changed.
// A block's row fits in a page of the cache beside its neighbours, so that
// reading or writing it touches one page: a few changes spread over a large
// table cost a page each, and the digests a few dozen pages. A build writes
// every block; an update rewrites the blocks it changed and the digests, and
// removes the blocks past a table that got shorter.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "database/sqlite_util.h"

namespace Mirel::Database::detail {

// Records per block: a row of record and memo hashes (16 bytes a record)
// stays within a 4 KB page's limit for a row kept in the page (1002 bytes),
// so that it needs no overflow page.
inline constexpr uint32_t kHashBlock = 60;

// The number of blocks of a table of `records` records.
inline uint32_t hash_block_count(uint64_t records) {
  return static_cast<uint32_t>((records + kHashBlock - 1) / kHashBlock);
}
// The number of records of block `block` of a table of `records` records.
inline uint32_t hash_block_size(uint64_t records, uint32_t block) {
  const uint64_t first = uint64_t{block} * kHashBlock;
  return first >= records ? 0
                          : static_cast<uint32_t>(std::min<uint64_t>(kHashBlock, records - first));
}

// The digest of a block's `count` record hashes.
uint64_t block_digest(const uint64_t* hashes, size_t count);

// The statement that creates the table in a new cache.
extern const char* const kHashTableSql;

// Writes the hashes of every record of the table (a full build, into the
// empty table): every block and the digests. `memo` is null for a table
// without memo fields.
void store_all_hashes(TDb& db, const std::vector<uint64_t>& rec,
                      const std::vector<uint64_t>* memo);

// Reading and writing single blocks and the digests during an update.
class THashBlocks {
 public:
  explicit THashBlocks(TDb& db);

  // The digests; false when the cache recorded none.
  bool read_digests(std::vector<uint64_t>& out);
  // The hashes of block `block`, of `count` records: false when the cache
  // has no such block or one of another size. `memo` is left empty when
  // `has_memo` is false.
  bool read(uint32_t block, uint32_t count, bool has_memo, std::vector<uint64_t>& rec,
            std::vector<uint64_t>& memo);
  // `memo` is null for a table without memo fields.
  void write(uint32_t block, const uint64_t* rec, const uint64_t* memo, size_t count);
  void write_digests(const std::vector<uint64_t>& digests);
  // Removes the blocks from `first` on (the table got shorter).
  void remove_from(uint32_t first);

 private:
  TDb& db_;
  TStmt select_block_, replace_block_;
  std::vector<uint64_t> row_;
};

}  // namespace Mirel::Database::detail
