// The search index kept inside the database engine's cache of master.dbf.
//
// register_search_index() registers a cache extension for the table
// "master". Its terms (index_terms.h) are the code points and the pairs of
// neighbouring code points of each group of text fields (title, author,
// publisher, contents: a column's last code point is paired with an end
// marker, a code point that begins a Latin word gives a second, "word
// start" term) and the 4-character grams of both forms of the ISBN. Each
// term has a list of the records that hold it, a bigram's with the
// positions where it occurs, kept in our own tables (posting_index.h):
// mw_post in segments of delta-coded record numbers, mw_post_add /
// mw_post_del with the changes made in place since. A word of one code
// point is found by its unigram, of two by its bigram, a longer one by
// intersecting its bigrams' lists and keeping the records where they
// follow one another (all three exact); an ISBN key by its grams (a key
// shorter than a gram is the range of grams it begins), checked against
// the field by mw_isbn_contains when longer than a gram. A one-character
// search is counted from the lists' stored lengths without reading them.
//
// A full build fills the lists in one pass over the table once its rows are
// in (mw_build_index); in-place updates run TEMP triggers on "data" that
// collect each changed record's difference of terms (mw_index_change, from
// its old and new values of the groups of fields that changed); once the
// rows are changed they are written in the order of the terms
// (mw_index_flush), and folded into the segments once they grow past a
// bound. A narrow table mw_keys
// (record number, book id) serves sorting hit lists by book id, and
// mw_order records whether record numbers ascend with book ids (a hit list
// needs no sorting at all then). Each column a list is commonly sorted by
// has its order precomputed as an array of record numbers (sort_tables.h):
// a page of a long hit list sorted by that column is found by walking the
// array from the nearer end and keeping the hits, instead of sorting every
// hit's text. A full build fills the arrays in one sorted pass per column
// (mw_fill_sort); the update triggers record the records that moved.
//
// The extension is part of the cache's build key: every process that may
// build master's cache must register it before its first query, or the
// cache is rebuilt without the index (and again with it by the next
// search). Registering only stores the definition; ICU is not touched.
#pragma once

#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_value;

namespace Mirelsearch_tlb {

// Registers the extension once per process (later calls do nothing).
void register_search_index();

namespace detail {

// Bumped whenever the index's layout or its terms change.
// The cache's build key holds it together with kNormalizeVersion.
inline constexpr int kIndexVersion = 15;

// Registers the functions of the index (posting_index.h) and
// mw_isbn_contains, mw_contains and the sort tables' functions
// (sort_tables.h) on a connection.
void register_index_functions(sqlite3* db);

// The schema SQL run on a fresh master cache, before its rows go in.
std::string index_schema_sql();
// The SQL run once a full build's rows are in: fills the index in bulk.
std::string index_after_build_sql();
// The SQL run before records are changed in place: the triggers that keep
// the index current.
std::string index_update_sql();

}  // namespace detail
}  // namespace Mirelsearch_tlb
