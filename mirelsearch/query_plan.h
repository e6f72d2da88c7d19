// Turning the conditions and the sort of a search into SQL over the cache of
// master.dbf ("data", aliased d) and look-ups of its search index
// (catalogue_index.h). Every word becomes one index term, looked up once;
// the search intersects the terms' lists of records (hit_set.h), so a
// search costs what its words' lists cost, whatever their mix. Every text that came from a visitor is a
// bound parameter; the only names written into the SQL are our own and the
// column names of the table itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {

// One word of a search as the index knows it: the records in the lists of
// all `terms` (or, for an ISBN key shorter than a gram, in the list of any
// term in [low, high)); for a word of three or more code points those are
// candidates, kept where the bigrams of `sequence` (the word's, in order)
// follow one another in the lists' positions. An ISBN key longer than a
// gram is a superset too, which `where` narrows.
struct TIndexTerm {
  std::vector<uint64_t> terms;
  uint64_t low = 0, high = 0;
  std::vector<uint64_t> sequence;  // empty: the lists are exact
  bool operator==(const TIndexTerm& other) const = default;
};

struct TQueryPlan {
  bool never = false;              // a condition no book can meet (no SQL is run)
  std::vector<TIndexTerm> terms;   // every word once; empty: no index condition
  // When one character is the whole search: its term (whose list's length
  // is kept), the normalised character (UTF-8) and the columns it is looked
  // for in, for testing single books.
  bool counted = false;
  uint64_t count_term = 0;
  std::string count_word;
  std::vector<std::string> count_columns;
  std::vector<std::string> where;  // conditions on d, parameters ?2, ?3, ...
  std::vector<std::string> params; // UTF-8 values of ?2, ?3, ... in order
  bool bookid_exact = false;       // `where` holds d.MS_BOOKID = ? (the index drives)
  std::string order_column;        // a column of data; empty: book id order
  // The table of order_column's sort order (sort_tables.h); empty when
  // there is none.
  std::string order_index;
  bool descending = false;
};

// The words of a keyword: split at runs of U+0020 and U+3000.
std::vector<UnicodeString> split_words(const UnicodeString& keyword);

// Builds the plan. `columns` are the column names of data as stored (the
// sort field is looked up among them without regard to ASCII letter case).
TQueryPlan make_plan(const std::vector<std::shared_ptr<Istring_keyword>>& keywords,
                     const std::vector<std::shared_ptr<Istring_range>>& ranges,
                     const std::shared_ptr<Isql_order>& order,
                     const std::vector<std::string>& columns);

// How the rows of a hit list are produced.
enum class TRowStrategy {
  index_driven,  // the search index finds the hits, which are then sorted
  order_walk,    // walk the list's order (the book-id index, or a sort
                 // column's array: sort_tables.h) in order, keeping the
                 // books that are in the set of hits (read before from the
                 // index alone, marked for mw_is_hit)
  table_driven,  // the table (its indexes) finds the hits; index tested per book
  probe_walk,    // walk the book-id index in order, testing each book against
                 // the index: for a long list whose count is known without it
  hit_list,      // the hits as the index lists them (by record number) are
                 // already in book-id order: the n-th hit is the n-th record
};

// SQL texts; `schema` is the attached schema of master's cache. A plan
// without index terms is run on the table: parameters ?2, ?3, ... are its
// params. A plan with terms has its hits in mw_hits (hit_set.h) by the time
// its rows are read: the rows come from there, already narrowed by `where`.
std::string count_sql(const TQueryPlan& plan, const std::string& schema);
std::string rows_sql(const TQueryPlan& plan, const std::string& schema, TRowStrategy strategy,
                     bool records_in_bookid_order = false);
std::string rows_sql(const TQueryPlan& plan, const std::string& schema, TRowStrategy strategy,
                     bool records_in_bookid_order, bool reversed);
// The last `n` hits of an index_driven, table_driven or order_walk list,
// last first: the
// list's order turned round with a LIMIT, so that SQLite keeps only `n` rows
// in its sorter instead of sorting every hit to reach a page near the end.
std::string last_rows_sql(const TQueryPlan& plan, const std::string& schema,
                          TRowStrategy strategy, int64_t n);
// The records of mw_hits that meet the plan's `where` (params as above),
// handed to mw_collect.
std::string filter_hits_sql(const TQueryPlan& plan, const std::string& schema);
// True when the plan has index terms: its hits are read into a set.
bool hits_from_index_alone(const TQueryPlan& plan);

// The cheapest strategy for reading hits from `start` onwards when there
// are `count` hits among `table_rows` books. order_walk, probe_walk and
// hit_list only when hits_from_index_alone and the order is by book id,
// order_walk also by a column with an order_index (walked from the nearer
// end of the list: a page past the middle is read backwards, see
// last_rows_sql, or for a column TSortWalk in sort_tables.h); probe_walk only for a counted plan; hit_list
// only when `records_in_bookid_order` (record numbers ascend with the book
// ids).
TRowStrategy choose_strategy(const TQueryPlan& plan, int64_t count, int64_t table_rows,
                             int64_t start, bool records_in_bookid_order = false);

// Whether the record numbers of master's cache ascend with the book ids
// (1 or 0; kept by the index, see catalogue_index.h).
std::string bookid_order_sql(const std::string& schema);

// An identifier in double quotes (inner quotes doubled).
std::string quote_identifier(const std::string& name);

}  // namespace Mirelsearch_tlb::detail
