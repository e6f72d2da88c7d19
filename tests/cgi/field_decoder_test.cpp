// Splitting and URL decoding of request fields, with the two failure
// messages and the positions they name.
#include <gtest/gtest.h>

#include "cgi/field_decoder.h"
#include "platform/exception.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;

TEST(SplitRequestFields, SeparatorsQuotesAndLineEnds) {
  struct Case { UnicodeString text; TStrings fields; };
  const Case cases[] = {
      {u"", {}},
      {u"A=1", {u"A=1"}},
      {u"ABC&X=1", {u"ABC", u"X=1"}},
      {u"A=1&&B=2", {u"A=1", u"", u"B=2"}},        // two separators: an empty entry
      {u"&A=1", {u"", u"A=1"}},
      {u"A=1&", {u"A=1"}},                          // nothing after a final separator
      {u"A=1\r\nB=2", {u"A=1", u"B=2"}},            // CR ends, LF skipped at the start
      {u"\n\nA=1\rB", {u"A=1", u"B"}},
      {u"\"A=1&2\"", {u"A=1&2"}},                   // leading quote: quotes removed
      {u"\"A=1&2\"&B=3", {u"A=1&2", u"", u"B=3"}},  // the field ends with the quote
      {u"S=\"a&b\"", {u"S=\"a&b\""}},              // quotes elsewhere stay
      {u"S=\"a&b", {u"S=\"a&b"}},                  // unclosed: the rest is the field
      {u"\"A=1&B", {u"A=1&B"}},
      {u"A=1 &B= 2", {u"A=1 ", u"B= 2"}},           // spaces are data
  };
  for (const auto& c : cases) EXPECT_EQ(split_request_fields(c.text), c.fields) << to_utf8(c.text);
}

TEST(UrlDecode, DecodesPlusPercentAndEscapes) {
  struct Case { std::string in, out; };
  const Case cases[] = {
      {"a+b", "a b"},
      {"%%", "%"},
      {"100%%+", "100% "},
      {"%41%62", "Ab"},
      {"%82%a0", "\x82\xA0"},
      {"%2B%25", "+%"},
      {"%00x", std::string("\0x", 2)},
      {"%%41", "%41"},  // "%%" is taken first
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(url_decode_bytes(c.in), c.out) << c.in;
}

TEST(UrlDecode, BadEscapesNameThePositionAfterThePercent) {
  struct Case { std::string in; std::string message; };
  const Case cases[] = {
      {"A=%4", "URL 表記用エンコード（%XX）文字列のエラー：位置 - 3"},
      {"%", "URL 表記用エンコード（%XX）文字列のエラー：位置 - 1"},
      {"ab%", "URL 表記用エンコード（%XX）文字列のエラー：位置 - 3"},
      {"X=%G1", "URL 表記エンコードでは許されない文字 (%G1)：位置 - 3"},
      {"%1G", "URL 表記エンコードでは許されない文字 (%1G)：位置 - 1"},
      {"a%4%", "URL 表記エンコードでは許されない文字 (%4%)：位置 - 2"},
      {"%41%  ", "URL 表記エンコードでは許されない文字 (%  )：位置 - 4"},
  };
  for (const auto& c : cases) {
    try {
      url_decode_bytes(c.in);
      ADD_FAILURE() << "no failure for " << c.in;
    } catch (const Exception& e) {
      EXPECT_EQ(e.message(), from_utf8(c.message)) << c.in;
    }
  }
}

TEST(DecodeRequestFields, BytesAreReadInTheDefaultCodePage) {
  const TStrings fields = decode_request_fields(u"SYOMEI=%82%A0+b&CHOSYA=%8F%AC%90%E0");
  EXPECT_EQ(value_of(fields, u"SYOMEI"), u"あ b");
  EXPECT_EQ(value_of(fields, u"chosya"), u"小説");
}

TEST(DecodeRequestFields, LookupRules) {
  const TStrings fields = decode_request_fields(u"ABC&X=1&syomei=first&SYOMEI=second&E=");
  EXPECT_EQ(value_of(fields, u"ABC"), u"");      // no "=": never found
  EXPECT_EQ(value_of(fields, u"X"), u"1");
  EXPECT_EQ(value_of(fields, u"SYOMEI"), u"first");
  EXPECT_EQ(value_of(fields, u"Syomei"), u"first");
  EXPECT_EQ(value_of(fields, u"MISSING"), u"");
}

TEST(DecodeRequestFields, PositionIsCountedWithinTheField) {
  try {
    decode_request_fields(u"A=1&B=xy%G1");
    ADD_FAILURE() << "no failure";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), u"URL 表記エンコードでは許されない文字 (%G1)：位置 - 5");
  }
  // A query string that ends in %4.
  EXPECT_THROW(decode_request_fields(u"A=1&B=%4"), Exception);
}
