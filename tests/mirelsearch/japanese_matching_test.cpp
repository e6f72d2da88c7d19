// What visitors type against how catalogues write it: spaces and punctuation,
// variant kanji, iteration marks, the spellings of readings, company forms of
// publishers, Latin word starts and pasted ISBN labels, each rule both ways on
// a small catalogue of our own, and the pairs that must stay apart.
#include <gtest/gtest.h>

#include <functional>

#include "tests/mirelsearch/catalogue_fixture.h"

namespace Mirelsearch_tlb::testing {
namespace {

using Mirel::U;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;

TBook make(long long n, const char* syomei, const char* syokana = "", const char* chosya = "",
           const char* chokana = "", const char* syupan = "") {
  TBook b = book(n, syomei);
  b.syokana = syokana;
  b.chosya = chosya;
  b.chokana = chokana;
  b.syupan = syupan;
  return b;
}

TLibraryBuilder japanese_catalogue() {
  TLibraryBuilder lib;
  lib.add_book(make(1, "ハリー・ポッターと賢者の石", "ハリー ポッター ト ケンジャ ノ イシ",
                    "J・K・ローリング", "ローリング J K", "株式会社静山社"));
  lib.add_book(make(2, "廣島の鐵道", "ﾋﾛｼﾏ ﾉ ﾃﾂﾄﾞｳ", "濱田 太郎", "ハマダ タロウ",
                    "（株）鉄道出版"));
  lib.add_book(make(3, "髙橋是清伝", "タカハシ コレキヨ デン", "髙橋 一郎", "たかはし いちろう",
                    "㈱中央公論"));
  lib.add_book(make(4, "渡邊家の人々", "ワタナベケ ノ ヒトビト", "渡邉 花子", "", "有限会社 みすず書房"));
  lib.add_book(make(5, "齋藤茂吉歌集", "サイトウ モキチ カシュウ", "齋藤 茂吉"));
  lib.add_book(make(6, "斉藤和義の音楽", "サイトウ カズヨシ ノ オンガク", "斉藤 和義"));
  lib.add_book(make(7, "ヴァイオリンの歴史", "ヴァイオリン ノ レキシ"));
  lib.add_book(make(8, "バイオリン教本", "ﾊﾞｲｵﾘﾝ ｷｮｳﾎﾝ"));
  lib.add_book(make(9, "コンピューター入門", "コンピューター ニュウモン"));
  lib.add_book(make(10, "コンピュ－タ概論", "コンピュ－タ ガイロン"));
  lib.add_book(make(11, "ビル建築", "ビル ケンチク"));
  lib.add_book(make(12, "ビールの本", "ビール ノ ホン"));
  lib.add_book(make(13, "バス路線図", "バス ロセンズ"));
  lib.add_book(make(14, "パスワード管理", "パスワード カンリ"));
  lib.add_book(make(15, "きょうの料理", "キョウ ノ リョウリ"));
  lib.add_book(make(16, "器用な人", "キヨウ ナ ヒト"));
  lib.add_book(make(17, "AI for Everyone", "", "Smith, John"));
  lib.add_book(make(18, "Happy trails"));
  lib.add_book(make(19, "佐々木小次郎", "ササキ コジロウ", "佐佐木 信綱"));
  lib.add_book(make(20, "いすゞの歴史", "イスズ ノ レキシ"));
  lib.add_book(make(21, "1,000円でできる料理"));
  lib.add_book(make(22, "C++入門"));
  lib.add_book(make(23, "C#入門"));
  lib.add_book(make(24, "3ヶ月で学ぶ英語", "サンカゲツ デ マナブ エイゴ"));
  lib.add_book(make(25, "ティーンの本", "ティーン ノ ホン"));
  lib.add_book(make(26, "鼻血の話", "ハナヂ ノ ハナシ"));
  lib.add_book(make(27, "山﨑豊子全集", "", "山﨑 豊子"));
  lib.add_book(make(28, "埼玉の歴史", "サイタマ ノ レキシ"));
  TBook b = make(29, "東京～大阪", "トウキョウ オオサカ");
  b.isbn = "978-4-10-101001-4";
  lib.add_book(b);
  lib.add_book(make(30, "ロミオ＝ジュリエット「愛」の物語", "", "シェイクスピア、W"));
  lib.add_book(make(31, "2ヵ国語辞典"));
  return lib;
}

using Setup = std::function<void(Tmirel_search&)>;

struct TCase {
  const char* name;
  Setup setup;
  std::vector<long long> hits;
};

template <typename Keyword>
Setup with(const char* text) {
  return [text](Tmirel_search& s) { s.add_keyword(keyword<Keyword>(U(text))); };
}
Setup title(const char* text) { return with<Tkw_syomei_ex>(text); }
Setup author(const char* text) { return with<Tkw_chosya_ex>(text); }
Setup publisher(const char* text) { return with<Tkw_syupan>(text); }
Setup isbn(const char* text) { return with<Tkw_isbn>(text); }

class JapaneseMatching : public ::testing::TestWithParam<TCase> {};

TEST_P(JapaneseMatching, FindsExactlyTheseBooks) {
  TCatalogueDir dir;
  dir.write(japanese_catalogue());
  Tmirel_search search;
  GetParam().setup(search);
  search.set_flag(true);
  EXPECT_EQ(hit_numbers(search), GetParam().hits);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, JapaneseMatching,
    ::testing::Values(
        // Spaces: typed without the record's space, or with one it lacks (AND).
        TCase{"NameWithoutTheSpace", author("濱田太郎"), {2}},
        TCase{"ReadingWordByWordTypedAsOneRun", title("けんじゃのいし"), {1}},
        TCase{"KatakanaReadingAsOneRun", author("ハマダタロウ"), {2}},
        TCase{"SpaceTheRecordLacksSeparatesWords", title("髙橋 是清"), {3}},
        TCase{"WordsAreStillAnded", title("ハリー 石"), {1}},
        TCase{"WordsAndedOneMissing", title("ハリー 鉄"), {}},
        // Punctuation inside titles and names.
        TCase{"NakaguroInTitle", title("ハリーポッター"), {1}},
        TCase{"NakaguroTyped", title("ハリー・ポッター"), {1}},
        TCase{"HalfWidthNakaguroTyped", title("ﾊﾘｰ･ﾎﾟｯﾀｰ"), {1}},
        TCase{"NakaguroInName", author("JKローリング"), {1}},
        TCase{"BracketsAndEqualsSign", title("ロミオジュリエット愛の"), {30}},
        TCase{"BracketsTyped", title("「愛」"), {30}},
        TCase{"ReadingPointInAuthor", author("シェイクスピアW"), {30}},
        TCase{"ThousandsComma", title("1000円"), {21}},
        TCase{"ThousandsCommaTyped", title("1,000円"), {21}},
        TCase{"SymbolsKeptInCpp", title("C++"), {22}},
        TCase{"SymbolsKeptInCsharp", title("c#"), {23}},
        // Variant kanji, both ways, cp932 extension characters included.
        TCase{"OldFormInRecordNewTyped", title("広島の鉄道"), {2}},
        TCase{"OldFormTyped", title("廣島"), {2}},
        TCase{"OldFormTypedNewInRecord", publisher("鐵道出版"), {2}},
        TCase{"OldHamaInRecord", author("浜田"), {2}},
        TCase{"HashigoDakaInRecord", title("高橋"), {3}},
        TCase{"HashigoDakaTyped", author("髙橋"), {3}},
        TCase{"WatanabeBothVariants", title("渡辺"), {4}},
        TCase{"WatanabeVariantAgainstVariant", author("渡邊"), {4}},
        TCase{"SaitoOldForm", author("斎藤"), {5}},
        TCase{"SaitoOldFormTyped", title("齋藤"), {5}},
        TCase{"OtherSaitoOldForm", author("齊藤"), {6}},
        TCase{"TatsuSakiInRecord", author("山崎"), {27}},
        TCase{"TatsuSakiTyped", title("山﨑"), {27}},
        // Iteration marks.
        TCase{"IterationMarkInRecord", title("佐佐木"), {19}},
        TCase{"IterationMarkTyped", author("佐々木"), {19}},
        TCase{"KanaIterationMark", title("いすず"), {20}},
        TCase{"KanaIterationMarkTyped", title("イスゞ"), {20}},
        // Long vowel look-alikes after kana.
        TCase{"DashInRecordAfterKana", title("コンピュータ"), {9, 10}},
        TCase{"HyphenTypedForLongVowel", title("コンピュ-タ概論"), {10}},
        TCase{"HorizontalBarTyped", title("ビ―ル"), {12}},
        // ヴ and its row, in hiragana, katakana and half-width readings.
        TCase{"VuRowMeetsBaRow", title("バイオリン"), {7, 8}},
        TCase{"VuTyped", title("ヴァイオリン"), {7, 8}},
        TCase{"VuInHiragana", title("ゔぁいおりん"), {7, 8}},
        // Small vowels, ヶ, ヂ/ヅ.
        TCase{"SmallKaTypedAsKa", title("2カ国語"), {31}},
        TCase{"SmallKeTypedAsLargeKe", title("3ケ月"), {24}},
        TCase{"SmallIMeetsLarge", title("テイーン"), {25}},
        TCase{"DiInReadingTypedAsJi", title("はなじ"), {26}},
        // Publishers with and without their company form.
        TCase{"PublisherWithoutKabushikiGaisha", publisher("静山社"), {1}},
        TCase{"PublisherWithKabushikiGaisha", publisher("株式会社静山社"), {1}},
        TCase{"PublisherWithEnclosedKabu", publisher("㈱静山社"), {1}},
        TCase{"PublisherWithBracketedKabu", publisher("（株）中央公論"), {3}},
        TCase{"PublisherWithYugenGaisha", publisher("有限会社みすず書房"), {4}},
        // Latin words from the start of a word; kana and kanji anywhere.
        TCase{"LatinWordStart", title("ai"), {17}},
        TCase{"LatinWordStartUpperCase", title("AI"), {17}},
        TCase{"LatinLaterWord", title("every"), {17}},
        TCase{"LatinAuthorWord", author("john"), {17}},
        TCase{"LatinWordsRunTogether", title("aifor"), {17}},
        TCase{"KanaAnywhere", title("ポッター"), {1}},
        // ISBN pasted with its label.
        TCase{"IsbnLabel13", isbn("ISBN-13: 978-4-10-101001-4"), {29}},
        TCase{"IsbnLabelGlued", isbn("ISBN4-10-101001-3"), {29}},
        TCase{"IsbnLabelFullWidth", isbn("ＩＳＢＮ：９７８４１０１０１００１４"), {29}},
        // The wave dash as a Mac types it meets code page 932's ～.
        TCase{"WaveDash", title("東京〜大阪"), {29}},
        // Precision: what must NOT match.
        TCase{"SaitoOldFormIsNotTheOtherSaito", author("齋藤"), {5}},
        TCase{"OtherSaitoIsNotSaito", title("斉藤"), {6}},
        TCase{"BiruIsNotBiiru", title("ビル"), {11}},
        TCase{"BiiruIsNotBiru", title("びーる"), {12}},
        TCase{"BasuIsNotPasu", title("バス"), {13}},
        TCase{"PasuIsNotBasu", title("パス"), {14}},
        TCase{"KyouIsNotKiyou", title("きょうの"), {15}},
        TCase{"KiyouIsNotKyou", title("キヨウ"), {16}},
        TCase{"LatinNotInsideAName", author("mith"), {}},
        TCase{"LatinRailsNotTrails", title("rails"), {}},
        TCase{"LatinWordEndIsNotAStart", title("one"), {}},
        TCase{"SaiIsNotSaki", author("山埼"), {}},
        TCase{"CompanyFormAloneFindsNothing", publisher("株式会社"), {}},
        TCase{"PunctuationAloneFindsNothing", title("・「」"), {}},
        TCase{"VuIsNotU", title("ういおりん"), {}},
        TCase{"VoicedIsNotUnvoiced", title("はなち"), {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace Mirelsearch_tlb::testing
