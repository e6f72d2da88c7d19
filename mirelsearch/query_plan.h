// Turning the conditions and the sort of a search into SQL over the cache of
// master.dbf ("data", aliased d) and its search index (mw_fts for words of
// two or more characters, mw_uni for one-character words and ISBNs). Every text
// that came from a visitor is a bound parameter; the only names written into
// the SQL are our own and the column names of the table itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {

struct TQueryPlan {
  bool never = false;              // a condition no book can meet (no SQL is run)
  std::string fts_match;           // FTS5 query, empty when no index condition
  const char* index_table = "mw_fts";  // the FTS5 table fts_match is run on
  std::string uni_match;           // one-character words and ISBN grams (mw_uni)
  size_t uni_probe = 0;            // parameter number of uni_match when it is a
                                   // condition beside an mw_fts match; 0: none
  // When one character is the whole search: its mw_uni token (whose count
  // is kept in mw_unicount), the normalised character (UTF-8) and the
  // columns it is looked for in, for testing single books.
  std::string count_token;
  std::string count_word;
  std::vector<std::string> count_columns;
  int uni_terms = 0;               // terms in uni_match
  std::vector<std::string> where;  // conditions on d, parameters ?2, ?3, ...
  std::vector<std::string> params; // UTF-8 values of ?2, ?3, ... in order
  bool bookid_exact = false;       // `where` holds d.MS_BOOKID = ? (the index drives)
  std::string order_column;        // a column of data; empty: book id order
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
  order_walk,    // walk the book-id index in order, keeping the books that
                 // are in the set of hits (read before from the index alone)
  table_driven,  // the table (its indexes) finds the hits; index tested per book
  probe_walk,    // walk the book-id index in order, testing each book against
                 // the index: for a long list whose count is known without it
  hit_list,      // the hits as the index lists them (by record number) are
                 // already in book-id order: the n-th hit is the n-th record
};

// SQL texts; `schema` is the attached schema of master's cache. Parameter
// ?1 is fts_match (when present), then the plan's params.
// A plan that has both kinds of index condition runs fts_match on mw_fts
// and tests uni_match per record.
std::string count_sql(const TQueryPlan& plan, const std::string& schema);
std::string rows_sql(const TQueryPlan& plan, const std::string& schema, TRowStrategy strategy,
                     bool records_in_bookid_order = false);
// The record numbers of the hits when the index alone decides them, handed
// to the aggregate mw_collect (registered by the caller).
std::string hit_rowids_sql(const TQueryPlan& plan, const std::string& schema);
// The number of hits of a plan with a count_token (?1 is the token).
std::string token_count_sql(const std::string& schema);
bool hits_from_index_alone(const TQueryPlan& plan);

// The cheapest strategy for reading hits from `start` onwards when there
// are `count` hits among `table_rows` books. order_walk, probe_walk and
// hit_list only when hits_from_index_alone and the order is by book id;
// probe_walk only for a plan with a count_token; hit_list only when
// `records_in_bookid_order` (record numbers ascend with the book ids).
TRowStrategy choose_strategy(const TQueryPlan& plan, int64_t count, int64_t table_rows,
                             int64_t start, bool records_in_bookid_order = false);

// Whether the record numbers of master's cache ascend with the book ids
// (1 or 0; kept by the index, see catalogue_index.h).
std::string bookid_order_sql(const std::string& schema);

// An identifier in double quotes (inner quotes doubled).
std::string quote_identifier(const std::string& name);

}  // namespace Mirelsearch_tlb::detail
