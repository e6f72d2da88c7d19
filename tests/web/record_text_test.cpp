// Texts derived from a record: the classification number walked from the
// call number, and the author-link key cut in UTF-16 code units without
// ever splitting a surrogate pair.
#include <gtest/gtest.h>

#include "platform/unicode_string.h"
#include "render/record_text.h"

using namespace Mirel::MirelWeb;

TEST(RecordText, ClassificationFromCallNumber) {
  const struct {
    std::u16string seikyu, ndc;
  } cases[] = {
      {u"913.6/ナ", u"913.6"},   {u"913.68ア", u"913.68"}, {u"K913.68", u"K913.6"},
      {u"E/ア", u"E"},           {u"ア913", u""},          {u" 913", u""},
      {u"", u""},                {u"９１３", u""},          {u"913.6", u"913.6"},
      {u"abcdefgh", u"abcdef"},  {u"4.5-6", u"4.5"},       {u"..", u".."},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ndc_of(c.seikyu), c.ndc) << Mirel::to_utf8(c.seikyu);
}

TEST(RecordText, AuthorKeyCutInCodeUnits) {
  // U+20BB7 is the pair D842 DFB7.
  const std::u16string pair = u"\U00020BB7";
  const struct {
    const char* name;
    std::u16string author;
    uint8_t chars;
    std::u16string key;
  } cases[] = {
      {"exactly six", u"宮沢賢治作品", 6, u"宮沢賢治作品"},
      {"eight", u"芥川龍之介全集編", 6, u"芥川龍之介全"},
      {"shorter", u"森鴎外", 6, u"森鴎外"},
      {"zero means all", u"芥川龍之介全集編", 0, u"芥川龍之介全集編"},
      {"empty", u"", 6, u""},
      {"sixth unit starts a pair", u"山田太郎花" + pair, 6, u"山田太郎花"},
      {"sixth unit ends a pair", u"山田太郎" + pair + u"花", 6, u"山田太郎" + pair},
      {"pair at the start", pair + u"田", 1, u""},
      {"high surrogates only", u"\xD842\xD842\xD842", 2, u""},
      {"255", std::u16string(300, u'あ'), 255, std::u16string(255, u'あ')},
  };
  for (const auto& c : cases) EXPECT_EQ(author_key(c.author, c.chars), c.key) << c.name;
}
