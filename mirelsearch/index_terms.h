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
// record once. A bigram's list also gives, per record, the positions where
// the bigram occurs in the group's text: the number of the column within
// the group in the top bits (kColumnShift) and the index of the bigram's
// first code point within the column below, so a change of one column
// leaves the positions of the others alone and a run of consecutive
// positions never crosses into the next column. A one-code-point word is
// its unigram's list, a two-code-point word its bigram's; a longer word is in a record where its i-th bigram
// occurs at p + i for some p and every i. Unigram and ISBN lists have no
// positions. Lists are stored as varints: per record the delta of its
// number, and for a bigram its positions as append_positions codes them
// (within a column as deltas, a column's first by its index there).
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

// Whether a term's list carries positions (the bigrams).
inline bool has_positions(TTerm term) { return (term & 0xFF) == 7; }

// The column's number in a position; a column's code points past
// kMaxColumnLength (far beyond any field of the library's tables) give no
// bigrams.
inline constexpr unsigned kColumnShift = 28;
inline constexpr uint32_t kMaxColumnLength = (uint32_t{1} << kColumnShift) - 2;
inline constexpr uint32_t kColumnMask = (uint32_t{1} << kColumnShift) - 1;

// A term where it occurs in a group's text (`pos` is 0 for a unigram).
struct TTermAt {
  TTerm term;
  uint32_t pos;
};

// The terms of one group's normalised text, its columns separated by
// kColumnBreak, appended to `out` in the order of the text (with repeats).
inline constexpr char16_t kColumnBreak = u'\n';
void add_group_terms(char letter, std::u16string_view text, std::vector<TTermAt>& out);
// The same terms of one column given as TFieldNormalizer's code points
// (kWordStartFlag marking a word start), the `column_number`-th of its
// group (from 0).
void add_column_terms(char letter, uint32_t column_number, std::u32string_view column,
                      std::vector<TTermAt>& out);
// The ISBN grams of both forms of the ISBN key `key`, appended to `out`.
inline constexpr size_t kIsbnGramLength = 4;
void add_isbn_terms(const std::string& key, std::vector<TTerm>& out);

// The terms a normalised word of a group is looked up by (every one of
// their lists holds each record that has the word, each term once), and
// whether those lists are exactly the word's records. When they are not (a
// word of three or more code points), `sequence` is its bigrams in order,
// repeats kept: the word is where the i-th occurs at p + i. No terms for
// an empty word.
struct TWordTerms {
  std::vector<TTerm> terms;
  std::vector<TTerm> sequence;
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

// Lists without positions: ascending record numbers as varint deltas, the
// first from zero.
std::string encode_ids(const std::vector<int64_t>& ids);
// Appends a coded list's numbers to `out`; throws EMirelSearch when the
// blob ends inside a number. With `positions`, each number is followed by
// its positions, which are skipped; `spans`, when given, gets for each
// number the offsets in `blob` of its positions' bytes [begin, end).
struct TSpan {
  uint32_t begin, end;
};
void decode_ids(std::string_view blob, std::vector<int64_t>& out, bool positions = false,
                std::vector<TSpan>* spans = nullptr);
void append_varint(std::string& out, uint64_t value);

// The positions of one record in a bigram's list: the count of values,
// then a value per position (ascending): within the column of the one
// before (the first: column 0, from zero) twice the delta, otherwise
// twice its index in the next column plus 3; a value of 1 passes over a
// column without any. A position in a second column costs a byte or two
// instead of the five its column's base would.
void append_positions(std::string& out, const uint32_t* positions, size_t count);
// The same into raw memory of at least max_positions_bytes(count) bytes;
// returns the end of what it wrote.
uint8_t* put_positions(uint8_t* out, const uint32_t* positions, size_t count);
inline size_t max_positions_bytes(size_t count) {
  // A varint of 32 bits is at most 5 bytes; at most 15 columns passed over.
  return 5 * (count + 16);
}
// One varint into raw memory (at most 10 bytes); returns its end.
inline uint8_t* put_varint(uint8_t* out, uint64_t value) {
  for (; value >= 0x80; value >>= 7) *out++ = static_cast<uint8_t>((value & 0x7F) | 0x80);
  *out++ = static_cast<uint8_t>(value);
  return out;
}
// The positions coded in `bytes` (as append_positions wrote them), into
// `out` (cleared first); throws EMirelSearch when they are cut short.
void decode_positions(std::string_view bytes, std::vector<uint32_t>& out);

// Whether a word occurs where the positions say: `*positions[i]` are the
// positions of the word's i-th bigram in one record (ascending); true when
// some p has p + i in every `*positions[i]`.
bool positions_chain(const std::vector<const std::vector<uint32_t>*>& positions);
// `base` without `removed`, with `added` (all ascending; `added` holds none
// of `base`'s numbers).
std::vector<int64_t> apply_changes(const std::vector<int64_t>& base,
                                   const std::vector<int64_t>& removed,
                                   const std::vector<int64_t>& added);

}  // namespace Mirelsearch_tlb::detail
