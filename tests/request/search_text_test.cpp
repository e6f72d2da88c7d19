// Search fields as the visitor typed them: character references decoded,
// code page 932's forms taken, and what is not a reference left as text.
#include "request/search_text.h"

#include <gtest/gtest.h>

#include "cgi/field_decoder.h"
#include "platform/url_codec.h"

namespace Mirel::MirelWeb {
namespace {

TEST(SearchText, DecodesReferencesAndTakesCodePageForms) {
  struct Case {
    UnicodeString field;
    UnicodeString expected;
  };
  const Case cases[] = {
      {u"&#12316;", u"\uFF5E"},                 // 〜 of a Mac: code page 932's ～
      {u"&#134071;野家", u"\U00020BB7野家"},    // 𠮷, beyond the BMP
      {u"&#x20BB7;&#X9D0E;外", u"\U00020BB7鴎外"},
      {u"東京\u301C大阪", u"東京\uFF5E大阪"},     // typed as UTF-8
      {u"\u2016\u2212\u00A2\u00A3\u00AC\u2014", u"\u2225\uFF0D\uFFE0\uFFE1\uFFE2\u2015"},
      {u"AT&T", u"AT&T"},                       // not references: text
      {u"&#;&#x;&#12a;&#12", u"&#;&#x;&#12a;&#12"},
      {u"&#0;&#9;&#x7F;&#xD800;&#x110000;", u"&#0;&#9;&#x7F;&#xD800;&#x110000;"},
      {u"&#99999999;", u"&#99999999;"},         // more digits than any character
      {u"&&#38;#65;", u"&&#65;"},               // decoded once, never again
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(decode_search_text(c.field), c.expected);
}

TEST(SearchText, WhatCodePage932CannotHoldComesBackThroughALink) {
  for (const UnicodeString text : {u"\U00020BB7野家", u"鷗外", u"Café 〜"}) {
    const UnicodeString encoded = url_encode(std::u16string_view(text));
    // The link's value, URL-decoded as the CGI layer does, then decoded as a
    // search field: the visitor's text again (in code page 932's forms).
    const std::string bytes = url_decode_bytes(to_ansi(encoded));
    UnicodeString expected = text;
    for (char16_t& c : expected)
      if (c == u'\u301C') c = u'\uFF5E';
    EXPECT_EQ(decode_search_text(from_ansi(bytes)), expected);
  }
}

}  // namespace
}  // namespace Mirel::MirelWeb
