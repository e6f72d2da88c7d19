// The request: the server's variables (the host from a header), the body read up to
// CONTENT_LENGTH, and the code page of the content fields.
#include <gtest/gtest.h>

#include <climits>

#include "fake_cgi.h"
#include "platform/exception.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;
using mwtest::FakeCgi;

TEST(WebRequest, ReadsTheVariables) {
  FakeCgi cgi;
  cgi.env = {{"REQUEST_METHOD", "GET"}, {"SERVER_PROTOCOL", "HTTP/1.1"},
             {"QUERY_STRING", "A=1"},   {"PATH_INFO", "/list"},
             {"HTTP_HOST", "lib.example"}, {"SCRIPT_NAME", "/cgi-bin/mirelweb"},
             {"REMOTE_ADDR", "192.0.2.7"}, {"CONTENT_TYPE", "text/plain"}};
  TWebRequest request(cgi.input());
  EXPECT_EQ(request.Method(), "GET");
  EXPECT_EQ(request.ProtocolVersion(), "HTTP/1.1");
  EXPECT_EQ(request.Query(), "A=1");
  EXPECT_EQ(request.PathInfo(), "/list");
  EXPECT_EQ(request.Host(), "lib.example");
  EXPECT_EQ(request.ScriptName(), "/cgi-bin/mirelweb");
  EXPECT_EQ(request.RemoteAddr(), "192.0.2.7");
  EXPECT_EQ(request.ContentType(), "text/plain");
  EXPECT_EQ(request.ContentLength(), -1);
  EXPECT_EQ(request.Content(), "");
}

// Only the host comes from a header (HTTP_HOST, else HOST). A client's
// header of another variable's name (HTTP_QUERY_STRING, HTTP_PATH_INFO,
// HTTP_CONTENT_LENGTH, HTTP_CONTENT_TYPE) is never read in its place.
TEST(WebRequest, VariablesComeFromTheServerOnly) {
  struct Case {
    std::map<std::string, std::string> env;
    std::string host, path, query, type;
    int length;
  };
  const Case cases[] = {
      {{{"HOST", "plain"}}, "plain", "", "", "", -1},
      {{{"HTTP_HOST", ""}, {"HOST", "plain"}}, "plain", "", "", "", -1},
      {{{"HTTP_HOST", "first"}, {"HOST", "second"}}, "first", "", "", "", -1},
      {{{"HTTP_PATH_INFO", "/data"}, {"HTTP_QUERY_STRING", "SYOMEI=x"},
        {"HTTP_CONTENT_LENGTH", "3"}, {"HTTP_CONTENT_TYPE", "text/plain; charset=UTF-8"}},
       "", "", "", "", -1},
      {{{"PATH_INFO", ""}, {"HTTP_PATH_INFO", "/data"}, {"QUERY_STRING", ""},
        {"HTTP_QUERY_STRING", "SYOMEI=x"}},
       "", "", "", "", -1},
      {{{"CONTENT_LENGTH", "2"}, {"HTTP_CONTENT_LENGTH", "9"}, {"CONTENT_TYPE", "a"},
        {"HTTP_CONTENT_TYPE", "b"}},
       "", "", "", "a", 2},
  };
  for (const auto& c : cases) {
    FakeCgi cgi;
    cgi.env = c.env;
    cgi.body = "A=123456789";
    TWebRequest request(cgi.input());
    EXPECT_EQ(request.Host(), c.host);
    EXPECT_EQ(request.PathInfo(), c.path);
    EXPECT_EQ(request.Query(), c.query);
    EXPECT_EQ(request.ContentType(), c.type);
    EXPECT_EQ(request.ContentLength(), c.length);
    EXPECT_EQ(request.Content(), cgi.body.substr(0, c.length < 0 ? 0 : c.length));
  }
}

// A body larger than the limit is not read at all; one at the limit is.
TEST(WebRequest, BodyOverTheLimitIsNeverRead) {
  for (const int64_t length : {int64_t{100}, int64_t{101}}) {
    FakeCgi cgi;
    cgi.env = {{"CONTENT_LENGTH", std::to_string(length)}};
    cgi.body = std::string(static_cast<size_t>(length), 'a');
    TCgiInput input = cgi.input();
    input.max_content = 100;
    TWebRequest request(input);
    EXPECT_EQ(request.ContentTooLarge(), length > 100);
    EXPECT_EQ(cgi.delivered, length > 100 ? 0u : 100u);
    EXPECT_EQ(request.Content().size(), length > 100 ? 0u : 100u);
  }
}

