#include <gtest/gtest.h>

#include "platform/exception.h"
#include "platform/integer.h"
#include "platform/strings.h"
#include "platform/unicode_string.h"

using namespace Mirel;

TEST(CodePage, RoundTripsJapanese) {
  const UnicodeString text = u"図書館の本（全角）ｶﾅ①";
  std::string bytes = to_ansi(text);
  EXPECT_EQ(bytes.substr(0, 6), "\x90\x7D\x8F\x91\x8A\xD9");
  EXPECT_EQ(from_ansi(bytes), text);
}

TEST(CodePage, InvalidAndTruncatedBytesBecomeReplacementCharacters) {
  struct Case { std::string bytes; UnicodeString expected; };
  const Case cases[] = {
      {"a\x82", u"a\uFFFD"},          // lead byte cut off at the end
      {"\x82\"b", u"\uFFFD\"b"},      // lead byte before a quote
      {"\xFF" "c", u"\uFFFDc"},       // byte that is never valid
      {"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(from_ansi(c.bytes), c.expected) << c.bytes;
}

TEST(CodePage, UnrepresentableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(to_ansi(u"a\U0001F600b"), "a?b");      // surrogate pair, one '?'
  EXPECT_EQ(to_ansi(UnicodeString(u"x") + char16_t(0xD800)), "x?");  // lone surrogate
  EXPECT_EQ(to_ansi(u"\u00e9"), "?");
}

TEST(CodePage, Utf8RoundTrip) {
  EXPECT_EQ(from_utf8(to_utf8(u"貸出中 ■▲")), u"貸出中 ■▲");
  EXPECT_EQ(from_utf8("\xE3\x81"), u"\uFFFD");
}

TEST(Integer, ReadsTheSystemsIntegerSyntax) {
  struct Case { const char* text; std::optional<int32_t> value; };
  const Case cases[] = {
      {"0", 0}, {"42", 42}, {"  7", 7}, {"+5", 5}, {"-1", -1},
      {"$1F", 31}, {"x10", 16}, {"X10", 16}, {"0x10", 16}, {"0XfF", 255}, {"-$10", -16},
      {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1},
      {"2147483648", std::nullopt}, {"4294967295", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"", std::nullopt}, {"abc", std::nullopt}, {"1 ", std::nullopt}, {"1a", std::nullopt},
      {"-", std::nullopt}, {"$", std::nullopt}, {"0x", std::nullopt}, {"\t1", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text_to_int(std::string_view(c.text)), c.value) << c.text;
    EXPECT_EQ(text_to_int(from_utf8(c.text)), c.value) << c.text;
  }
  EXPECT_EQ(text_to_int_def(std::string_view("abc"), 20), 20);
}

TEST(Strings, ValueOfFindsTheFirstEntryWithoutLetterCase) {
  TStrings list = {u"ABC", u"X=1", u"syomei=a=b", u"SYOMEI=second", u"="};
  EXPECT_EQ(value_of(list, u"SYOMEI"), u"a=b");
  EXPECT_EQ(value_of(list, u"x"), u"1");
  EXPECT_EQ(value_of(list, u"ABC"), u"");
  EXPECT_EQ(value_of(list, u"missing"), u"");
}

TEST(ExceptionFamily, CarriesMessageAndClassName) {
  MIREL_DECLARE_EXCEPTION(EDemo, Exception);
  EDemo e(u"ファイル");
  const Exception& base = e;
  EXPECT_STREQ(base.class_name(), "EDemo");
  EXPECT_EQ(base.message(), u"ファイル");
  EXPECT_STREQ(e.what(), "ファイル");
}
