#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/exception.h"
#include "request/mwrequests.h"
#include "tests/request/fake_request.h"

namespace Mirel::MirelWeb {
namespace {

using testing::make_get;
using testing::make_post;
using testing::make_request;

constexpr const char16_t* kDefaults =
    u"PAGENUM=0&SYOMEI=&CHOSYA=&SYUPAN=&ISBN=&KENMEI=&ORDER=&ORDERKIND=&STATUS=0";

TEST(Requests, EncodesAGetRequest) {
  TWebRequest request = make_get("SYOMEI=a+b&PAGENUM=2");
  EXPECT_EQ(Tmwrequests(request).encode(),
            u"PAGENUM=2&SYOMEI=a+b&CHOSYA=&SYUPAN=&ISBN=&KENMEI=&ORDER=&ORDERKIND=&STATUS=0");
}

TEST(Requests, ReadsEveryParameter) {
  TWebRequest request = make_get(
      "PAGENUM=3&BOOKID=B01&SYOMEI=%90%7D%8F%91&CHOSYA=c&SYUPAN=s&ISBN=4-00&KENMEI=k"
      "&ORDER=TITLE&ORDERKIND=DESC&STATUS=2");
  const Tmwrequests p(request);
  EXPECT_EQ(p.pagenum(), 3u);
  EXPECT_EQ(p.bookid(), u"B01");
  EXPECT_EQ(p.syomei(), u"図書");
  EXPECT_EQ(p.chosya(), u"c");
  EXPECT_EQ(p.syupan(), u"s");
  EXPECT_EQ(p.isbn(), u"4-00");
  EXPECT_EQ(p.kenmei(), u"k");
  EXPECT_EQ(p.order(), u"TITLE");
  EXPECT_EQ(p.order_kind(), u"DESC");
  EXPECT_EQ(p.status(), 2);
  EXPECT_EQ(p.encode(),
            u"PAGENUM=3&SYOMEI=%90%7D%8F%91&CHOSYA=c&SYUPAN=s&ISBN=4-00&KENMEI=k"
            u"&ORDER=TITLE&ORDERKIND=DESC&STATUS=2");
}

TEST(Requests, TextIsTakenUnchanged) {
  // No trimming, no change of case; the first of two fields counts, names
  // match without letter case.
  TWebRequest request = make_get("syomei=+Neko+&SYOMEI=second&orderkind=desc&Order=x");
  const Tmwrequests p(request);
  EXPECT_EQ(p.syomei(), u" Neko ");
  EXPECT_EQ(p.order_kind(), u"desc");
  EXPECT_EQ(p.order(), u"x");
}

TEST(Requests, IntegersFollowTheSystemsIntegerRule) {
  struct Case {
    const char* text;
    uint32_t page;
    int32_t status;
  };
  const Case cases[] = {
      {"2", 2, 2},
      {"-1", 4294967295u, -1},
      {"abc", 0, 0},
      {"", 0, 0},
      {" 7", 7, 7},
      {"7 ", 0, 0},
      {"$10", 16, 16},
      {"0x7FFFFFFF", 2147483647u, 2147483647},
      {"4294967295", 0, 0},  // outside the signed 32-bit range
  };
  for (const auto& c : cases) {
    const std::string text = url_encode(std::string_view(c.text));
    TWebRequest request = make_get("PAGENUM=" + text + "&STATUS=" + text);
    const Tmwrequests p(request);
    EXPECT_EQ(p.pagenum(), c.page) << c.text;
    EXPECT_EQ(p.status(), c.status) << c.text;
  }
}

TEST(Requests, PageMinusOneComesBackAsPageZero) {
  TWebRequest first = make_get("PAGENUM=-1");
  const UnicodeString query = Tmwrequests(first).encode();
  EXPECT_EQ(query.substr(0, 19), u"PAGENUM=4294967295&");
  TWebRequest next = make_get(to_ansi(query));
  EXPECT_EQ(Tmwrequests(next).pagenum(), 0u);
}

TEST(Requests, MethodsOtherThanGetAndPostReadNothing) {
  const std::string query = "SYOMEI=x&PAGENUM=3&STATUS=1&ORDER=o&ORDERKIND=DESC";
  for (const char* method : {"HEAD", "get", "Post", "PUT", ""}) {
    TWebRequest request = make_request({{"REQUEST_METHOD", method},
                                        {"QUERY_STRING", query},
                                        {"CONTENT_LENGTH", std::to_string(query.size())}},
                                       query);
    const Tmwrequests p(request);
    EXPECT_EQ(p.encode(), kDefaults) << method;
    EXPECT_EQ(p.pagenum(), 0u) << method;
    EXPECT_EQ(p.status(), 0) << method;
    EXPECT_EQ(p.syomei(), u"") << method;
  }
}

TEST(Requests, AMethodThatReadsNothingNeverDecodesFields) {
  TWebRequest request = make_request({{"REQUEST_METHOD", "HEAD"}, {"QUERY_STRING", "SYOMEI=%G1"}});
  EXPECT_EQ(Tmwrequests(request).encode(), kDefaults);
}

TEST(Requests, PostReadsTheBodyOnly) {
  TWebRequest request =
      make_post("SYOMEI=body&ORDERKIND=DESC", "SYOMEI=url&CHOSYA=url&ORDER=url&PAGENUM=4");
  const Tmwrequests p(request);
  EXPECT_EQ(p.syomei(), u"body");
  EXPECT_EQ(p.chosya(), u"");
  EXPECT_EQ(p.order(), u"");
  EXPECT_EQ(p.order_kind(), u"DESC");
  EXPECT_EQ(p.pagenum(), 0u);
}

TEST(Requests, BookidIsNeverEncoded) {
  for (const char* query : {"BOOKID=123", "BOOKID=123&SYOMEI=x", "bookid=&BOOKID=9"}) {
    TWebRequest request = make_get(query);
    const Tmwrequests p(request);
    EXPECT_EQ(p.encode().find(u"BOOKID"), UnicodeString::npos) << query;
  }
  TWebRequest request = make_get("BOOKID=123");
  EXPECT_EQ(Tmwrequests(request).bookid(), u"123");
}

TEST(Requests, SetPagenumChangesOnlyThePage) {
  TWebRequest request = make_get("PAGENUM=1&SYOMEI=x&STATUS=2");
  Tmwrequests p(request);
  p.set_pagenum(2);
  EXPECT_EQ(p.pagenum(), 2u);
  EXPECT_EQ(p.encode(), u"PAGENUM=2&SYOMEI=x&CHOSYA=&SYUPAN=&ISBN=&KENMEI=&ORDER=&ORDERKIND=&STATUS=2");
}

TEST(Requests, OrderEncodesFieldAndKind) {
  TWebRequest request = make_get("ORDERKIND=DESC&ORDER=KANA TITLE");
  const Torder order(request);
  EXPECT_EQ(order.encode(), u"ORDER=KANA+TITLE&ORDERKIND=DESC");
  EXPECT_EQ(Torder_kind(request).encode(), u"ORDERKIND=DESC");
}

// Values with the characters that the query string itself uses come back
// unchanged after encoding and decoding through the CGI layer.
TEST(Requests, ValuesSurviveTheNextRequest) {
  const UnicodeString values[] = {
      u"a&b=c+d%e", u"100%", u"%41", u"+", u"\"quoted & kept\"", u"x\"y", u"日本の歴史",
      u"図書館 (新館)", u"a\r\nb", u"~/?#;,", u"  ",
  };
  for (const auto& value : values) {
    const UnicodeString query = Tmwreq_syomei(value).encode() + u'&' +
                                Tmwreq_kenmei(value).encode() + u'&' +
                                Tmwreq_order_field(value).encode();
    TWebRequest get = make_get(to_ansi(query));
    const Tmwrequests from_get(get);
    EXPECT_EQ(from_get.syomei(), value) << to_utf8(query);
    EXPECT_EQ(from_get.kenmei(), value) << to_utf8(query);
    EXPECT_EQ(from_get.order(), value) << to_utf8(query);

    TWebRequest post = make_post(to_ansi(query));
    EXPECT_EQ(Tmwrequests(post).syomei(), value) << to_utf8(query);

    // And the whole parameter set encodes to the same text again.
    TWebRequest next = make_get(to_ansi(from_get.encode()));
    EXPECT_EQ(Tmwrequests(next).encode(), from_get.encode());
  }
}

TEST(Requests, AMalformedEscapeFailsWhenTheParametersAreRead) {
  for (const char* query : {"SYOMEI=%G1", "SYOMEI=%4"}) {
    TWebRequest get = make_get(query);
    EXPECT_THROW(Tmwrequests{get}, Exception) << query;
    TWebRequest post = make_post(query);
    EXPECT_THROW(Tmwrequests{post}, Exception) << query;
  }
}

}  // namespace
}  // namespace Mirel::MirelWeb
