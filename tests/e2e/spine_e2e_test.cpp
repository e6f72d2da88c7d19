// The program answers a CGI request end to end: status, header block and
// body bytes for the top page, unknown paths, a missing protocol, a form
// posted to the list and a template that cannot be opened.
#include <gtest/gtest.h>

#include "catalogue_site.h"
#include "cgi_runner.h"

using mwtest::CgiSandbox;

namespace {

const std::string kTop = "<html><body>\x83\x67\x83\x62\x83\x76 <#UNKNOWN a=1> <#LINK></body></html>\r\n";
const std::string kTopOut = "<html><body>\x83\x67\x83\x62\x83\x76  </body></html>\r\n";

std::string expected_response(const std::string& body) {
  return "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body;
}

}  // namespace

TEST(Spine, TopPageWithStatus200) {
  CgiSandbox box;
  box.write_file("top.html", kTop);
  auto r = box.run(CgiSandbox::get_env(""));
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.output, expected_response(kTopOut));
}

TEST(Spine, UnknownAndOddPathsReachTheDefaultAction) {
  CgiSandbox box;
  box.write_file("top.html", kTop);
  for (const char* path : {"/", "/nothing", "/list/", "/RECOMMEND/x"}) {
    auto r = box.run(CgiSandbox::get_env(path));
    EXPECT_EQ(r.output, expected_response(kTopOut)) << path;
  }
}

TEST(Spine, WithoutServerProtocolOnlyTheBodyIsWritten) {
  CgiSandbox box;
  box.write_file("top.html", kTop);
  auto env = CgiSandbox::get_env("");
  env.erase("SERVER_PROTOCOL");
  EXPECT_EQ(box.run(env).output, kTopOut);
}

TEST(Spine, MissingTemplateGivesTheInternalErrorPage) {
  CgiSandbox box;
  auto r = box.run(CgiSandbox::get_env("/x<y>"));
  EXPECT_EQ(r.exit_code, 0);
  // The reason phrase is the failure's message, replaced by the standard
  // phrase when the status becomes 500.
  EXPECT_EQ(r.status(), "500 Internal Server Error");
  const std::string body = r.body();
  EXPECT_EQ(body.rfind("<html><body><h1>Internal Application Error / ", 0), 0u) << body;
  EXPECT_NE(body.find("top.html"), std::string::npos) << body;
  // The path info reaches the page escaped.
  EXPECT_NE(body.find("<i>/x&lt;y&gt;</i></body></html>"), std::string::npos) << body;
  EXPECT_EQ(r.headers().find("Content-Length: " + std::to_string(body.size())) != std::string::npos, true);
}

TEST(Spine, PostBodyIsReadAndTheListPageAnswers) {
  // The search word comes only in the body: a program that did not read it
  // would send the visitor back to the top page.
  mwtest::CatalogueSite site;
  site.write_template("list.html", "<#QUERY_SYOMEI>: <#TOTAL_FIND_COUNT>");
  auto env = site.env("/list");
  env["REQUEST_METHOD"] = "POST";
  env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  env["CONTENT_LENGTH"] = "10";
  EXPECT_EQ(site.run(env, "SYOMEI=cat").output, expected_response("cat: 45"));
}

TEST(Spine, PostBodyFieldsReachTheTagsAndTheQueryStringDoesNot) {
  CgiSandbox box;
  box.write_file("top.html", "[<#QUERY_SYOMEI>|<#QUERY_PAGENUM>]");
  auto env = CgiSandbox::get_env("");
  env["REQUEST_METHOD"] = "POST";
  env["QUERY_STRING"] = "SYOMEI=url&PAGENUM=7";
  env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
  env["CONTENT_LENGTH"] = "19";
  EXPECT_EQ(box.run(env, "SYOMEI=ab&PAGENUM=3").output, expected_response("[ab|3]"));
}
