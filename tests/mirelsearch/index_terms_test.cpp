// Terms packed into integers, the terms of texts and words, and record lists
// coded and changed.
#include <gtest/gtest.h>

#include <algorithm>

#include "mirelsearch/index_terms.h"
#include "mirelsearch/normalize.h"
#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {
namespace {

using Mirel::U;

TEST(Terms, IntegersOrderAsTheirBytes) {
  const std::vector<std::string> sorted = {"", "a", std::string("a\0", 2), "a\x01", "ab",
                                           "abcdefg", "b", "\xff\xff"};
  for (size_t i = 0; i < sorted.size(); ++i) {
    EXPECT_EQ(term_bytes(pack_term(sorted[i])), sorted[i]);
    for (size_t j = i + 1; j < sorted.size(); ++j)
      EXPECT_LT(pack_term(sorted[i]), pack_term(sorted[j])) << i << " " << j;
  }
  EXPECT_THROW(pack_term("abcdefgh"), std::length_error);
}

std::vector<TTerm> terms_of(char letter, std::u16string_view text) {
  std::vector<TTermAt> at;
  add_group_terms(letter, text, at);
  std::vector<TTerm> out;
  for (const TTermAt& t : at) out.push_back(t.term);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool has(const std::vector<TTerm>& terms, TTerm t) {
  return std::binary_search(terms.begin(), terms.end(), t);
}

TEST(Terms, ATextHoldsTheTermsOfItsWords) {
  // Two columns: a word across the break is no word of the text.
  const std::u16string text = normalize_text(u"赤い鳥") + kColumnBreak + normalize_text(u"New York");
  const auto terms = terms_of('t', text);
  for (const char16_t* word : {u"赤", u"赤い", u"赤い鳥", u"鳥", u"n", u"new", u"york"}) {
    const TWordTerms lookup = word_terms('t', normalize_text(word));
    ASSERT_FALSE(lookup.terms.empty());
    for (TTerm t : lookup.terms) EXPECT_TRUE(has(terms, t)) << Mirel::to_utf8(word);
  }
  // 鳥 ends the first column: no bigram with the second's first letter, and
  // "ew" does not begin a word, while "new" does.
  EXPECT_FALSE(has(terms, word_terms('t', normalize_text(u"鳥n")).terms[0]));
  EXPECT_FALSE(has(terms, word_terms('t', normalize_text(u"ew")).terms[0]));
  EXPECT_TRUE(has(terms, word_terms('t', u"ew").terms[0]));  // inside a word
  EXPECT_TRUE(has(terms, word_terms('t', u"\x01yo").terms[0]));
  // Another group's letter never meets this group's terms.
  EXPECT_FALSE(has(terms, word_terms('a', normalize_text(u"赤")).terms[0]));
  // A code point outside the BMP is one code point.
  EXPECT_EQ(word_terms('t', U("𠮷")).terms.size(), 1u);
  EXPECT_TRUE(word_terms('t', U("𠮷")).exact);
}

TEST(Terms, LongerWordsAreCandidatesToCheck) {
  EXPECT_TRUE(word_terms('t', u"ab").exact);
  const TWordTerms abc = word_terms('t', u"abab");
  EXPECT_FALSE(abc.exact);
  EXPECT_EQ(abc.terms.size(), 2u);  // ab, ba: a repeated bigram once
  EXPECT_TRUE(word_terms('t', u"").terms.empty());
}

TEST(Terms, BigramsCarryPositionsAcrossColumns) {
  // "abca" then "ab": each column's positions from its own base.
  std::vector<TTermAt> at;
  add_group_terms('t', std::u16string(u"abca") + kColumnBreak + u"ab", at);
  std::vector<uint32_t> ab, end_a;
  for (const TTermAt& t : at) {
    if (t.term == word_terms('t', u"ab").terms[0]) ab.push_back(t.pos);
    if (t.term == pack_term(std::string("t\0\0a\xff\xff\xff", 7))) end_a.push_back(t.pos);
  }
  EXPECT_EQ(ab, (std::vector<uint32_t>{0, uint32_t{1} << kColumnShift}));
  EXPECT_EQ(end_a, (std::vector<uint32_t>{3}));
  // A word's bigrams in order, repeats kept.
  EXPECT_EQ(word_terms('t', u"aaaa").sequence.size(), 3u);
  EXPECT_EQ(word_terms('t', u"aaaa").terms.size(), 1u);
}

TEST(Lists, PositionsCodedSkippedAndChained) {
  std::string list;
  const uint32_t first[] = {0, 7, 300};
  const uint32_t second[] = {5};
  append_varint(list, 3);
  append_positions(list, first, 3);
  append_varint(list, 200);  // record 203
  append_positions(list, second, 1);
  std::vector<int64_t> ids;
  std::vector<TSpan> spans;
  decode_ids(list, ids, true, &spans);
  EXPECT_EQ(ids, (std::vector<int64_t>{3, 203}));
  ASSERT_EQ(spans.size(), 2u);
  std::vector<uint32_t> positions;
  decode_positions(std::string_view(list).substr(spans[0].begin, spans[0].end - spans[0].begin),
                   positions);
  EXPECT_EQ(positions, (std::vector<uint32_t>{0, 7, 300}));
  list.pop_back();
  EXPECT_THROW(decode_ids(list, ids, true), EMirelSearch);
  // p, p + 1, p + 2 in the lists of the word's bigrams in order.
  const std::vector<uint32_t> aa = {2, 3, 9}, ab = {4, 11};
  EXPECT_TRUE(positions_chain({&aa, &aa, &ab}));   // aaab at 2
  EXPECT_FALSE(positions_chain({&aa, &aa, &aa}));  // aaaa nowhere
  EXPECT_FALSE(positions_chain({&aa, &ab, &aa}));
}

// Positions round trip whatever their columns, and one in a second column
// costs as little as one in the first.
TEST(Lists, PositionsOfEveryColumnRoundTrip) {
  const uint32_t col = uint32_t{1} << kColumnShift;
  const std::vector<std::vector<uint32_t>> cases = {
      {0}, {5, 6, 200}, {col}, {3, col + 3}, {col + 70, col + 71}, {2, 2 * col + 1},
      {2 * col}, {4, col, 3 * col + 9}, {kMaxColumnLength, col + kMaxColumnLength}};
  for (const auto& positions : cases) {
    std::string list;
    append_varint(list, 7);
    append_positions(list, positions.data(), positions.size());
    append_varint(list, 1);  // record 8, no positions of its own
    append_positions(list, nullptr, 0);
    std::vector<int64_t> ids;
    std::vector<TSpan> spans;
    decode_ids(list, ids, true, &spans);
    ASSERT_EQ(ids, (std::vector<int64_t>{7, 8}));
    std::vector<uint32_t> back;
    decode_positions(std::string_view(list).substr(spans[0].begin, spans[0].end - spans[0].begin),
                     back);
    EXPECT_EQ(back, positions);
  }
  std::string first, second;
  const uint32_t at_start[] = {3}, in_second[] = {col + 3};
  append_positions(first, at_start, 1);
  append_positions(second, in_second, 1);
  EXPECT_EQ(first.size(), 2u);
  EXPECT_EQ(second.size(), 2u);
}

// The build's terms of a column come from its code points; the change
// path's from the group's normalised UTF-16 text: both the same.
TEST(Terms, ColumnTermsAgreeWithGroupTerms) {
  TFieldNormalizer normalizer;
  const char* columns[][2] = {{"New York の赤い鳥", "ニューヨークノアカイトリ"},
                              {"𠮷 AI", ""},
                              {"", "b"},
                              {"ー", "Ab ab"}};
  for (const auto& pair : columns) {
    std::vector<TTermAt> from_points, from_text;
    std::u16string text;
    for (uint32_t c = 0; c < 2; ++c) {
      add_column_terms('a', c, normalizer.normalize(pair[c]), from_points);
      if (c > 0) text.push_back(kColumnBreak);
      text += normalize_text(U(pair[c]));
    }
    add_group_terms('a', text, from_text);
    ASSERT_EQ(from_points.size(), from_text.size()) << pair[0];
    for (size_t i = 0; i < from_text.size(); ++i) {
      EXPECT_EQ(from_points[i].term, from_text[i].term) << pair[0] << " " << i;
      EXPECT_EQ(from_points[i].pos, from_text[i].pos) << pair[0] << " " << i;
    }
  }
}

TEST(Terms, IsbnGramsAndLookups) {
  std::vector<TTerm> grams;
  add_isbn_terms("123", grams);
  EXPECT_EQ(grams, (std::vector<TTerm>{pack_term("i123z"), pack_term("i23zz"), pack_term("i3zzz")}));
  // A short key is the range of the grams it begins.
  const TIsbnLookup short_key = isbn_lookup("12");
  EXPECT_LE(short_key.low, pack_term("i123z"));
  EXPECT_GT(short_key.high, pack_term("i12zz"));
  EXPECT_LE(short_key.high, pack_term("i13"));
  auto grams_of = [](const std::string& key) {
    std::vector<std::string> out;
    for (TTerm t : isbn_lookup(key).grams) out.push_back(term_bytes(t));
    return out;
  };
  EXPECT_EQ(grams_of("1234"), (std::vector<std::string>{"i1234"}));
  EXPECT_EQ(grams_of("123456"), (std::vector<std::string>{"i3456", "i1234"}));
  // Not the 9784 that nearly every ISBN-13 begins with.
  EXPECT_EQ(grams_of("9784101010014"), (std::vector<std::string>{"i0014", "i0101"}));
  EXPECT_EQ(grams_of("9784"), (std::vector<std::string>{"i9784"}));
}

TEST(Lists, CodedAndChanged) {
  const std::vector<int64_t> ids = {1, 2, 130, 20000, 4000000000};
  std::vector<int64_t> back;
  decode_ids(encode_ids(ids), back);
  EXPECT_EQ(back, ids);
  // Segments are coded each from zero and read one after another.
  back.clear();
  decode_ids(encode_ids({1, 5}), back);
  decode_ids(encode_ids({9, 300}), back);
  EXPECT_EQ(back, (std::vector<int64_t>{1, 5, 9, 300}));
  std::string cut = encode_ids({300});
  cut.pop_back();
  EXPECT_THROW(decode_ids(cut, back), EMirelSearch);
  EXPECT_EQ(apply_changes({1, 3, 5, 7}, {3, 7}, {2, 8}), (std::vector<int64_t>{1, 2, 5, 8}));
  EXPECT_EQ(apply_changes({}, {}, {4}), (std::vector<int64_t>{4}));
}

}  // namespace
}  // namespace Mirelsearch_tlb::detail
