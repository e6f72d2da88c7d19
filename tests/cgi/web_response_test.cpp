// The response as written: the exact header block, the body alone without a
// protocol, the redirect page, and header values kept on their line.
#include <gtest/gtest.h>

#include "fake_cgi.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;
using mwtest::FakeCgi;

namespace {

struct Exchange {
  FakeCgi cgi;
  std::unique_ptr<TWebRequest> request;
  std::unique_ptr<TWebResponse> response;

  explicit Exchange(bool with_protocol = true) {
    if (with_protocol) cgi.env["SERVER_PROTOCOL"] = "HTTP/1.1";
    request = std::make_unique<TWebRequest>(cgi.input());
    response = std::make_unique<TWebResponse>(*request, cgi.sink());
  }
};

}  // namespace

TEST(WebResponse, StartsAt200OkTextHtml) {
  Exchange x;
  EXPECT_EQ(x.response->StatusCode(), 200);
  EXPECT_EQ(x.response->ReasonString(), "OK");
  EXPECT_EQ(x.response->ContentType(), "text/html");
  EXPECT_EQ(x.response->Location(), "");
  EXPECT_FALSE(x.response->Sent());
}

TEST(WebResponse, StatusCodesSetTheirReasonPhrase) {
  struct Case { int code; const char* reason; };
  const Case cases[] = {{200, "OK"}, {302, "Moved Temporarily"}, {500, "Internal Server Error"}, {404, ""}};
  for (const auto& c : cases) {
    Exchange x;
    x.response->SetReasonString("replaced");
    x.response->SetStatusCode(c.code);
    EXPECT_EQ(x.response->ReasonString(), c.reason) << c.code;
  }
}

TEST(WebResponse, HeaderBlockAndBody) {
  Exchange x;
  x.response->SetContent(u"<p>本</p>");
  x.response->SendResponse();
  EXPECT_TRUE(x.response->Sent());
  EXPECT_EQ(x.cgi.output,
            "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 9\r\n"
            "Content:\r\n\r\n<p>\x96\x7B</p>");
}

TEST(WebResponse, EmptyBodyHasNoContentLength) {
  Exchange x;
  x.response->SendResponse();
  EXPECT_EQ(x.cgi.output, "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n");
}

TEST(WebResponse, WithoutProtocolOnlyTheBodyIsWritten) {
  Exchange x(false);
  x.response->SetContentBytes("body");
  x.response->SendResponse();
  EXPECT_EQ(x.cgi.output, "body");
}

TEST(WebResponse, IsWrittenOnce) {
  Exchange x;
  x.response->SetContentBytes("b");
  x.response->SendResponse();
  const std::string first = x.cgi.output;
  x.response->SendResponse();
  x.response->SendRedirect("http://h/");
  EXPECT_EQ(x.cgi.output, first);
}

TEST(WebResponse, StatusLineFallsBackTo200OkWithoutAPhrase) {
  Exchange x;
  x.response->SetStatusCode(404);
  x.response->SendResponse();
  EXPECT_EQ(x.cgi.output.substr(0, 16), "Status: 200 OK\r\n");
}

TEST(WebResponse, ContentFollowsTheCharsetOfTheContentType) {
  Exchange x;
  x.response->SetContent(u"あ");
  EXPECT_EQ(x.response->Content(), "\x82\xA0");
  x.response->SetContentType("text/html; charset=UTF-8");
  x.response->SetContent(u"あ");
  EXPECT_EQ(x.response->Content(), "\xE3\x81\x82");
}

TEST(WebResponse, Redirect) {
  Exchange x;
  x.response->SendRedirect("http://lib.example/cgi-bin/mirelweb/");
  const std::string body = to_ansi(
      u"<html><head><title>Document Moved 302</title></head>\r\n"
      u"<body><h1>Object Moved</h1><hr><h1>オブジェクトは移動しました。</h1><hr>\r\n"
      u"This Object may be found <a href=\"http://lib.example/cgi-bin/mirelweb/\">here.</a><br>"
      u"オブジェクトは<a href=\"http://lib.example/cgi-bin/mirelweb/\">ここ</a>に移動しました。<br>\r\n"
      u"<br></body></html>\r\n");
  EXPECT_EQ(x.cgi.output,
            "Status: 302 Moved Temporarily\r\nLocation: http://lib.example/cgi-bin/mirelweb/\r\n"
            "Content-Type: text/html\r\nContent-Length: " + std::to_string(body.size()) +
                "\r\nContent:\r\n\r\n" + body);
  EXPECT_TRUE(x.response->Sent());
}

TEST(WebResponse, RedirectPageEscapesItsUrl) {
  Exchange x;
  x.response->SendRedirect("http://h\"><script>/?a=1&b='2'");
  const std::string& out = x.cgi.output;
  EXPECT_NE(out.find("<a href=\"http://h&quot;&gt;&lt;script&gt;/?a=1&amp;b=&#39;2&#39;\">here."),
            std::string::npos) << out;
  EXPECT_EQ(out.find("<script>", out.find("\r\n\r\n")), std::string::npos);
  // The Location header carries the URL itself.
  EXPECT_NE(out.find("Location: http://h\"><script>/?a=1&b='2'\r\n"), std::string::npos);
}

TEST(WebResponse, HeaderValuesNeverCarryLineEnds) {
  Exchange x;
  x.response->SetStatusCode(500);
  x.response->SetReasonString("bad\r\nSet-Cookie: x=1");
  x.response->SetLocation("http://h/\nX-Evil: 1");
  x.response->SendResponse();
  EXPECT_EQ(x.cgi.output,
            "Status: 500 badSet-Cookie: x=1\r\nLocation: http://h/X-Evil: 1\r\n"
            "Content-Type: text/html\r\nContent:\r\n\r\n");
}

TEST(WebResponse, RedirectWithLineEndsInItsUrl) {
  Exchange x;
  x.response->SendRedirect("http://h/\r\nX: 1");
  EXPECT_NE(x.cgi.output.find("Location: http://h/X: 1\r\nContent-Type"), std::string::npos);
}
