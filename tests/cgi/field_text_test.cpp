// The UTF-8 rule of request fields on real keywords, both ways: each written
// in code page 932 must be read as code page 932, each written in UTF-8 as
// UTF-8 (docs/searching.md has the same table).
#include "cgi/field_text.h"

#include <gtest/gtest.h>

#include "cgi/field_decoder.h"
#include "dbase/catalogue_words.h"
#include "dbase/sample_books.h"

namespace Mirel::MirelWeb {
namespace {

// Titles, names and publishers with common and rare kanji (the second half
// of JIS level 2, where a code page 932 text could look like UTF-8 at all:
// 漾 燿 窶 熙 ...), the extension characters of names (髙 﨑 濵), kana of
// both widths, and ASCII mixed in.
const char* const kKeywords[] = {
    "吾輩は猫である", "夏目漱石", "源氏物語", "日本の歴史", "図書館", "広辞苑",
    "ハリー・ポッター", "村上春樹", "銀河鉄道の夜", "講談社", "岩波書店", "髙橋", "山﨑",
    "渡邉", "齋藤", "濵田", "薔薇", "檸檬", "熙子", "燿子", "漾", "窶", "罨法", "膣",
    "蕁麻疹", "諤々", "躑躅", "顰蹙", "鬮", "鴾色", "黶", "瀞峡", "薔薇の名前", "鷦鷯",
    "ｶﾀｶﾅ", "ﾃﾞｰﾀﾍﾞｰｽ", "ﾅｶﾏｽ", "～", "Ｃ＋＋入門", "1Q84", "①②", "Python入門",
    "入門Python", "ねこ", "ネコ", "猫",
};

TEST(FieldText, RealKeywordsBothWays) {
  for (const char* keyword : kKeywords) {
    const UnicodeString text = U(keyword);
    const std::string cp932 = to_ansi(text), utf8 = to_utf8(text);
    EXPECT_FALSE(reads_as_utf8(cp932)) << keyword << " in code page 932";
    EXPECT_EQ(field_bytes_to_text(cp932), text) << keyword;
    EXPECT_EQ(field_bytes_to_text(utf8), text) << keyword << " in UTF-8";
  }
}

// Every text of the sample catalogue (226 real books: titles, readings,
// authors, publishers, subjects, contents notes) and every word of the
// synthetic catalogue's lists, whole and cut into two-character pieces.
TEST(FieldText, CatalogueTextsBothWays) {
  std::vector<UnicodeString> texts;
  for (size_t i = 0; i < Dbase::Sample::kTitleCount; ++i) {
    const auto& t = Dbase::Sample::kTitles[i];
    for (const char* s : {t.syomei, t.syokana, t.chosya, t.chokana, t.syupan, t.kenmei, t.naiyo})
      if (s != nullptr) texts.push_back(U(s));
  }
  using namespace Dbase::Words;
  const std::pair<const TWord*, size_t> lists[] = {
      {kNouns, kNounCount}, {kAdjectives, kAdjectiveCount}, {kFamilyNames, kFamilyNameCount},
      {kGivenNames, kGivenNameCount}, {kForeignNames, kForeignNameCount}};
  for (auto [words, n] : lists)
    for (size_t i = 0; i < n; ++i) texts.insert(texts.end(), {U(words[i].text), U(words[i].kana)});
  size_t checked = 0;
  for (const UnicodeString& text : texts) {
    for (size_t from = 0; from < text.size(); ++from) {
      for (size_t length : {size_t{2}, text.size() - from}) {
        const UnicodeString piece = text.substr(from, length);
        const std::string cp932 = to_ansi(piece);
        if (from_ansi(cp932) != piece) continue;  // not all of it in code page 932
        ++checked;
        EXPECT_FALSE(reads_as_utf8(cp932)) << to_utf8(piece);
        EXPECT_EQ(field_bytes_to_text(to_utf8(piece)), piece);
      }
    }
  }
  EXPECT_GT(checked, 10000u);
}

TEST(FieldText, WhatIsNotReadAsUtf8) {
  EXPECT_FALSE(reads_as_utf8(""));
  EXPECT_FALSE(reads_as_utf8("abc 123"));              // ASCII is both
  EXPECT_FALSE(reads_as_utf8("caf\xC3\xA9"));          // two-byte sequences only
  EXPECT_FALSE(reads_as_utf8("\xE3\x81"));             // cut off
  EXPECT_FALSE(reads_as_utf8("\xE0\x80\x80"));         // overlong
  EXPECT_FALSE(reads_as_utf8("\xED\xA0\x80"));         // a surrogate
  EXPECT_FALSE(reads_as_utf8("\xF4\x90\x80\x80"));     // above U+10FFFF
  EXPECT_FALSE(reads_as_utf8("\xE0\xA0\x80"));         // U+0800, Samaritan: not Japanese text
  EXPECT_TRUE(reads_as_utf8("\xF0\xA0\xAE\xB7"));      // 𠮷
  EXPECT_TRUE(reads_as_utf8("caf\xC3\xA9 \xE3\x81\x82"));
}

TEST(FieldText, RequestFieldsOfEitherEncoding) {
  const TStrings fields =
      decode_request_fields(u"SYOMEI=%E7%8C%AB%E3%81%AE&CHOSYA=%94L%82%CC&KENMEI=%E3%81");
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[0], U("SYOMEI=猫の"));   // UTF-8
  EXPECT_EQ(fields[1], U("CHOSYA=猫の"));   // code page 932
  EXPECT_EQ(fields[2], u"KENMEI=" + from_ansi("\xE3\x81"));  // cut off: code page 932
}

}  // namespace
}  // namespace Mirel::MirelWeb
