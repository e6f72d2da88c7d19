// The escaping of text placed into HTML.
#include <gtest/gtest.h>

#include "platform/html_escape.h"

using namespace Mirel;

TEST(HtmlEscape, TheFiveMarkupCharacters) {
  struct Case { UnicodeString in, out; };
  const Case cases[] = {
      {u"", u""},
      {u"plain 本 text", u"plain 本 text"},
      {u"&<>\"'", u"&amp;&lt;&gt;&quot;&#39;"},
      {u"&amp;", u"&amp;amp;"},  // escaped once more, never taken as a reference
      {u"a=1&b=2", u"a=1&amp;b=2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(html_escape(c.in), c.out) << to_utf8(c.in);
    EXPECT_EQ(html_escape_bytes(to_ansi(c.in)), to_ansi(c.out)) << to_utf8(c.in);
  }
}

TEST(HtmlEscape, MultiByteCharactersStayWhole) {
  // "ソ" in code page 932 has the trail byte 0x5C; no trail byte is one of the five.
  EXPECT_EQ(html_escape_bytes("\x83\x5C<"), "\x83\x5C&lt;");
  EXPECT_EQ(html_escape_bytes("\xE3\x81\x82>"), "\xE3\x81\x82&gt;");
}
