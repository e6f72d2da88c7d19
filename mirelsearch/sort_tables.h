// The sort orders of master.dbf's cache: for each column a hit list is
// commonly sorted by, every record's number in that column's order, so that
// a page of a long hit list sorted by it is found by walking the order from
// the nearer end and keeping the hits, instead of sorting every hit's text.
//
// A column's order is an array of record numbers kept as data, not as a
// B-tree of keys: mw_sort_<column>(chunk, ids), each chunk a blob of
// kSortChunk 32-bit little-endian entries. The array lists the records by
// (value, book id, record number) as ORDER BY sorts them, so that the order
// is total and a walk needs no sorting of ties; an entry's top bit says that
// its value equals the previous entry's (the runs of equal values, which a
// descending sort reads backwards with each run still in ascending book-id
// order). A full build fills every array from one sort per column
// (mw_fill_sort).
//
// Records changed in place do not rewrite the arrays: a record whose column
// or book id changed, or that was added or deleted, gets a row in
// mw_sort_moved(col, id, k, b, p, q): its new value and book id as sort
// keys (NULL when deleted), p the index in the array it goes before (the
// first entry still in the array that sorts after it) and q the record
// there. A row trigger only records a move, with p NULL; the update places
// all of its moves at its end, in one pass per column (a move placed
// before is placed again when its q has moved since). Every 16th entry's
// value is kept beside the array as a fence (mw_sort_<column>_fences),
// which narrows a search in memory. A walk skips the array's entries of moved records and
// merges the moved ones in at their places. Past a bound (a 128th of the
// array) a column's moves are folded: its array is made anew.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_value;

namespace Mirelsearch_tlb::detail {

// Entries per chunk of a sort order's array: a chunk's row fits in one
// page of 4 KB (no overflow pages), so that reading an entry anywhere
// costs one page read.
inline constexpr int64_t kSortChunk = 1008;

// The columns that have a sort order for sorted hit lists, and the name of
// that order's table ("" for any other column).
const std::vector<const char*>& sort_columns();
std::string sort_index_name(const std::string& column);

// The sort key of an SQL value: a blob whose bytes compare (memcmp, then
// the shorter first) as ORDER BY compares the values. A class byte (NULL,
// number, text, blob) and then text and blobs as their bytes (the binary
// collation), numbers as the 8 bytes of their double in an order-keeping
// form.
std::string sort_key(sqlite3_value* value);
// The same appended to `key`.
void append_sort_key(sqlite3_value* value, std::string& key);

// Registers mw_sort_key, mw_fill_sort and mw_sort_settle on a connection.
void register_sort_functions(sqlite3* db);

// The sort orders' tables (run on a fresh master cache), their fill once a
// full build's rows and mw_keys are in, the TEMP triggers that record the
// moves of changed records, and the settling of those moves once an
// update's rows are all in.
std::string sort_schema_sql();
std::string sort_after_build_sql();
std::string sort_update_sql();
std::string sort_finish_sql();

// Walks the records of master's cache (attached as `schema`) in the order
// of a sort column, giving those for which `is_hit` holds. The order is
// ORDER BY column (DESC when `values_descending`), then book id and record
// number (both DESC when `ties_descending`), the array and its moved
// records merged. Reads only the chunks it passes.
class TSortWalk {
 public:
  TSortWalk(sqlite3* db, const std::string& schema, const std::string& column,
            bool values_descending, bool ties_descending, std::function<bool(int64_t)> is_hit);
  ~TSortWalk();
  TSortWalk(const TSortWalk&) = delete;
  TSortWalk& operator=(const TSortWalk&) = delete;

  // The next hit's record number; false past the last.
  bool next(int64_t& id);
  // Records passed so far (hits or not).
  int64_t visited() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Mirelsearch_tlb::detail
