// Sets of hits as ascending record numbers: intersecting the lists that the
// words of a search read from the index, and handing such a set to SQL.
//
// A search reads each of its words' lists once and combines them here, so
// its cost follows the lengths of those lists whatever mix of words it has.
// mw_hits is an eponymous virtual table over one set (its rowid and its
// one column "value" are the record numbers, ascending), registered per
// connection; the SQL that filters or sorts the hits joins it with the
// table, so no record outside the set is read.
#pragma once

#include <cstdint>
#include <vector>

struct sqlite3;

namespace Mirelsearch_tlb::detail {

// The numbers in every list. Each list must be ascending without repeats;
// the result is too. The shortest list goes first, and the intersection
// stops as soon as it is empty.
std::vector<int64_t> intersect_hits(std::vector<std::vector<int64_t>> lists);

// Registers mw_hits on `db`, reading `hits` (which must outlive the
// connection's use of it) and adding one to `*visited` for each record it
// hands out.
void register_hit_table(sqlite3* db, const std::vector<int64_t>* hits, int64_t* visited);

// Registers the SQL function mw_is_hit(rowid) on `db`: 1 when bit `rowid`
// of `bits` (which must outlive the connection's use of it) is set, else 0.
// A walk along an index keeps the hits with it, and a LIMIT then counts
// hits, not the books passed.
void register_hit_test(sqlite3* db, const std::vector<uint64_t>* bits);

}  // namespace Mirelsearch_tlb::detail
