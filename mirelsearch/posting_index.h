// The lists of records of the search index in master.dbf's cache: built in
// one pass over the table, changed in place record by record, and read by
// the search.
//
// Tables (their SQL: posting_schema_sql):
//   mw_post(term, seg, n, ids)  a term's list in segments (found by the
//       index mw_post_term on term, seg, n): `ids` the
//       ascending record numbers of one segment as varint deltas (the first
//       from zero), `n` their count. The list is its segments in seg order.
//   mw_post_add(term, id), mw_post_del(term, id)  the changes made in place
//       since: a term's list is its segments without its dels, with its
//       adds. An add cancels a del of the same pair and the other way round,
//       so a record is in at most one of the two for a term, a del is always
//       in the segments and an add never is.
//   mw_text_t, mw_text_a, mw_text_p, mw_text_c (id, x)  each record's
//       normalised text of one group of fields (index_groups), the columns
//       of the group separated by kColumnBreak; no row when all are empty:
//       the check of a longer word's candidates, and the old terms of a
//       record that changes (no second normalisation).
//   mw_post_meta(entries)  about how many (term, record) pairs the segments
//       hold; the changes are folded into the segments once they pass a
//       fraction of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mirelsearch/index_terms.h"

struct sqlite3;

namespace Mirelsearch_tlb::detail {

std::string posting_schema_sql();

// The size at which a full build writes its lists out as a segment (0: the
// default); tests make it small to have many segments.
void set_segment_bytes(size_t bytes);

// Registers on a connection mw_build_index(), which fills the empty index
// from "data" (a full build), and the functions index_change_sql uses.
void register_posting_functions(sqlite3* db);

// The statements of a trigger on "data" that take a record out of the index
// (when `had`: its old terms come from mw_text_* and old.MS_ISBN) and put it
// in with its new values (when `has`), writing only the difference of its
// terms; the changes are folded into the segments once past their bound.
std::string index_change_sql(bool had, bool has);

// The SQL argument list of the groups' columns in index_groups() order,
// each prefixed (e.g. "new."), and "MS_ISBN" last.
std::string indexed_columns(const std::string& prefix);

// The list of `term` in the index attached as `schema`.
std::vector<int64_t> read_term(sqlite3* db, const std::string& schema, TTerm term);
// Every record in the list of any term in [low, high).
std::vector<int64_t> read_term_range(sqlite3* db, const std::string& schema, TTerm low,
                                     TTerm high);
// The length of `term`'s list, without reading it.
int64_t term_count(sqlite3* db, const std::string& schema, TTerm term);
// Which of the ascending `candidates` have the normalised `word` in their
// group `letter` (mw_text_<letter>).
std::vector<int64_t> check_word(sqlite3* db, const std::string& schema, char letter,
                                const std::u16string& word, const std::vector<int64_t>& candidates);

// While it lives, the page cache of the connection's main database is
// small: a pass that reads and appends in order needs few pages, and the
// memory is the pass's own buffers' (a full build's peak stays low).
class TSmallPageCache {
 public:
  explicit TSmallPageCache(sqlite3* db);
  ~TSmallPageCache();
  TSmallPageCache(const TSmallPageCache&) = delete;
  TSmallPageCache& operator=(const TSmallPageCache&) = delete;

 private:
  sqlite3* db_;
  std::string before_;
};

// Moves every change into the segments (each changed term's list becomes
// one segment). Runs on the connection that changes the cache, inside its
// transaction.
void fold_changes(sqlite3* db);

}  // namespace Mirelsearch_tlb::detail
