// Turning the conditions and the sort of a search into SQL over the cache of
// master.dbf ("data", aliased d) and its search index (mw_fts). Every text
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
};

// SQL texts; `schema` is the attached schema of master's cache. Parameter
// ?1 is fts_match (when present), then the plan's params.
std::string count_sql(const TQueryPlan& plan, const std::string& schema);
std::string rows_sql(const TQueryPlan& plan, const std::string& schema, TRowStrategy strategy);
// The record numbers of the hits when the index alone decides them, handed
// to the aggregate mw_collect (registered by the caller).
std::string hit_rowids_sql(const std::string& schema);
bool hits_from_index_alone(const TQueryPlan& plan);

// The cheapest strategy for reading hits from `start` onwards when there
// are `count` hits among `table_rows` books. order_walk only when
// hits_from_index_alone and the order is by book id.
TRowStrategy choose_strategy(const TQueryPlan& plan, int64_t count, int64_t table_rows,
                             int64_t start);

// An identifier in double quotes (inner quotes doubled).
std::string quote_identifier(const std::string& name);

}  // namespace Mirelsearch_tlb::detail
