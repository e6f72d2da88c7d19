// Rows of a table's cache made from the records of its .dbf, shared by the
// full build (cache_build.cpp) and the update in place (cache_update.cpp):
// the columns and their SQL types, the values bound to statements, the
// hashes that tell a changed record or memo, the bookkeeping kept in mw_meta
// and mw_rowhash, and the rereading of a table that changes while it is
// read. Internal to database/.
//
// Cache file contents:
//   data        the rows; columns under their .dbf names, rowid = record index + 1
//               (named as rowid_name says: a field may be called ROWID)
//   dbf         a view of data, so that <schema>.dbf also names the table
//   mw_meta     k/v: build (build key), signature, racy, memo_racy, layout, records,
//               memo (stamp of the memo file), memo_content (TMemoContent)
//   mw_rowhash
//               per record a hash of its raw bytes (deletion flag included)
//               and of the raw bytes of its memos, in blocks (hash_blocks.h)
//   indexes ix_<column> on the columns that the catalogue joins and sorts by
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "database/engine.h"
#include "dbase/dbf.h"

namespace Mirel::Database::detail {

// A table file whose newest time is this close to the start of its read may
// be changed again in the same clock tick without its time moving: its cache
// is then checked record by record at the next use.
inline constexpr int64_t kRacyNs = 2'000'000'000;

// Rereads of a table that keeps changing while it is read.
inline constexpr int kMaxAttempts = 4;

// One column of the cache: every field but Visual FoxPro's null flags, a
// duplicated name (a damaged header) made unique.
struct TColumn {
  size_t field;      // index of the .dbf field
  std::string name;  // column name in the cache
  bool memo;         // its value lives in the memo file
};

std::vector<TColumn> columns_of(const Dbase::TTableReader& reader);
// The name under which the engine reaches the row id of "data": the first
// of rowid, _rowid_ and oid that no column takes (SQLite gives a column of
// that name precedence). columns_of renames a column OID to OID_2 when a
// table has all three, so that one is always free.
std::string rowid_name(const std::vector<TColumn>& cols);
bool has_memo_column(const std::vector<TColumn>& cols);
// "A" TEXT, "B" INTEGER, ...: the column definitions of the table "data".
std::string column_definitions(const Dbase::TTableReader& reader,
                               const std::vector<TColumn>& cols);
// "A", "B", ...
std::string column_list(const std::vector<TColumn>& cols);
// "?1, ?2, ..., ?<n+1>": the rowid and n values.
std::string placeholders(size_t n);

// Everything about the file's structure that the rows depend on; a cache
// whose layout differs cannot be updated in place.
std::string layout_of(const Dbase::TTableReader& reader);

bool is_deleted_record(std::string_view record);
// Decodes every column of `record` into `values` (sized to the columns).
void read_values(Dbase::TTableReader& reader, const std::vector<TColumn>& cols,
                 std::string_view record, std::vector<Dbase::TValue>& values);
// Binds `values` to parameters first, first + 1, ... (text bound without a
// copy: `values` must outlive the step).
void bind_values(sqlite3_stmt* st, int first, const std::vector<Dbase::TValue>& values);

// The hash of a record's raw bytes.
uint64_t record_hash(std::string_view record);

// The hash of the raw bytes of the memos a record points to: not decoded,
// since equal bytes are equal values, and the record's own hash covers its
// memo pointers and flags. 0 for a table without memo fields.
class TMemoHasher {
 public:
  explicit TMemoHasher(const std::vector<TColumn>& cols);
  bool any() const { return !memos_.empty(); }
  uint64_t operator()(Dbase::TTableReader& reader, std::string_view record);
  // Whether every memo hashed so far was settled (TTableReader::memo_of).
  bool settled() const { return settled_; }

 private:
  struct TMemo {
    size_t column;  // position among the columns (seeds the hash)
    size_t field;
  };
  std::vector<TMemo> memos_;
  std::string buffer_;
  bool settled_ = true;
};

// What a cache records of its table's memo file (mw_meta "memo_content"):
// its size, a hash of its bytes past the header, and whether the memo of
// every live record was settled (Dbase::TTableReader::memo_of). When the
// file's bytes up to that size are unchanged and every memo was settled,
// a record that did not change still reads the same memo bytes: the file
// only grew (a library system writes a changed memo into new blocks), and
// the memos need not be read one by one.
struct TMemoContent {
  uint64_t size = 0;
  uint64_t hash = 0;
  bool settled = false;  // false too when nothing usable was recorded

  std::string text() const;
  static TMemoContent parse(const std::string& text);
};

// Hashes the memo file at `path` past its header in one sequential read:
// `whole` over all of it, and `prefix` over its first `prefix_size` bytes,
// which equals the `whole` of a file of that size with the same bytes.
// `prefix_valid` is false when the file is shorter. Throws
// Dbase::EDbaseError when the file cannot be read.
struct TMemoFileHash {
  uint64_t size = 0;
  uint64_t whole = 0;
  uint64_t prefix = 0;
  bool prefix_valid = false;
};
TMemoFileHash hash_memo_file(const std::string& path, uint64_t prefix_size);

// ---- bookkeeping ----

std::string meta_text(TDb& db, const char* key);
void write_meta(TDb& db, const TBuildResult& result, const std::string& layout,
                const std::string& build, uint32_t records, const std::string& memo,
                const TMemoContent& memo_content);

// ---- reading a table that may change under us ----

// Runs `body` as one attempt at reading the table whose signature was
// `sig_before`; returns whether the table stood still meanwhile. A failure
// of the reader while the table changed under it counts as "changed", not
// as an error; so does one on a table written within the racy interval (a
// program writing it anew truncates it first), after a short pause. On the
// `last` attempt a table that stands still and cannot be read throws
// ESourceError with the reader's message. ECacheWrite passes through.
bool attempt(const TTableSource& src, const std::string& sig_before, bool last,
             const std::function<void()>& body);
[[noreturn]] void throw_kept_changing(const TTableSource& src);

}  // namespace Mirel::Database::detail