TEST(WebRequest, ContentLengthIsAnIntegerOrMinusOne) {
  struct Case { const char* text; int value; };
  const Case cases[] = {{"12", 12}, {"0", 0}, {"-5", -5}, {"$10", 16}, {"", -1},
                        {"12abc", -1}, {"9999999999", -1}, {" 3", 3}, {"3 ", -1}};
  for (const auto& c : cases) {
    FakeCgi cgi;
    cgi.env = {{"CONTENT_LENGTH", c.text}};
    EXPECT_EQ(TWebRequest(cgi.input()).ContentLength(), c.value) << c.text;
  }
}

TEST(WebRequest, BodyIsReadUpToContentLength) {
  struct Case {
    std::string length;
    std::string body;
    size_t piece;
    std::string expected;
  };
  const std::string big(100000, 'z');
  const Case cases[] = {
      {"9", "SYOMEI=ab", 1 << 20, "SYOMEI=ab"},
      {"6", "SYOMEI=ab", 1 << 20, "SYOMEI"},      // never more than announced
      {"20", "SYOMEI=ab", 1 << 20, "SYOMEI=ab"},  // a short body as far as it came
      {"9", "SYOMEI=ab", 1, "SYOMEI=ab"},         // delivered byte by byte
      {"100000", big, 777, big},
      {"0", "SYOMEI=ab", 1 << 20, ""},
      {"-1", "SYOMEI=ab", 1 << 20, ""},
      {"nine", "SYOMEI=ab", 1 << 20, ""},
  };
  for (const auto& c : cases) {
    FakeCgi cgi;
    cgi.env = {{"CONTENT_LENGTH", c.length}};
    cgi.body = c.body;
    cgi.piece = c.piece;
    TWebRequest request(cgi.input());
    EXPECT_EQ(request.Content(), c.expected) << c.length << " / " << c.piece;
  }
}

TEST(WebRequest, AHugeContentLengthReservesNothingBeyondWhatArrives) {
  FakeCgi cgi;
  cgi.env = {{"CONTENT_LENGTH", std::to_string(INT_MAX)}};
  cgi.body = "A=1";
  TCgiInput input = cgi.input();
  input.max_content = INT_MAX;  // no limit on the body's size here
  TWebRequest request(input);
  EXPECT_EQ(request.ContentLength(), INT_MAX);
  EXPECT_EQ(request.Content(), "A=1");
  // Each read asks for at most one fixed-size piece.
  EXPECT_LE(cgi.largest_request, 64u * 1024u);
  EXPECT_LT(request.Content().capacity(), 64u * 1024u);
}

TEST(WebRequest, QueryFieldsAreDecodedOnFirstUse) {
  FakeCgi cgi;
  cgi.env = {{"QUERY_STRING", "SYOMEI=%82%A0+b&X=%G1"}};
  TWebRequest request(cgi.input());  // no failure while reading
  EXPECT_THROW(request.QueryFields(), Exception);
  EXPECT_THROW(request.QueryFields(), Exception);  // and again, nothing half kept

  FakeCgi good;
  good.env = {{"QUERY_STRING", "SYOMEI=%82%A0+b"}};
  TWebRequest ok(good.input());
  EXPECT_EQ(value_of(ok.QueryFields(), u"syomei"), u"あ b");
  EXPECT_EQ(&ok.QueryFields(), &ok.QueryFields());
}

TEST(WebRequest, QueryTextIsReadInTheDefaultCodePage) {
  FakeCgi cgi;
  cgi.env = {{"QUERY_STRING", "SYOMEI=\x82\xA0"}};
  TWebRequest request(cgi.input());
  EXPECT_EQ(value_of(request.QueryFields(), u"SYOMEI"), u"あ");
}

TEST(WebRequest, ContentFieldsFollowTheCharsetOfTheContentType) {
  struct Case { std::string type; std::string body; UnicodeString value; };
  const Case cases[] = {
      {"application/x-www-form-urlencoded", "T=\x82\xA0%82%A0", u"ああ"},
      {"application/x-www-form-urlencoded; charset=UTF-8", "T=\xE3\x81\x82%82%A0", u"ああ"},
      {"application/x-www-form-urlencoded; Charset=utf-8", "T=\xE3\x81\x82", u"あ"},
      {"text/plain; UTF-8; charset=x", "T=\x82\xA0", u"あ"},  // UTF-8 before CHARSET
  };
  for (const auto& c : cases) {
    FakeCgi cgi;
    cgi.env = {{"CONTENT_TYPE", c.type}, {"CONTENT_LENGTH", std::to_string(c.body.size())}};
    cgi.body = c.body;
    TWebRequest request(cgi.input());
    EXPECT_EQ(value_of(request.ContentFields(), u"T"), c.value) << c.type;
  }
}

