// The terms of the search index and the lists of records kept for them.
//
// A term is a short byte string packed into an integer: a kind byte, then
// code points as three bytes each (a unigram: kind + 1 code point; a bigram:
// kind + 2 code points, the second of the last code point of a column being
// kEndOfColumn) or, for ISBN grams, 'i' and kIsbnGram key characters. The
// kind of a unigram or bigram is the letter of its group of fields
// (index_groups); a code point that begins a Latin word (kWordStart) gives
// a second term of the group's upper-case letter. The bytes sit in the top
// seven bytes of the integer, big-endian, and the length in the lowest, so
// integers order as the byte strings do (a prefix first): the index's rows
// are written in that order and an ISBN key shorter than a gram is a range
// of terms.
//
// A term's list is the ascending record numbers that hold the term, each
// record once (no positions): a one-code-point word is its unigram's list,
// a two-code-point word its bigram's, both exactly; a longer word's bigram
// lists intersect to a superset, which is checked against the record's
// normalised text. Lists are stored delta-varint coded.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Mirelsearch_tlb::detail {

using TTerm = uint64_t;

// The groups of fields a keyword kind searches, by letter, and the
// master.dbf columns of each (MS_SYUPAN is normalised as a publisher).
struct TIndexGroup {
  char letter;
  std::vector<const char*> dbf_columns;
};
const std::vector<TIndexGroup>& index_groups();
// The group of `letter`'s position in index_groups(), or -1.
int group_index(char letter);

// Packs up to seven bytes; throws std::length_error on a longer string.
TTerm pack_term(std::string_view bytes);
// The bytes of a packed term.
std::string term_bytes(TTerm term);

inline constexpr char32_t kEndOfColumn = 0xFFFFFF;

// The terms of one group's normalised text, its columns separated by
// kColumnBreak, appended to `out` (with repeats).
inline constexpr char16_t kColumnBreak = u'\n';
void add_group_terms(char letter, std::u16string_view text, std::vector<TTerm>& out);
// The ISBN grams of both forms of the ISBN key `key`, appended to `out`.
inline constexpr size_t kIsbnGramLength = 4;
void add_isbn_terms(const std::string& key, std::vector<TTerm>& out);

// The terms a normalised word of a group is looked up by (every one of
// their lists holds each record that has the word), and whether those
// lists are exactly the word's records. No terms for an empty word.
struct TWordTerms {
  std::vector<TTerm> terms;
  bool exact = true;
};
TWordTerms word_terms(char letter, std::u16string_view normalized_word);

// The look-up of an ISBN key: a key shorter than a gram is every term in
// [low, high); a longer one its grams (at most two, chosen to be selective),
// which every ISBN containing the key has.
struct TIsbnLookup {
  TTerm low = 0, high = 0;
  std::vector<TTerm> grams;
};
TIsbnLookup isbn_lookup(const std::string& key);

// Lists: ascending record numbers as varint deltas, the first from zero.
std::string encode_ids(const std::vector<int64_t>& ids);
// Appends a coded list's numbers to `out`; throws EMirelSearch when the
// blob ends inside a number.
void decode_ids(std::string_view blob, std::vector<int64_t>& out);
void append_varint(std::string& out, uint64_t value);
// `base` without `removed`, with `added` (all ascending; `added` holds none
// of `base`'s numbers).
std::vector<int64_t> apply_changes(const std::vector<int64_t>& base,
                                   const std::vector<int64_t>& removed,
                                   const std::vector<int64_t>& added);

}  // namespace Mirelsearch_tlb::detail
