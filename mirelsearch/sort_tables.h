// The sort tables of master.dbf's cache: for each column a hit list is
// commonly sorted by, the records in that column's order, so that a page of
// a long hit list sorted by it is found by walking the order from the
// nearer end and keeping the hits, instead of sorting every hit's text.
// Each column has a table mw_sort_<column> (k, id) in the order of k, the
// column's value as a sort key (mw_sort_key) and id the record number. A
// full build fills it in one sorted pass (mw_fill_sort); the update
// triggers keep it current.
#pragma once

#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_value;

namespace Mirelsearch_tlb::detail {

// The columns that have a sort table (mw_sort_<column>) for sorted hit
// lists, and that table's name ("" for any other column).
const std::vector<const char*>& sort_columns();
std::string sort_index_name(const std::string& column);

// The sort key of an SQL value: a blob whose bytes compare (memcmp, then
// the shorter first) as ORDER BY compares the values. A class byte (NULL,
// number, text, blob) and then text and blobs as their bytes (the binary
// collation), numbers as the 8 bytes of their double in an order-keeping
// form.
std::string sort_key(sqlite3_value* value);

// Registers mw_sort_key and mw_fill_sort on a connection.
void register_sort_functions(sqlite3* db);

// The sort tables (run on a fresh master cache), their fill once a full
// build's rows are in, and the TEMP triggers that keep them current.
std::string sort_schema_sql();
std::string sort_after_build_sql();
std::string sort_update_sql();

}  // namespace Mirelsearch_tlb::detail
