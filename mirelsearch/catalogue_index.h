// The search index kept inside the database engine's cache of master.dbf.
//
// register_search_index() registers a cache extension for the table
// "master": an FTS5 table mw_fts with one column per searched field, filled
// in bulk once a full build's rows are in and then kept current under
// in-place updates by TEMP triggers on the cache's table "data", and a
// B-tree index on MS_BOOKID. The bulk fill and the triggers call SQL functions of ours
// (mw_bigrams, mw_unigrams, mw_isbn_tokens) that normalise the text
// (normalize.h) and turn it into index tokens. mw_fts's columns hold the
// bigram tokens of the text fields, so a word of two or more characters is
// looked up as a phrase and the hit set is exactly the set of records that
// contain it. A second table without positions, mw_uni, holds the
// characters each kind of fields contains (for one-character words) and
// the ISBN grams of both forms of a complete ISBN (a key longer than one
// gram is then checked against the field by mw_isbn_contains). A narrow
// table mw_keys (record number, book id) serves sorting hit lists by book
// id, and mw_order records whether record numbers ascend with book ids (a
// hit list needs no sorting at all then). Each column a list is commonly
// sorted by has a table mw_sort_<column> (k, id) in the order of k, the
// column's value as a sort key (mw_sort_key) and id the record number: a
// page of a long hit list sorted by that column is found by walking the
// table from the nearer end and keeping the hits (ties ordered by book id
// on the way), instead of sorting every hit's text. A full build fills it
// in one sorted pass (mw_fill_sort); the update triggers keep it current.
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

// Bumped whenever the index's layout or its tokens change.
// The cache's build key holds it together with kNormalizeVersion.
inline constexpr int kIndexVersion = 9;

// The unigram index mw_uni holds, for each keyword kind, every code point of
// that kind's fields once, as tokens starting with the kind's letter.
struct TUnigramGroup {
  char letter;
  std::vector<const char*> dbf_columns;
};
const std::vector<TUnigramGroup>& unigram_groups();

// The FTS5 columns, in order, and the master.dbf column each indexes.
struct TIndexColumn {
  const char* fts_column;
  const char* dbf_column;
  bool publisher;  // normalised as a publisher's name (TFieldKind::publisher)
};
const std::vector<TIndexColumn>& index_columns();

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

// Registers the tokenizer "mw" and the functions mw_bigrams, mw_unigrams,
// mw_isbn_tokens, mw_isbn_contains, mw_contains, mw_sort_key and
// mw_fill_sort on a connection.
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
