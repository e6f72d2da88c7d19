// The hashes that tell a changed record, kept in a table's cache in blocks
// of kHashBlock records, so that an update reads back and writes again only
// the blocks whose records changed, not one hash per record of the table.
// Internal to database/.
//
//   mw_rowhash    id = block * 2 + kind: the 8-byte hashes of the block's
//                 records in record order (kind 0: the record's raw bytes;
//                 kind 1: the raw bytes of its memos, 0 for a deleted
//                 record; a table without memo fields has no kind 1)
//   mw_blockhash  id = kind: one 8-byte digest per block, block_digest of
//                 the block's hashes
//
// A pass over the table hashes a block's records and compares the digest of
// those hashes with the one recorded. Equal digests mean equal hashes (with
// the certainty of a 64-bit hash, as for the records themselves); only a
// block whose digest differs is read back to find which records changed.
// A build writes every block; an update rewrites the blocks it changed, the
// digests (a few pages: one per block) and removes the blocks past a table
// that got shorter.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "database/sqlite_util.h"

namespace Mirel::Database::detail {

// Records per block: small enough that a few changes spread over the table
// read and write little, large enough that the digests stay a few pages
// (31 KB at a million records).
inline constexpr uint32_t kHashBlock = 256;

enum class THashKind : int { Record = 0, Memo = 1 };

// The number of blocks of a table of `records` records.
inline uint32_t hash_block_count(uint64_t records) {
  return static_cast<uint32_t>((records + kHashBlock - 1) / kHashBlock);
}
// The number of records of block `block` of a table of `records` records.
inline uint32_t hash_block_size(uint64_t records, uint32_t block) {
  const uint64_t first = uint64_t{block} * kHashBlock;
  return first >= records ? 0 : static_cast<uint32_t>(std::min<uint64_t>(kHashBlock, records - first));
}

// The digest of a block's `count` hashes.
uint64_t block_digest(const uint64_t* hashes, size_t count);

// The statements that create the two tables in a new cache.
extern const char* const kHashTablesSql;

// Writes the hashes of every record of the table (a full build, into the
// empty tables): every block and the digests.
void store_all_hashes(TDb& db, THashKind kind, const std::vector<uint64_t>& hashes);

// Reading and writing single blocks and the digests during an update.
class THashBlocks {
 public:
  explicit THashBlocks(TDb& db);

  // The digests of `kind`; false when the cache recorded none.
  bool read_digests(THashKind kind, std::vector<uint64_t>& out);
  // The hashes of one block; false when the cache has no such block.
  bool read(THashKind kind, uint32_t block, std::vector<uint64_t>& out);
  void write(THashKind kind, uint32_t block, const uint64_t* hashes, size_t count);
  void write_digests(THashKind kind, const std::vector<uint64_t>& digests);
  // Removes the blocks from `first` on, of both kinds (the table got shorter).
  void remove_from(uint32_t first);

 private:
  TDb& db_;
  TStmt select_block_, replace_block_;
};

}  // namespace Mirel::Database::detail
