// The lists of records of the search index in master.dbf's cache: built in
// one pass over the table, changed in place record by record, and read by
// the search.
//
// Tables (their SQL: posting_schema_sql):
//   mw_post(term, seg, n, ids)  a term's list in segments (found by the
//       index mw_post_term on term, seg, n): `ids` the list of one segment
//       as index_terms.h codes it (record numbers as varint deltas, the
//       first from zero, each with its positions for a bigram), `n` the
//       count of records. The list is its segments in seg order.
//   mw_post_add(term, id, pos), mw_post_del(term, id, pos)  the changes
//       made in place since: a term's list is its segments without its
//       dels, with its adds. `pos` is the record's positions for a bigram
//       (append_positions), NULL for other terms: an add's are the record's
//       now, a del's those the segments hold. A del is always in the
//       segments; an add is not, or replaces a del of the same pair (the
//       record's positions changed). A change that brings back what the
//       segments hold (a del with the same positions) removes the del
//       instead, and removing an add leaves the segments as they were.
//   mw_post_meta(entries, changes)  about how many (term, record) pairs the
//       segments hold, and the rows of mw_post_add and mw_post_del (kept
//       here so that no update counts them); the changes are folded into
//       the segments once they pass a fraction of the entries.
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
// The number of collected changes written out at once while records still
// change (0: the default); tests make it small.
void set_pending_limit(size_t entries);

// Registers on a connection mw_build_index(), which fills the empty index
// from "data" (a full build; mw_build_index('keys') also fills an empty
// mw_keys(id, bookid) with each record's MS_BOOKID in the same pass), and
// the functions index_change_sql uses.
void register_posting_functions(sqlite3* db);

// The statement of a trigger on "data" that takes a record out of the index
// (when `had`: its old terms from its old values) and puts it in with its
// new values (when `has`): it collects in memory only the difference of
// its terms (and positions); only the groups whose columns changed are
// normalised, a column that stayed the same once.
std::string index_change_sql(bool had, bool has);
// The statement run once the rows are changed: writes what the triggers
// collected, in the order of the changes' tables, and folds the changes
// into the segments once past their bound.
std::string index_finish_sql();

// The SQL argument list of the groups' columns in index_groups() order,
// each prefixed (e.g. "new."), and "MS_ISBN" last.
std::string indexed_columns(const std::string& prefix);

// The list of `term` in the index attached as `schema` (its records only).
std::vector<int64_t> read_term(sqlite3* db, const std::string& schema, TTerm term);
// A bigram's list with each record's positions: `spans[i]` are the bytes
// of `ids[i]`'s positions in `bytes` (decode_positions).
struct TPositionList {
  std::vector<int64_t> ids;
  std::vector<TSpan> spans;
  std::string bytes;
};
TPositionList read_positions(sqlite3* db, const std::string& schema, TTerm term);
// Which of the ascending `candidates` (each in every list) have a word whose
// bigrams in order are `sequence`: `lists[k]` is the list of `terms[k]`,
// and every bigram of `sequence` is among `terms` (ascending). Only the
// candidates' positions are decoded.
std::vector<int64_t> keep_sequence(const std::vector<int64_t>& candidates,
                                   const std::vector<TTerm>& sequence,
                                   const std::vector<TTerm>& terms,
                                   const std::vector<const TPositionList*>& lists);
// Every record in the list of any term in [low, high).
std::vector<int64_t> read_term_range(sqlite3* db, const std::string& schema, TTerm low,
                                     TTerm high);
// The length of `term`'s list, without reading it.
int64_t term_count(sqlite3* db, const std::string& schema, TTerm term);

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
