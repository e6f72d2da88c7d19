#include <gtest/gtest.h>

#include "html/link.h"
#include "tests/request/fake_request.h"

namespace Mirel::MirelWeb {
namespace {

using testing::make_request;

TEST(Link, RendersTheFormsTheProgramUses) {
  Tlink with_class(u"http://h/s/list?PAGENUM=0&STATUS=1", u"おすすめ");
  with_class.set_attribute(u"class", u"recommend");
  EXPECT_EQ(with_class.to_html(),
            u"<a href=\"http://h/s/list?PAGENUM=0&STATUS=1\" class=\"recommend\">おすすめ</a>");

  Tlink with_target(u"http://h/s", u"top", u"_blank");
  EXPECT_EQ(with_target.to_html(), u"<a href=\"http://h/s\" target=\"_blank\">top</a>");

  Tlink empty_target(u"u", u"t", u"");
  EXPECT_EQ(empty_target.to_html(), u"<a href=\"u\">t</a>");

  Tlink detail(u"http://h/s/data?BOOKID=1&PAGENUM=0");
  detail.set_attribute(u"class", u"goto_detail");
  EXPECT_EQ(detail.start_tag(), u"<a href=\"http://h/s/data?BOOKID=1&PAGENUM=0\" class=\"goto_detail\">");
}

TEST(Link, EmptyHrefKeepsItsPlace) {
  Tlink link(u"", u"next");
  EXPECT_EQ(link.to_html(), u"<a href=\"\">next</a>");
  link.set_attribute(u"class", u"next_page");
  link.set_href(u"http://h/s/list?PAGENUM=1");
  EXPECT_EQ(link.to_html(), u"<a href=\"http://h/s/list?PAGENUM=1\" class=\"next_page\">next</a>");
}

TEST(ScriptUrl, JoinsHostScriptAndPath) {
  const std::map<std::string, std::string> env = {
      {"REQUEST_METHOD", "GET"},
      {"HTTP_HOST", "opac.example.jp:8080"},
      {"SCRIPT_NAME", "/cgi-bin/\x90\x7D\x8F\x91/mirelweb.cgi"},
  };
  const TWebRequest request = make_request(env);
  struct Case {
    UnicodeString path;
    UnicodeString expected;
  };
  const Case cases[] = {
      {u"", u"http://opac.example.jp:8080/cgi-bin/図書/mirelweb.cgi"},
      {u"/recommend?PAGENUM=0&STATUS=1",
       u"http://opac.example.jp:8080/cgi-bin/図書/mirelweb.cgi/recommend?PAGENUM=0&STATUS=1"},
      {u"list", u"http://opac.example.jp:8080/cgi-bin/図書/mirelweb.cgilist"},
  };
  for (const auto& c : cases) EXPECT_EQ(script_url(request, c.path), c.expected);
}

// A request that came over TLS gets https:// links; a public address fixed
// by the installation replaces scheme, Host and ScriptName altogether.
TEST(ScriptUrl, SchemeFollowsTheRequestAndBaseUrlFixesTheAddress) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> tls;
    std::string base_url;
    UnicodeString expected;
  };
  const Case cases[] = {
      {"plain", {}, "", u"http://h:8443/cgi-bin/mw/list"},
      {"HTTPS=on", {{"HTTPS", "on"}}, "", u"https://h:8443/cgi-bin/mw/list"},
      {"HTTPS=ON", {{"HTTPS", "ON"}}, "", u"https://h:8443/cgi-bin/mw/list"},
      {"HTTPS=1", {{"HTTPS", "1"}}, "", u"https://h:8443/cgi-bin/mw/list"},
      {"HTTPS=off", {{"HTTPS", "off"}}, "", u"http://h:8443/cgi-bin/mw/list"},
      {"REQUEST_SCHEME=https", {{"REQUEST_SCHEME", "https"}}, "", u"https://h:8443/cgi-bin/mw/list"},
      {"REQUEST_SCHEME=http", {{"REQUEST_SCHEME", "http"}}, "", u"http://h:8443/cgi-bin/mw/list"},
      {"BaseUrl", {{"HTTPS", "on"}}, "https://opac.example.jp/mirelweb",
       u"https://opac.example.jp/mirelweb/list"},
  };
  for (const Case& c : cases) {
    std::map<std::string, std::string> env = {
        {"REQUEST_METHOD", "GET"}, {"HTTP_HOST", "h:8443"}, {"SCRIPT_NAME", "/cgi-bin/mw"}};
    env.insert(c.tls.begin(), c.tls.end());
    TWebRequest request = make_request(env);
    request.SetBaseUrl(c.base_url);
    EXPECT_EQ(script_url(request, u"/list"), c.expected) << c.name;
  }
}

TEST(ScriptUrl, AQuoteInTheHostCannotLeaveTheHref) {
  const std::map<std::string, std::string> env = {
      {"REQUEST_METHOD", "GET"},
      {"HTTP_HOST", "h\" onmouseover=\"x"},
      {"SCRIPT_NAME", "/s"},
  };
  const TWebRequest request = make_request(env);
  Tlink link(script_url(request, u"/list"), u"back");
  link.set_attribute(u"class", u"back_to_list");
  EXPECT_EQ(link.to_html(),
            u"<a href=\"http://h&quot; onmouseover=&quot;x/s/list\" class=\"back_to_list\">back</a>");
}

}  // namespace
}  // namespace Mirel::MirelWeb
