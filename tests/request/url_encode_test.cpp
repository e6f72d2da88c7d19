#include <gtest/gtest.h>

#include "request/mwrequest.h"
#include "platform/url_codec.h"

namespace Mirel::MirelWeb {
namespace {

TEST(UrlEncode, EncodesTextInTheDefaultCodePage) {
  struct Case {
    UnicodeString text;
    UnicodeString expected;
  };
  const Case cases[] = {
      {u"a b&c=d", u"a+b%26c%3Dd"},
      {u"図書館", u"%90%7D%8F%91%8A%D9"},
      // The trail byte of the last character is the letter j and stays as it is.
      {u"日本の歴史", u"%93%FA%96%7B%82%CC%97%F0%8Ej"},
      {u"AZaz09!$'()*-.@_", u"AZaz09!$'()*-.@_"},
      {u"+%\"&=#?/~", u"%2B%25%22%26%3D%23%3F%2F%7E"},
      // Not in the code page: a character reference, which a search field
      // decodes on the next request; a lone surrogate is the default '?'.
      {u"\u00e9", u"%26%23233%3B"},
      {u"\U00020BB7\u91ce\u5bb6?", u"%26%23134071%3B%96%EC%89%C6%3F"},
      {u"\xD842", u"%3F"},
      {u"", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(url_encode(std::u16string_view(c.text)), c.expected);
}

TEST(UrlEncode, EncodesEveryOtherByteAsUpperCaseHex) {
  EXPECT_EQ(url_encode(std::string_view("\x00\x0a\x7f\xff", 4)), "%00%0A%7F%FF");
  EXPECT_EQ(url_encode(std::string_view("\xab\xcd")), "%AB%CD");
}

TEST(Parameter, EncodesNameAndValue) {
  struct Case {
    UnicodeString encoded;
    UnicodeString expected;
  };
  const Case cases[] = {
      {Tmwreq_page().encode(), u"PAGENUM=0"},
      {Tmwreq_page(4294967295u).encode(), u"PAGENUM=4294967295"},
      {Tmwreq_status().encode(), u"STATUS=0"},
      {Tmwreq_status(-2147483647 - 1).encode(), u"STATUS=-2147483648"},
      {Tmwreq_bookid(u"00012 3").encode(), u"BOOKID=00012+3"},
      {Tmwreq_chosya(u"夏目").encode(), u"CHOSYA=%89%C4%96%DA"},
      {Tmwreq_order_kind().encode(), u"ORDERKIND="},
      {Tmwreq_string(u"A B", u"x").encode(), u"A B=x"},  // the name is never encoded
  };
  for (const auto& c : cases) EXPECT_EQ(c.encoded, c.expected);
}

TEST(Parameter, AssignRenamesAndStores) {
  Tmwreq_syomei title(u"old");
  Tmwrequest<UnicodeString>& base = title;
  base.assign(u"KEY", u"new");
  EXPECT_EQ(title.encode(), u"KEY=new");
  base.rename(u"OTHER");
  EXPECT_EQ(title.encode(), u"OTHER=new");

  Tmwreq_status status;
  status.assign(u"S", -5);
  EXPECT_EQ(status.encode(), u"S=-5");
}

}  // namespace
}  // namespace Mirel::MirelWeb
