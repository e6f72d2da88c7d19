// Normalisation, ISBN forms and the SQL a plan writes: the pieces under the
// catalogue search, tested on their own.
#include "mirelsearch/normalize.h"

#include <gtest/gtest.h>

#include "mirelsearch/query_plan.h"

namespace Mirelsearch_tlb::detail {
namespace {

using Mirel::U;

struct TNormalizeCase {
  const char* input;
  const char* expected;
};

class Normalize : public ::testing::TestWithParam<TNormalizeCase> {};

TEST_P(Normalize, FoldsWidthCaseAndKana) {
  EXPECT_EQ(Mirel::to_utf8(normalize_text(U(GetParam().input))), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Normalize,
    // \x01 is kWordStart, before a Latin letter that begins a word.
    ::testing::Values(TNormalizeCase{"ABC def", "\x01" "abc\x01" "def"},  // ASCII fast path
                      TNormalizeCase{"ＡＢＣ１２３", "\x01" "abc123"},      // full-width forms
                      TNormalizeCase{"1Q84 第3版", "1q84第3版"},  // after a digit: no start
                      TNormalizeCase{"ｶﾀｶﾅ", "かたかな"},         // half-width katakana
                      TNormalizeCase{"ｶﾞｯｺｳ", "がっこう"},        // voiced mark composed
                      TNormalizeCase{"ガッコウ", "がっこう"},
                      TNormalizeCase{"ヽヾ", "ゝゞ"},             // nothing to repeat
                      TNormalizeCase{"いすゞ ぶゝ", "いすずぶふ"},  // iteration marks
                      TNormalizeCase{"佐々木 人々", "佐佐木人人"},
                      TNormalizeCase{"ヴ ヴァ ヴュ ヷ", "ぶばびゅば"},
                      TNormalizeCase{"ァヶヂヅ ャュョッ", "あけじずゃゅょっ"},
                      TNormalizeCase{"ビル ビ－ル ﾋﾞｰﾙ ビ―ル", "びるびーるびーるびーる"},
                      TNormalizeCase{"1-2 漢-字", "1-2漢-字"},   // a dash not after kana
                      TNormalizeCase{"ー", "ー"},                 // the long mark stays
                      TNormalizeCase{"㈱", "株"},
                      TNormalizeCase{"J・K・ローリング「本」", "\x01" "j\x01" "kろーりんぐ本"},
                      TNormalizeCase{"1,000円 1,0000 a,b", "1000円1,0000\x01" "a,\x01" "b"},
                      TNormalizeCase{"廣 鐵 齋 齊 髙 﨑 邉 邊", "広鉄斎斉高崎辺辺"},
                      TNormalizeCase{"〜", "~"},                  // as code page 932's ～
                      TNormalizeCase{"Ⅻ", "\x01" "xii"},
                      TNormalizeCase{"ÀÉ", "\x01" "àé"},
                      TNormalizeCase{"漢字", "漢字"},
                      TNormalizeCase{"", ""}));

TEST(Normalize, PublisherLosesCompanyForms) {
  for (const char* name : {"株式会社講談社", "講談社（株）", "㈱講談社", "有限会社 講談社", "講談社"})
    EXPECT_EQ(normalize_text(U(name), TFieldKind::publisher), U("講談社")) << name;
  EXPECT_EQ(normalize_text(U("株式会社講談社")), U("株式会社講談社"));  // only publishers
}

TEST(Normalize, WordStartsInContains) {
  EXPECT_TRUE(contains_normalized(normalize_text(u"AI for all"), normalize_text(u"ai")));
  EXPECT_TRUE(contains_normalized(normalize_text(u"AI for all"), normalize_text(u"aifor")));
  EXPECT_TRUE(contains_normalized(normalize_text(u"AI for all"), normalize_text(u"for")));
  EXPECT_FALSE(contains_normalized(normalize_text(u"trails"), normalize_text(u"ai")));
  EXPECT_TRUE(contains_normalized(normalize_text(u"trails"), normalize_text(u"トレ")) == false);
  EXPECT_TRUE(contains_normalized(normalize_text(U("はじめてのPython")), normalize_text(u"python")));
}

struct TIsbnCase {
  const char* key;
  const char* other;
};

class IsbnForms : public ::testing::TestWithParam<TIsbnCase> {};

TEST_P(IsbnForms, OtherForm) { EXPECT_EQ(isbn_other_form(GetParam().key), GetParam().other); }

INSTANTIATE_TEST_SUITE_P(Table, IsbnForms,
                         ::testing::Values(TIsbnCase{"4101010013", "9784101010014"},
                                           TIsbnCase{"9784101010014", "4101010013"},
                                           TIsbnCase{"080442957x", "9780804429573"},
                                           TIsbnCase{"9780804429573", "080442957x"},
                                           TIsbnCase{"9791234567896", ""},  // no ISBN-10 form
                                           TIsbnCase{"410101001", ""},
                                           TIsbnCase{"41010100x3", ""},
                                           TIsbnCase{"", ""}));

TEST(IsbnKey, KeepsDigitsAndX) {
  EXPECT_EQ(isbn_key(U("ISBN 4-10-101001-3")), "4101010013");
  EXPECT_EQ(isbn_key(U("０８０４４２９５７Ｘ")), "080442957x");
  EXPECT_EQ(isbn_key(U("なし")), "");
  // A pasted label is dropped before the digits are taken.
  EXPECT_EQ(isbn_key(U("ISBN-13: 978-4-10-101001-4")), "9784101010014");
  EXPECT_EQ(isbn_key(U("ＩＳＢＮ－１０：4-10-101001-3")), "4101010013");
  EXPECT_EQ(isbn_key(U("isbn13 9784101010014")), "9784101010014");
  EXPECT_EQ(isbn_key(U("ISBN4-10-101001-3")), "4101010013");
  EXPECT_EQ(isbn_key(U("ISBN-13-4")), "134");  // "-13" with no colon or space: key
  EXPECT_EQ(isbn_key(U("13-4")), "134");  // no label, nothing dropped
}

// Grams only say each piece is somewhere; the field decides.
TEST(IsbnContains, EitherFormButNotScatteredGrams) {
  const std::string isbn10 = "4101010013", isbn13 = isbn_other_form("4101010013");
  ASSERT_EQ(isbn13.size(), 13u);
  EXPECT_TRUE(isbn_contains(isbn10, "41010100"));
  EXPECT_TRUE(isbn_contains(isbn10, isbn13.substr(2, 9)));  // only in the other form
  EXPECT_FALSE(isbn_contains(isbn10, "4101010099"));
  // Every gram of "123412341" is among the grams of "1234123"; the key is not in it.
  EXPECT_FALSE(isbn_contains("1234123", "123412341"));
}

TEST(Plan, VisitorTextIsNeverPartOfTheSql) {
  const char* nasty = "x'); DROP TABLE data; --";
  auto bookid = std::make_shared<Tkw_bookid>();
  bookid->set_match(3);
  bookid->set_keyword(U(nasty));
  auto other_id = std::make_shared<Tkw_bookid>();
  other_id->set_keyword(U(nasty));
  auto range = std::make_shared<Trange_ukeire>();
  range->set_range(U(nasty), U(nasty));
  auto order = std::make_shared<Tsql_order>();
  order->set_field_name(U(nasty));
  TQueryPlan plan = make_plan({bookid, other_id}, {range}, order, {"MS_BOOKID", "MS_UKEIRE"});
  EXPECT_TRUE(plan.order_column.empty());
  for (auto strategy : {TRowStrategy::index_driven, TRowStrategy::order_walk,
                        TRowStrategy::table_driven, TRowStrategy::probe_walk}) {
    EXPECT_EQ(rows_sql(plan, "master", strategy).find("DROP"), std::string::npos);
  }
  EXPECT_EQ(count_sql(plan, "master").find("DROP"), std::string::npos);
  EXPECT_EQ(plan.params.size(), 8u);  // the id, five words of the other id, two bounds
}

std::shared_ptr<Isql_order> order_by(const char* field) {
  auto o = std::make_shared<Tsql_order>();
  o->set_field_name(U(field));
  return o;
}

TEST(Plan, LongListsWalkTheBookIdIndex) {
  TQueryPlan plan;
  TIndexTerm term;
  term.terms = {1};
  plan.terms.push_back(term);
  EXPECT_EQ(choose_strategy(plan, 500000, 1000000, 0), TRowStrategy::order_walk);
  EXPECT_EQ(choose_strategy(plan, 2000, 1000000, 0), TRowStrategy::order_walk);
  EXPECT_EQ(choose_strategy(plan, 30, 1000000, 0), TRowStrategy::index_driven);
  EXPECT_EQ(choose_strategy(plan, 2000, 1000000, 1980), TRowStrategy::index_driven);
  // Records in book-id order: the hits as listed are the page, at any depth.
  for (int64_t start : {int64_t{0}, int64_t{1980}})
    EXPECT_EQ(choose_strategy(plan, 2000, 1000000, start, true), TRowStrategy::hit_list);
  plan.order_column = "MS_UKEIRE";
  EXPECT_EQ(choose_strategy(plan, 500000, 1000000, 0), TRowStrategy::index_driven);
  EXPECT_EQ(choose_strategy(plan, 500000, 1000000, 0, true), TRowStrategy::index_driven);
  // A sort column with its own index: walked from the nearer end while the
  // walk is shorter than sorting every hit.
  plan.order_index = "mw_sort_MS_UKEIRE";
  for (int64_t start : {int64_t{0}, int64_t{250000}, int64_t{499990}})
    EXPECT_EQ(choose_strategy(plan, 500000, 1000000, start), TRowStrategy::order_walk) << start;
  EXPECT_EQ(choose_strategy(plan, 30, 1000000, 0), TRowStrategy::index_driven);
  EXPECT_EQ(choose_strategy(plan, 2000, 1000000, 1000), TRowStrategy::index_driven);
  EXPECT_EQ(make_plan({}, {}, order_by("ms_syokana"), {"MS_SYOKANA"}).order_index,
            "mw_sort_MS_SYOKANA");
  EXPECT_EQ(make_plan({}, {}, order_by("MS_SYOMEI"), {"MS_SYOMEI"}).order_index, "");
  plan.order_index.clear();
  plan.order_column.clear();
  plan.terms.clear();  // no word: the table's own indexes find the hits
  EXPECT_EQ(choose_strategy(plan, 1, 1000000, 0), TRowStrategy::table_driven);
}

std::shared_ptr<Istring_keyword> title(const char* text) {
  auto k = std::make_shared<Tkw_syomei_ex>();
  k->set_keyword(U(text));
  return k;
}

TEST(Plan, OneCharacterAloneIsCountedFromTheKeptCounts) {
  TQueryPlan alone = make_plan({title("の")}, {}, nullptr, {});
  EXPECT_TRUE(alone.counted);
  ASSERT_EQ(alone.terms.size(), 1u);
  EXPECT_EQ(alone.count_term, alone.terms[0].terms.at(0));
  EXPECT_EQ(alone.count_columns, (std::vector<std::string>{"MS_SYOMEI", "MS_SYOKANA"}));
  // Many hits and an early page: test books in order instead of reading
  // every hit; a late page or few hits: read the hits.
  EXPECT_EQ(choose_strategy(alone, 700000, 1000000, 980), TRowStrategy::probe_walk);
  EXPECT_EQ(choose_strategy(alone, 700000, 1000000, 600000), TRowStrategy::order_walk);
  EXPECT_EQ(choose_strategy(alone, 30, 1000000, 0), TRowStrategy::index_driven);
  // Records in book-id order: an early page is still tested book by book
  // (cheaper than reading every hit), a late one is read from the hits.
  EXPECT_EQ(choose_strategy(alone, 700000, 1000000, 980, true), TRowStrategy::probe_walk);
  EXPECT_EQ(choose_strategy(alone, 700000, 1000000, 600000, true), TRowStrategy::hit_list);

  // Beside other words every word is a term of its own, each looked up
  // once (repeats too); none has a kept count.
  TQueryPlan mixed = make_plan({title("の 星空 の 星空 星")}, {}, nullptr, {});
  ASSERT_EQ(mixed.terms.size(), 3u);
  EXPECT_EQ(mixed.terms[0].terms.size(), 1u);  // の: its unigram
  EXPECT_EQ(mixed.terms[1].terms.size(), 1u);  // 星空: its bigram, exact
  EXPECT_TRUE(mixed.terms[1].sequence.empty());
  EXPECT_NE(mixed.terms[0].terms, mixed.terms[2].terms);
  EXPECT_FALSE(mixed.counted);
  EXPECT_TRUE(hits_from_index_alone(mixed));
  TQueryPlan twice = make_plan({title("の の")}, {}, nullptr, {});
  EXPECT_EQ(twice.terms.size(), 1u);
  EXPECT_TRUE(twice.counted);
}

TEST(Plan, OneBookIdTestsTheRecordInsteadOfReadingWords) {
  auto bookid = std::make_shared<Tkw_bookid>();
  bookid->set_match(3);
  bookid->set_keyword(u"0000000001");
  auto isbn = std::make_shared<Tkw_isbn>();
  isbn->set_keyword(u"4");
  TQueryPlan plan = make_plan({bookid, title("の 星空"), isbn}, {}, nullptr, {});
  EXPECT_TRUE(plan.terms.empty());
  EXPECT_FALSE(hits_from_index_alone(plan));
  EXPECT_EQ(plan.where.size(), 4u);  // the id, two words, the ISBN key
  EXPECT_EQ(count_sql(plan, "m").find("mw_post"), std::string::npos);
}

}  // namespace
}  // namespace Mirelsearch_tlb::detail

namespace Mirelsearch_tlb::detail {
namespace {

// The shortcut that skips ICU must give exactly what ICU gives, for every
// character it takes and for the neighbours just outside its ranges.
TEST(Normalize, ShortcutAgreesWithIcu) {
  const std::pair<char16_t, char16_t> ranges[] = {
      {0x0000, 0x00FF}, {0x3000, 0x30FF}, {0x4DF0, 0x4E10}, {0x9FF0, 0xA010}, {0xF900, 0xF910},
      {0xFEF0, 0xFFFF}};
  for (auto [from, to] : ranges) {
    for (char32_t c = from; c <= to; ++c) {
      const Mirel::UnicodeString one(1, static_cast<char16_t>(c));
      const Mirel::UnicodeString text = u"あ" + one + u"カ";
      EXPECT_EQ(normalize_text(text), normalize_text_icu(text)) << std::hex << static_cast<uint32_t>(c);
    }
  }
  // A combining sound mark after stable kana composes with it.
  EXPECT_EQ(normalize_text(u"\u30AB\u3099"), u"\u304C");
  // Full-width ASCII and the ideographic space become plain ASCII.
  EXPECT_EQ(normalize_text(u"木村\u3000文／ＡＢＣ１"), u"木村文/\x01" u"abc1");
  EXPECT_EQ(normalize_text(u"木村\u3000文／ＡＢＣ１"), normalize_text_icu(u"木村\u3000文／ＡＢＣ１"));
}

// The build's normaliser takes UTF-8 and gives code points: the same text
// as normalize_text of the UTF-8 read as UTF-16, the word starts flagged.
TEST(Normalize, FieldNormalizerAgreesWithNormalizeText) {
  auto as_utf16 = [](std::u32string_view points) {
    Mirel::UnicodeString out;
    for (char32_t c : points) {
      if ((c & kWordStartFlag) != 0) out.push_back(kWordStart);
      c &= ~kWordStartFlag;
      if (c >= 0x10000) {
        out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(c));
      }
    }
    return out;
  };
  std::vector<std::string> texts = {
      "ABC def", "ＡＢＣ１２３", "ｶﾞｯｺｳ ヴァ", "いすゞ 佐々木", "ビ－ル 1-2", "㈱講談社",
      "株式会社 講談社（株）", "J・K・ローリング「本」", "1,000円 a,b", "廣 髙 﨑", "〜Ⅻ ÀÉ",
      "𠮷野家", "\xff\xfe", "a\xe3\x81", "\xed\xa0\x80", "\xc0\xaf", "tab\tline\nend", ""};
  for (char16_t c = 0x20; c < 0x3100; c += 7)
    texts.push_back("あ" + Mirel::to_utf8(std::u16string(1, c)) + "カ");
  TFieldNormalizer normalizer;
  for (const std::string& text : texts)
    for (TFieldKind kind : {TFieldKind::general, TFieldKind::publisher})
      EXPECT_EQ(as_utf16(normalizer.normalize(text, kind)),
                normalize_text(Mirel::from_utf8(text), kind))
          << text;
}

}  // namespace
}  // namespace Mirelsearch_tlb::detail
