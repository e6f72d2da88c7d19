// Which books each keyword kind finds on a small catalogue: width, letter
// case and kana folding, several words, ISBN forms, exact book ids, text
// that means something to SQL, and deleted records.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "mirelsearch/normalize.h"
#include "mirelsearch/posting_index.h"
#include "mirelsearch/query_plan.h"
#include "tests/mirelsearch/catalogue_fixture.h"

namespace Mirelsearch_tlb::testing {
namespace {

using Mirel::U;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;

TLibraryBuilder standard_catalogue() {
  TLibraryBuilder lib;
  TBook b = book(1, "吾輩は猫である");
  b.syokana = "ワガハイハネコデアル";
  b.chosya = "夏目漱石";
  b.chokana = "ナツメソウセキ";
  b.syupan = "新潮社";
  b.isbn = "4-10-101001-3";
  b.kenmei = "日本文学";
  b.naiyo = "猫の目から見た人間社会";
  lib.add_book(b);
  b = book(2, "ＡＢＣ入門");
  b.syokana = "エービーシーニュウモン";
  b.chosya = "Smith, John";
  b.syupan = "岩波書店";
  b.isbn = "9780804429573";
  lib.add_book(b);
  b = book(3, "ｶﾀｶﾅの本");
  b.chosya = "山田太郎";
  lib.add_book(b);
  b = book(4, "100% 完全ガイド");
  b.chosya = "O'Brien";
  lib.add_book(b);
  lib.add_book(book(5, "file_name の話"));
  lib.add_book(book(6, "C:\\path の謎"));
  b = book(7, "猫と暮らす");
  b.chosya = "夏目";
  b.deleted = true;
  lib.add_book(b);
  b = book(8, "データベース入門");
  b.syupan = "オーム社";
  b.kenmei = "情報処理";
  lib.add_book(b);
  lib.add_book(book(9, "ねこの手帖"));
  b = book(10, "Database Systems");
  b.chosya = "DATE, C.J.";
  lib.add_book(b);
  lib.add_book(book(11, "猫"));
  b = book(0, "短い番号");
  b.bookid = "12345";
  lib.add_book(b);
  b = book(13, "犬の本");
  b.naiyo = "猫";
  lib.add_book(b);
  return lib;
}

using Setup = std::function<void(Tmirel_search&)>;

struct TMatchCase {
  const char* name;
  Setup setup;
  std::vector<long long> hits;
};

template <typename Keyword>
Setup with(const char* text, int32_t match = 0) {
  return [text, match](Tmirel_search& s) { s.add_keyword(keyword<Keyword>(U(text), match)); };
}

Setup both(Setup a, Setup b) {
  return [a, b](Tmirel_search& s) {
    a(s);
    b(s);
  };
}

class Matching : public ::testing::TestWithParam<TMatchCase> {};

TEST_P(Matching, FindsExactlyTheseBooks) {
  TCatalogueDir dir;
  dir.write(standard_catalogue());
  Tmirel_search search;
  GetParam().setup(search);
  search.set_flag(true);
  EXPECT_EQ(hit_numbers(search), GetParam().hits);
}

const std::vector<long long> kAllLive = {1, 2, 3, 4, 5, 6, 8, 9, 10, 11, 13, 12345};

INSTANTIATE_TEST_SUITE_P(
    Keywords, Matching,
    ::testing::Values(
        // Titles: one character, also at the very end of a field; deleted
        // record 7 never appears; the contents field is not a title.
        TMatchCase{"TitleOneKanji", with<Tkw_syomei_ex>("猫"), {1, 11}},
        TMatchCase{"TitleHiraganaFindsReading", with<Tkw_syomei_ex>("ねこ"), {1, 9}},
        TMatchCase{"TitleKatakanaFoldsToHiragana", with<Tkw_syomei_ex>("ネコ"), {1, 9}},
        TMatchCase{"TitleHalfWidthKatakana", with<Tkw_syomei_ex>("ﾈｺ"), {1, 9}},
        TMatchCase{"TitleFullWidthStoredFoundByAscii", with<Tkw_syomei_ex>("abc"), {2}},
        TMatchCase{"TitleFullWidthKeyword", with<Tkw_syomei_ex>("ＡＢＣ"), {2}},
        TMatchCase{"TitleHalfWidthStored", with<Tkw_syomei_ex>("かたかな"), {3}},
        TMatchCase{"TitleLetterCase", with<Tkw_syomei_ex>("DATABASE"), {10}},
        TMatchCase{"TitleTwoWords", with<Tkw_syomei_ex>("吾輩 猫"), {1}},
        TMatchCase{"TitleIdeographicSpace", with<Tkw_syomei_ex>("吾輩　猫"), {1}},
        TMatchCase{"TitleWordsInTitleAndReading", with<Tkw_syomei_ex>("吾輩  ねこ"), {1}},
        TMatchCase{"TitleWordMissing", with<Tkw_syomei_ex>("吾輩 犬"), {}},
        TMatchCase{"TitleWordsNotAdjacent", with<Tkw_syomei_ex>("吾輩猫"), {}},
        TMatchCase{"BlankKeywordMatchesAll", with<Tkw_syomei_ex>(" 　 "), kAllLive},
        TMatchCase{"PercentIsLiteral", with<Tkw_syomei_ex>("%"), {4}},
        TMatchCase{"PercentAfterDigits", with<Tkw_syomei_ex>("0%"), {4}},
        TMatchCase{"UnderscoreIsLiteral", with<Tkw_syomei_ex>("_"), {5}},
        TMatchCase{"BackslashIsLiteral", with<Tkw_syomei_ex>("\\"), {6}},
        TMatchCase{"QuoteIsLiteral", with<Tkw_chosya_ex>("o'b"), {4}},
        TMatchCase{"DoubleQuoteFindsNothing", with<Tkw_syomei_ex>("\""), {}},
        TMatchCase{"FtsSyntaxIsText", with<Tkw_syomei_ex>("NOT OR AND *"), {}},
        // Authors, publishers, contents.
        TMatchCase{"Author", with<Tkw_chosya_ex>("漱石"), {1}},
        TMatchCase{"AuthorReading", with<Tkw_chosya_ex>("そうせき"), {1}},
        TMatchCase{"AuthorAscii", with<Tkw_chosya_ex>("smith"), {2}},
        TMatchCase{"AuthorIsNotTitle", with<Tkw_chosya_ex>("猫"), {}},
        TMatchCase{"Publisher", with<Tkw_syupan>("岩波"), {2}},
        TMatchCase{"PublisherOneCharacter", with<Tkw_syupan>("社"), {1, 8}},
        TMatchCase{"Content", with<Tkw_content>("文学"), {1}},
        TMatchCase{"ContentSubjectAndContents", with<Tkw_content>("猫"), {1, 13}},
        // ISBN: digits and X only, both forms of a complete ISBN.
        TMatchCase{"IsbnWithHyphens", with<Tkw_isbn>("4-10-101001-3"), {1}},
        TMatchCase{"IsbnDigits", with<Tkw_isbn>("4101010013"), {1}},
        TMatchCase{"Isbn13FindsIsbn10", with<Tkw_isbn>("978-4-10-101001-4"), {1}},
        TMatchCase{"Isbn10FindsIsbn13", with<Tkw_isbn>("0-8044-2957-X"), {2}},
        TMatchCase{"Isbn10LowerX", with<Tkw_isbn>("080442957x"), {2}},
        TMatchCase{"IsbnFullWidth", with<Tkw_isbn>("４１０１０１００１３"), {1}},
        TMatchCase{"IsbnSpacesIgnored", with<Tkw_isbn>("410 1010 013"), {1}},
        TMatchCase{"IsbnPart", with<Tkw_isbn>("1010"), {1}},
        TMatchCase{"IsbnShortPart", with<Tkw_isbn>("957"), {2}},
        TMatchCase{"IsbnLongPart", with<Tkw_isbn>("010100134"), {}},
        TMatchCase{"IsbnLongPartOfOtherForm", with<Tkw_isbn>("78410101"), {1}},
        TMatchCase{"IsbnLettersOnly", with<Tkw_isbn>("ISBN"), {}},
        // Book ids: exact after trailing blanks; other matches are substrings.
        TMatchCase{"BookIdExact", with<Tkw_bookid>("0000000001", 3), {1}},
        TMatchCase{"BookIdTrailingBlanks", with<Tkw_bookid>("0000000001  ", 3), {1}},
        TMatchCase{"BookIdPrefixIsNotExact", with<Tkw_bookid>("000000000", 3), {}},
        TMatchCase{"BookIdShort", with<Tkw_bookid>("12345", 3), {12345}},
        TMatchCase{"BookIdDeleted", with<Tkw_bookid>("0000000007", 3), {}},
        TMatchCase{"BookIdBlank", with<Tkw_bookid>("   ", 3), {}},
        TMatchCase{"BookIdSubstring", with<Tkw_bookid>("01"), {1, 10, 11, 13}},
        // Every condition narrows the result.
        TMatchCase{"TitleAndAuthor",
                   both(with<Tkw_syomei_ex>("猫"), with<Tkw_chosya_ex>("夏目")), {1}},
        TMatchCase{"BookIdAndTitle",
                   both(with<Tkw_bookid>("0000000011", 3), with<Tkw_syomei_ex>("猫")), {11}},
        TMatchCase{"BookIdAndOtherTitle",
                   both(with<Tkw_bookid>("0000000011", 3), with<Tkw_syomei_ex>("犬")), {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The index must give exactly what a plain scan gives: every substring of
// one to four characters of every title, compared with a direct test; with
// the lists in one segment and in a segment per record.
TEST(MatchingIndex, AgreesWithPlainSubstringTest) {
  TCatalogueDir dir;
  TLibraryBuilder lib;
  const std::vector<std::string> titles = {"あいうあい", "いうえお", "あいあいあい", "うえおあ",
                                           "おあいう", "えおえお", "あ", "いい"};
  for (size_t i = 0; i < titles.size(); ++i) lib.add_book(book(static_cast<long long>(i + 1), titles[i]));
  dir.write(lib);
  for (const size_t segment : {size_t{0}, size_t{1}}) {
    detail::set_segment_bytes(segment);
    std::filesystem::remove(dir.lib_dir() + "/mirelweb-cache/master.sqlite");
    for (const auto& source : titles) {
      const Mirel::UnicodeString text = U(source);
      for (size_t from = 0; from < text.size(); ++from) {
        for (size_t len = 1; len <= 4 && from + len <= text.size(); ++len) {
          const Mirel::UnicodeString word = text.substr(from, len);
          std::vector<long long> expected;
          for (size_t i = 0; i < titles.size(); ++i)
            if (U(titles[i]).find(word) != Mirel::UnicodeString::npos)
              expected.push_back(static_cast<long long>(i + 1));
          Tmirel_search search;
          search.add_keyword(keyword<Tkw_syomei_ex>(word));
          EXPECT_EQ(hit_numbers(search), expected) << Mirel::to_utf8(word) << " " << segment;
        }
      }
    }
  }
  detail::set_segment_bytes(0);
}

// Positions decide a longer word: a bigram repeated inside the word and the
// text (ああああ), a word whose bigrams are in both columns of the group
// but never in a row in one, and Latin words that must begin a word of the
// text. Every substring of one to five characters of every column, and the
// strings across the columns, must find what a scan of the normalised
// columns finds; with the lists in one segment and in a segment per record.
TEST(MatchingIndex, PositionsAgreeWithScan) {
  const std::vector<std::pair<std::string, std::string>> books = {
      {"ああああ", ""},         {"あああ", "ああ"},     {"あい", "うえ"},
      {"いうあい", "あいう"},   {"news york", "new"}, {"york new", "ababab"},
      {"abab", "ba"},           {"あいあう", "いあい"},
  };
  TCatalogueDir dir;
  TLibraryBuilder lib;
  for (size_t i = 0; i < books.size(); ++i) {
    TBook b = book(static_cast<long long>(i + 1), books[i].first);
    b.syokana = books[i].second;
    lib.add_book(b);
  }
  dir.write(lib);
  std::vector<Mirel::UnicodeString> words = {U("あいうえ"), U("いう"), U("あいう"), U("ああああ")};
  for (const auto& [title, reading] : books) {
    for (const Mirel::UnicodeString& text : {U(title), U(reading)})
      for (size_t from = 0; from < text.size(); ++from)
        for (size_t len = 1; len <= 5 && from + len <= text.size(); ++len)
          if (text.substr(from, len).find(u' ') == Mirel::UnicodeString::npos)
            words.push_back(text.substr(from, len));
  }
  for (const size_t segment : {size_t{0}, size_t{1}}) {
    detail::set_segment_bytes(segment);
    std::filesystem::remove(dir.lib_dir() + "/mirelweb-cache/master.sqlite");
    for (const auto& word : words) {
      const Mirel::UnicodeString wanted = detail::normalize_text(word);
      std::vector<long long> expected;
      for (size_t i = 0; i < books.size(); ++i)
        if (detail::contains_normalized(detail::normalize_text(U(books[i].first)), wanted) ||
            detail::contains_normalized(detail::normalize_text(U(books[i].second)), wanted))
          expected.push_back(static_cast<long long>(i + 1));
      Tmirel_search search;
      search.add_keyword(keyword<Tkw_syomei_ex>(word));
      EXPECT_EQ(hit_numbers(search), expected) << Mirel::to_utf8(word) << " " << segment;
    }
  }
  detail::set_segment_bytes(0);
}

// Words of every kind together: a title word of two characters with
// one-character words and with ISBN fragments of one to three digits. Each
// combination must find exactly the books a plain scan finds (the count
// included, which hit_numbers checks against the rows).
TLibraryBuilder mixed_catalogue(std::vector<std::pair<std::string, std::string>>& books) {
  const char* titles[] = {"ほしぞらのうた", "よるのほしぞら", "うみのうた", "ほしのうみ", "そら",
                          "ほしぞら", "のはら", "うたのほし"};
  const char* isbns[] = {"9791234567890", "9794567123450", "", "9790000000017", "9798765432100",
                         "9791111222233", "9794444444444", "9797897897897"};
  TLibraryBuilder lib;
  for (int i = 0; i < 24; ++i) {
    TBook b = book(i + 1, titles[i % 8]);
    b.isbn = isbns[(i * 5) % 8];
    books.emplace_back(b.syomei, b.isbn);
    lib.add_book(b);
  }
  return lib;
}

TEST(MatchingIndex, MixedWordsAgreeWithPlainSubstringTest) {
  TCatalogueDir dir;
  std::vector<std::pair<std::string, std::string>> books;
  dir.write(mixed_catalogue(books));
  const std::vector<std::string> titles = {"ほしぞら", "ほし", "うた", "の", "の う", "ほし の ら",
                                           "の の"};
  const std::vector<std::string> isbns = {"", "4", "7", "12", "89", "789", "000", "444", "1234"};
  for (const std::string& words : titles) {
    for (const std::string& key : isbns) {
      std::vector<long long> expected;
      for (size_t i = 0; i < books.size(); ++i) {
        bool hit = books[i].second.find(key) != std::string::npos;
        for (const Mirel::UnicodeString& word : detail::split_words(U(words)))
          hit = hit && U(books[i].first).find(word) != Mirel::UnicodeString::npos;
        if (hit) expected.push_back(static_cast<long long>(i + 1));
      }
      Tmirel_search search;
      search.add_keyword(keyword<Tkw_syomei_ex>(U(words)));
      if (!key.empty()) search.add_keyword(keyword<Tkw_isbn>(U(key)));
      EXPECT_EQ(hit_numbers(search), expected) << words << " / " << key;
    }
  }
}

// A search reads each word's lists of records once and nothing per hit: the
// records it visits are at most its words' lists (a word of three or more
// characters: the lists of its pairs of characters), plus the rows it shows.
TEST(MatchingIndex, CostIsBoundedByTheWordsLists) {
  TCatalogueDir dir;
  std::vector<std::pair<std::string, std::string>> books;
  dir.write(mixed_catalogue(books));
  auto count_of = [](std::shared_ptr<Istring_keyword> k) {
    Tmirel_search s;
    s.add_keyword(std::move(k));
    s.open(kAlias);
    return static_cast<int64_t>(s.get_record_count());
  };
  const struct {
    const char* title;
    const char* isbn;
    const char* order;
  } cases[] = {{"ほしぞら の う", "4", ""}, {"うた の", "78", "MS_SYOMEI"}, {"の ほし の", "9", ""}};
  for (const auto& c : cases) {
    int64_t lists = count_of(keyword<Tkw_isbn>(U(c.isbn)));
    for (const auto& word : detail::split_words(U(c.title))) {
      if (word.size() < 3) lists += count_of(keyword<Tkw_syomei_ex>(word));
      for (size_t i = 0; word.size() >= 3 && i + 1 < word.size(); ++i)
        lists += count_of(keyword<Tkw_syomei_ex>(word.substr(i, 2)));
    }
    Tmirel_search search;
    search.add_keyword(keyword<Tkw_syomei_ex>(U(c.title)));
    search.add_keyword(keyword<Tkw_isbn>(U(c.isbn)));
    if (*c.order) {
      auto order = std::make_shared<Tsql_order>();
      order->set_field_name(U(c.order));
      search.set_sort(order);
    }
    const auto hits = static_cast<int64_t>(hit_numbers(search).size());
    ASSERT_GT(hits, 0) << c.title;
    const int64_t visited = detail::records_visited(search);
    EXPECT_GE(visited, hits);
    EXPECT_LE(visited, lists + 2 * hits + 2) << c.title << " / " << c.isbn;
  }
}

}  // namespace
}  // namespace Mirelsearch_tlb::testing
