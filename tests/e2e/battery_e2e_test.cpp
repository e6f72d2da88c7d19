// Bad and hostile requests, run through the built program one by one. Every
// case names the page it expects (top, list with its count, not-found,
// detail, redirect, internal error, empty) and the number of log lines, and
// every answer passes the same checks (cgi_oracle.h): the process ends by
// itself within the time limit and says nothing on standard error, the CGI
// output is well formed with an exact Content-Length and no CR or LF inside
// a header value, no visitor text becomes markup, and the log holds whole
// lines only.
//
// The templates echo every request parameter in text and in quoted
// attribute values (single and double quotes), and every page carries the
// links built from the request's host and script name.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "catalogue_site.h"
#include "cgi_oracle.h"

using mwtest::CatalogueSite;
using mwtest::CgiResult;
using mwtest::cp932;
using mwtest::Env;
using mwtest::kBase;

namespace {

// Text that becomes markup wherever it is not escaped: an element, an
// attribute breaking out of either kind of quoted value, another element.
const std::string kPayload = "<script>mwx()</script>\"'><img src=x onerror=mwx()><mwx>";
const std::string kEscapedPayload =
    "&lt;script&gt;mwx()&lt;/script&gt;&quot;&#39;&gt;&lt;img src=x onerror=mwx()&gt;&lt;mwx&gt;";

// Every byte but letters and digits as %XX.
std::string pct(const std::string& text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// All echoed text parameters set to `value` (already encoded for a query).
std::string all_params(const std::string& value) {
  std::string q;
  for (const char* name : {"SYOMEI", "CHOSYA", "SYUPAN", "ISBN", "KENMEI", "ORDER", "ORDERKIND"}) {
    if (!q.empty()) q += '&';
    q += std::string(name) + "=" + value;
  }
  return q;
}

// ---- requests ----

struct Request {
  bool bare = false;  // start from an empty environment instead of a GET
  std::vector<std::pair<std::string, std::string>> set;
  std::vector<std::string> unset;
  std::string body;
};

Request get(const std::string& path, const std::string& query) {
  return Request{false, {{"PATH_INFO", path}, {"QUERY_STRING", query}}, {}, ""};
}

Request post(const std::string& path, const std::string& body,
             std::optional<std::string> length = std::nullopt) {
  Request r = get(path, "");
  r.set.push_back({"REQUEST_METHOD", "POST"});
  r.set.push_back({"CONTENT_TYPE", "application/x-www-form-urlencoded"});
  r.set.push_back({"CONTENT_LENGTH", length ? *length : std::to_string(body.size())});
  r.body = body;
  return r;
}

Request with(Request r, const std::string& name, const std::string& value) {
  r.set.push_back({name, value});
  return r;
}

Request without(Request r, const std::string& name) {
  r.unset.push_back(name);
  return r;
}

// ---- expectations ----

enum class Page { Top, List, NotFound, Narrow, Detail, Redirect, InternalError, Empty };

struct Expect {
  Page page = Page::Top;
  int count = -1;            // List: the number of hits shown; -1: not checked
  int rows = -1;             // List: the rows on the page; -1: not checked
  int log_lines = 0;         // lines the request adds to Error.txt
  std::string contains = ""; // UTF-8 text the body holds (as code page 932)
  std::string location = ""; // Redirect: the Location header
};

Expect page(Page kind) {
  Expect e;
  e.page = kind;
  return e;
}
Expect top(int log_lines = 0) {
  Expect e = page(Page::Top);
  e.log_lines = log_lines;
  return e;
}
Expect list(int count, int rows = -1) {
  Expect e = page(Page::List);
  e.count = count;
  e.rows = rows;
  return e;
}
Expect not_found() { return page(Page::NotFound); }
Expect narrow() { return page(Page::Narrow); }
Expect redirect(const std::string& location = kBase) {
  Expect e = page(Page::Redirect);
  e.location = location;
  return e;
}
Expect failure(int log_lines, const std::string& contains = "") {
  Expect e = page(Page::InternalError);
  e.log_lines = log_lines;
  e.contains = contains;
  return e;
}
Expect containing(Expect e, const std::string& text) {
  e.contains = text;
  return e;
}

struct BatteryCase {
  const char* name;
  Request request;
  Expect expect;
  // The SETUP tag of list.html.
  const char* list_setup = "<#SETUP rows=20 recommend_caption=R newbook_caption=N>";
};

// Keeps gtest from printing megabyte bodies.
void PrintTo(const BatteryCase& c, std::ostream* os) { *os << c.name; }

// ---- templates ----

const char* const kEcho =
    "<#MIRELWEB> <#BACK_TO_HOME caption=home> <#RECOMMEND> <#NEWBOOK>\n"
    "<#QUERY_KEY_LIST>\n"
    "<form><input name=\"SYOMEI\" value=\"<#QUERY_SYOMEI>\">"
    "<input name='CHOSYA' value='<#QUERY_CHOSYA>'>"
    "<input name=\"SYUPAN\" value=\"<#QUERY_SYUPAN>\">"
    "<input name='ISBN' value='<#QUERY_ISBN>'>"
    "<input name=\"KENMEI\" value=\"<#QUERY_KENMEI>\">"
    "<input name='ORDER' value='<#QUERY_ORDER>'>"
    "<input name=\"ORDERKIND\" value=\"<#QUERY_ORDERKIND>\">"
    "<input name=\"PAGENUM\" value=\"<#QUERY_PAGENUM>\"></form>\n"
    "<p><#QUERY_SYOMEI>|<#QUERY_CHOSYA>|<#QUERY_SYUPAN>|<#QUERY_ISBN>|<#QUERY_KENMEI>|"
    "<#QUERY_ORDER>|<#QUERY_ORDERKIND>|<#QUERY_PAGENUM></p>\n"
    "<#BACK_TO_LIST caption=back>\n";

void write_templates(const CatalogueSite& site, const std::string& list_setup) {
  const std::string echo = kEcho;
  site.write_template("top.html",
                      "TOP\n<#SETUP rows=5 recommend_caption=R newbook_caption=N>" + echo);
  site.write_template("list.html",
                      list_setup + "LIST count=<#TOTAL_FIND_COUNT>\n"
                      "<#PRIOR_PAGE caption=prev> <#PAGE_LIST> <#NEXT_PAGE caption=next>\n"
                      "<table><#FIND_VALUE_LIST></table>\n" + echo);
  site.write_template("listrow.html",
                      "<tr><td><#SEQUENCE></td><td><#GOTO_DETAIL_BEGIN><#SYOMEI><#GOTO_DETAIL_END>"
                      "</td><td><#CHOSYA></td></tr>");
  site.write_template("page_.html", "DETAIL <#BOOKID>\n<#SYOMEI>\n" + echo);
  site.write_template("error.html", "ERROR <#ERR_NAME>\n<#ERR_MSG>\n" + echo);
}

size_t count_of(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// ---- the cases ----

std::vector<BatteryCase> cases() {
  const std::string P = pct(kPayload);
  std::string many_fields;
  for (int i = 0; i < 100000; ++i) many_fields += "F" + std::to_string(i % 97) + "=1&";
  many_fields += "SYOMEI=cat";
  std::string many_titles = "SYOMEI=cat";
  for (int i = 0; i < 100000; ++i) many_titles += "&SYOMEI=dog";
  const std::string megabyte(1 << 20, 'a');
  const std::string under_a_megabyte(1000000, 'a');
  return {
      // Missing CGI variables.
      {"EmptyEnvironment", Request{true, {}, {"TMPDIR"}, ""}, top()},
      {"OnlyMethodAndQuery",
       Request{true, {{"REQUEST_METHOD", "GET"}, {"PATH_INFO", "/list"}, {"QUERY_STRING", "SYOMEI=cat"}}, {}, ""},
       list(45, 20)},
      {"NoPathInfo", without(get("", "SYOMEI=cat"), "PATH_INFO"), top()},
      {"NoHostNoScript", without(without(get("/list", ""), "HTTP_HOST"), "SCRIPT_NAME"),
       redirect("http://")},
      {"HostFromHostVariable", with(without(get("/list", ""), "HTTP_HOST"), "HOST", "h.example"),
       redirect("http://h.example/cgi-bin/mirelweb")},

      // Methods other than GET and POST read no parameter.
      {"HeadMethod", with(get("/list", "SYOMEI=cat"), "REQUEST_METHOD", "HEAD"), redirect()},
      {"LowerCaseGet", with(get("/list", "SYOMEI=cat"), "REQUEST_METHOD", "get"), redirect()},
      {"LowerCasePost", with(post("/list", "SYOMEI=cat"), "REQUEST_METHOD", "post"), redirect()},
      {"UnknownMethod", with(get("", "SYOMEI=" + P), "REQUEST_METHOD", "BREW"), top()},
      {"EmptyMethod", with(get("/list", "SYOMEI=cat"), "REQUEST_METHOD", ""), redirect()},
      {"PostIgnoresTheQueryString", with(post("/list", "SYOMEI=dog"), "QUERY_STRING", "SYOMEI=cat"),
       list(40, 20)},

      // CONTENT_LENGTH.
      {"ContentLengthBeyond32Bits", post("/list", "SYOMEI=cat", "99999999999999999999"), redirect()},
      {"ContentLengthHuge", post("/list", "SYOMEI=cat", "2147483647"), narrow()},
      {"ContentLengthNegative", post("/list", "SYOMEI=cat", "-5"), redirect()},
      {"ContentLengthNotANumber", post("/list", "SYOMEI=cat", "ten"), redirect()},
      {"ContentLengthLongerThanBody", post("/list", "SYOMEI=cat", "100"), list(45, 20)},
      {"ContentLengthShorterThanBody", post("/list", "SYOMEI=dogcat", "10"), list(40, 20)},
      {"ContentLengthMissing", without(post("/list", "SYOMEI=cat"), "CONTENT_LENGTH"), redirect()},

      // Percent escapes: the action fails once; on the top page the echo
      // tag fails, then the action.
      {"TruncatedEscape", get("/list", "SYOMEI=%4"), failure(1, "位置 - 8")},
      {"NonHexEscape", get("/list", "SYOMEI=%G1"), failure(1, "(%G1)")},
      {"EscapeOfMarkup", get("/list", "SYOMEI=%<b"), failure(1, "(%&lt;b)")},
      {"BadEscapeInPostBody", post("/list", "CHOSYA=x%"), failure(1)},
      {"BadEscapeOnTopPage", get("", "KENMEI=%zz"), failure(2, "(%zz)")},
      {"DoublePercentIsAPercent", get("/list", "SYOMEI=c%%t"), containing(not_found(), "c%t")},

      // NUL bytes.
      {"EscapedNul", get("/list", "SYOMEI=cat%00"), not_found()},
      {"EscapedNulOnTopPage", get("", all_params("%00" + P)), containing(top(), kEscapedPayload)},
      {"RawNulInBody", post("/list", std::string("SYOMEI=cat\0dog", 14)), not_found()},
      {"RawNulInFieldName", post("/list", std::string("SYO\0MEI=cat&SYOMEI=dog", 22)), list(40, 20)},

      // Sizes.
      {"LongValueEchoed", post("", "ORDERKIND=" + under_a_megabyte + "&SYOMEI=cat"),
       containing(top(), "<input name=\"ORDERKIND\" value=\"aaaaaaaaaa")},
      {"LongValueOnAList", post("/list", "X=" + under_a_megabyte + "&SYOMEI=cat"), list(45, 20)},
      {"MegabyteBodyOnAList", post("/list", "X=" + megabyte + "&SYOMEI=cat"), narrow()},
      {"MegabyteBodyOnTopPage", post("", "ORDERKIND=" + megabyte), top()},
      {"LongQueryString", get("", "KENMEI=" + std::string(100000, 'b')), top()},
      {"LongKeyword", get("/list", "SYOMEI=" + std::string(10000, 'b')), narrow()},
      {"HundredThousandFields", post("/list", many_fields), list(45, 20)},
      {"HundredThousandTitles", post("/list", many_titles), narrow()},
      {"MegabyteOfSeparators", post("/list", std::string(1 << 20, '&') + "SYOMEI=dog"), narrow()},
      {"SeparatorsUnderAMegabyte", post("/list", std::string(1000000, '&') + "SYOMEI=dog"), list(40, 20)},

      // Shift_JIS that is not whole.
      {"LoneLeadByte", get("/list", "SYOMEI=%82"), not_found()},
      {"LeadByteBeforeQuote", get("/list", "SYOMEI=%82%22"), not_found()},
      {"RawLeadByteBeforeQuote", get("", "SYOMEI=\x82\"" + kPayload + "&CHOSYA=\x82'" + kPayload),
       top()},
      {"LeadByteBeforeQuoteInEveryEcho", get("", all_params("%82%22" + P)), top()},
      {"LeadByteAtEndOfEveryEcho", get("", all_params(P + "%82")), top()},
      {"RawLeadByteInPostBody", post("/list", "SYOMEI=\x82"), not_found()},
      {"InvalidUtf8Body",
       with(post("/list", "SYOMEI=\xff\xfe\xc3" + kPayload), "CONTENT_TYPE",
            "application/x-www-form-urlencoded; charset=UTF-8"),
       not_found()},
      {"HalfKatakanaAndUserDefined", get("", all_params("%B1%F0%40%82")), top()},

      // Visitor markup in every echoed parameter and in the variables that
      // make the program's links.
      {"MarkupInEveryParameterTop", get("", all_params(P)), containing(top(), kEscapedPayload)},
      {"MarkupInEveryParameterNotFound", get("/list", all_params(P)),
       containing(not_found(), kEscapedPayload)},
      {"MarkupInSortDirectionOfAList", get("/list", "SYOMEI=cat&ORDERKIND=" + P),
       containing(list(45, 20), kEscapedPayload)},
      {"MarkupInSortFieldOfAList", get("/list", "SYOMEI=cat&ORDER=" + P), list(45)},
      {"MarkupOnTheDetailPage", get("/data", "BOOKID=0000000086&ORDERKIND=" + P),
       containing(page(Page::Detail), kEscapedPayload)},
      {"MarkupWithStatusRecommend", get("", all_params(P) + "&STATUS=1"), top()},
      {"MarkupInPathInfo", get("/" + kPayload, "SYOMEI=cat"), top()},
      {"MarkupInPathInfoOfAFailure", get("/" + kPayload, "SYOMEI=%G1"),
       failure(2, "<i>/" + kEscapedPayload + "</i>")},
      {"MarkupInScriptName", with(get("/list", "SYOMEI=cat"), "SCRIPT_NAME", "/cgi-bin/m" + kPayload),
       list(45, 20)},
      {"MarkupInHost", with(get("/list", "SYOMEI=cat"), "HTTP_HOST", "h" + kPayload), list(45, 20)},
      {"MarkupInHostOnTopPage", with(get("", ""), "HTTP_HOST", "h" + kPayload), top()},
      {"MarkupInHostOfARedirect", with(get("/list", ""), "HTTP_HOST", "h" + kPayload),
       redirect("http://h" + kPayload + "/cgi-bin/mirelweb")},
      {"MarkupInHostOfNotFound", with(get("/list", "SYOMEI=zzz"), "HTTP_HOST", "h" + kPayload),
       not_found()},
      {"MarkupInHostOfAFailure", with(get("/list", "SYOMEI=%G1"), "HTTP_HOST", "h" + kPayload),
       failure(1)},

      // CR LF: never inside a header value, never a second log line.
      {"CrLfInHostOfARedirect",
       with(get("/list", ""), "HTTP_HOST", "h.example\r\nSet-Cookie: a=b\r\n\r\n<b>x</b>"),
       redirect("http://h.exampleSet-Cookie: a=b<b>x</b>/cgi-bin/mirelweb")},
      {"CrLfInScriptNameOfARedirect",
       with(get("/list", ""), "SCRIPT_NAME", "/cgi\r\nLocation: http://evil/"),
       redirect("http://lib.example/cgiLocation: http://evil/")},
      {"CrLfInParameters", get("/list", "SYOMEI=a%0D%0Ab&CHOSYA=%0D%0AX: y"), not_found()},
      {"CrLfInEveryEcho", get("", all_params("%0D%0A" + P + "%0D%0A")), top()},
      // A quoted field keeps CR LF, so the bad escape's message quotes them.
      {"CrLfInAFailureMessage", get("/list", "\"SYOMEI=%\r\n[x] [error] forged\""), failure(1)},
      {"CrLfInAFailureMessageOnTopPage", get("", "\"KENMEI=%\r\n\"&SYOMEI=" + P), failure(2)},
      {"RawCrLfInTheQueryString", get("/list", "SYOMEI=cat\r\nCHOSYA=\r\nx"), list(45, 20)},
      {"CrLfInPathInfoOfAFailure", get("/a\r\nb", "SYOMEI=%G1"), failure(2)},

      // Template syntax from a visitor is text, never a tag.
      {"TagInParameters",
       get("", "SYOMEI=%3C%23SYOMEI%3E&CHOSYA=%3C%23QUERY_CHOSYA%3E&KENMEI=%3C%23SETUP+rows%3D0%3E"),
       containing(top(), "&lt;#SYOMEI&gt;")},
      {"TagInASearchedTitle", get("/list", "SYOMEI=%3C%23SYOMEI%3E"),
       containing(not_found(), "&lt;#SYOMEI&gt;")},
      {"TagInTheSortDirectionOfAList", get("/list", "SYOMEI=dog&ORDERKIND=%3C%23FIND_VALUE_LIST%3E"),
       list(40, 20)},

      // Characters that mean something to SQL are plain text to a search.
      {"PercentKeyword", get("/list", "SYOMEI=%25"), not_found()},
      {"UnderscoreKeyword", get("/list", "SYOMEI=_"), not_found()},
      {"PercentInsideKeyword", get("/list", "SYOMEI=c%25t"), not_found()},
      {"UnderscoreInsideKeyword", get("/list", "SYOMEI=c_t"), not_found()},
      {"SingleQuoteKeyword", get("/list", "SYOMEI=cat'"), not_found()},
      {"DoubleQuoteKeyword", get("/list", "SYOMEI=%22cat%22"), not_found()},
      {"QuotesAndPercentInEveryKeyword",
       get("/list", "SYOMEI=%25&CHOSYA=_&SYUPAN=%27&ISBN=%25_&KENMEI=%22"), not_found()},
      {"SqlCommentKeyword", get("/list", "SYOMEI=cat%27--"), not_found()},
      {"BackslashKeyword", get("/list", "CHOSYA=%5C"), not_found()},
      {"WordsStillFound", get("/list", "SYOMEI=story"), list(85, 20)},

      // Page numbers and page sizes at the edges of 32 bits: the start of
      // the page is rows × PAGENUM wrapped to 32 bits. A start that wraps to
      // a negative number is a move backwards, which the search refuses
      // (logged by the list tag and by the action); one that wraps to a
      // small positive number shows the rows from there.
      {"PagenumMinusOne", get("/list", "SYOMEI=cat&PAGENUM=-1"), failure(2, "move_by")},
      {"PagenumOutOfRange", get("/list", "SYOMEI=cat&PAGENUM=4294967295"), list(45, 20)},
      {"PagenumLargestSigned", get("/list", "SYOMEI=cat&PAGENUM=2147483647"), failure(2, "move_by")},
      {"PagenumHex", get("/list", "SYOMEI=cat&PAGENUM=0x7fffffff"), failure(2, "move_by")},
      {"PagenumWrappingToASmallStart", get("/list", "SYOMEI=cat&PAGENUM=214748365"),
       containing(list(45, 20), "<table><tr><td>5</td>")},
      {"PagenumPastTheLastPage", get("/list", "SYOMEI=cat&PAGENUM=100000"), list(45, 0)},
      {"PagenumOfManyDigits", get("/list", "SYOMEI=cat&PAGENUM=" + std::string(5000, '9')),
       list(45, 20)},
      {"NegativeRows", get("/list", "SYOMEI=cat&PAGENUM=3"), failure(2, "move_by"), "<#SETUP rows=-5>"},
      {"NegativeRowsFirstPage", get("/list", "SYOMEI=cat"), list(45, 0), "<#SETUP rows=-5>"},
      {"LargestRowsHugePagenum", get("/list", "SYOMEI=cat&PAGENUM=-1"), failure(2, "move_by"),
       "<#SETUP rows=2147483647>"},
      {"LargestRowsSecondPage", get("/list", "SYOMEI=cat&PAGENUM=1"), list(45, 0),
       "<#SETUP rows=2147483647>"},
      {"SmallestRows", get("/list", "SYOMEI=cat&PAGENUM=-1"), failure(2, "move_by"),
       "<#SETUP rows=-2147483648>"},
      {"ZeroRows", get("/list", "SYOMEI=cat"), failure(2, "ゼロによる除算"), "<#SETUP rows=0>"},

      // The exact path check after the case-blind dispatch.
      {"UpperCaseListPath", get("/LIST", "SYOMEI=" + P), page(Page::Empty)},
  };
}

// ---- the test ----

class Battery : public ::testing::TestWithParam<BatteryCase> {};

TEST_P(Battery, AnswersSafely) {
  const BatteryCase& c = GetParam();
  CatalogueSite site;
  write_templates(site, c.list_setup);

  Env env;
  if (!c.request.bare) env = site.env("", "");
  env["TMPDIR"] = site.tmp_dir();
  for (const auto& [name, value] : c.request.set) env[name] = value;
  for (const std::string& name : c.request.unset) env.erase(name);

  site.box.set_time_limit(300);
  const CgiResult r = site.run(env, c.request.body);
  const bool with_headers = env.count("SERVER_PROTOCOL") && !env["SERVER_PROTOCOL"].empty();
  const std::string body = r.body();

  EXPECT_EQ(mwtest::describe(mwtest::process_faults(r)), "");
  EXPECT_EQ(mwtest::describe(mwtest::cgi_faults(r, with_headers)), "");
  EXPECT_EQ(mwtest::describe(mwtest::markup_faults(with_headers ? body : r.output)), "");

  const std::string log = site.box.exists("Error.txt") ? site.box.read_file("Error.txt") : "";
  const std::string client = env.count("REMOTE_ADDR") ? env["REMOTE_ADDR"] : "";
  EXPECT_EQ(mwtest::describe(mwtest::log_faults(log, client)), "");
  EXPECT_EQ(mwtest::split_log(log).size(), static_cast<size_t>(c.expect.log_lines)) << log;

  const std::string text = with_headers ? body : r.output;
  const std::string status = r.status();
  const std::string expected_status = with_headers ? "200 OK" : "";
  switch (c.expect.page) {
    case Page::Top:
      EXPECT_EQ(status, expected_status);
      EXPECT_TRUE(starts_with(text, "TOP\n")) << text.substr(0, 300);
      break;
    case Page::List: {
      EXPECT_EQ(status, expected_status);
      const std::string head = "LIST count=" + std::to_string(c.expect.count) + "\n";
      EXPECT_TRUE(starts_with(text, head)) << text.substr(0, 300);
      if (c.expect.rows >= 0) {
        EXPECT_EQ(count_of(text, "class=\"goto_detail\""), static_cast<size_t>(c.expect.rows));
      }
      break;
    }
    case Page::NotFound:
      EXPECT_EQ(status, "200 OK");
      EXPECT_TRUE(starts_with(text, cp932("ERROR 該当書籍は見付かりませんでした\n")))
          << text.substr(0, 300);
      break;
    case Page::Narrow:
      EXPECT_EQ(status, "200 OK");
      EXPECT_TRUE(starts_with(text, cp932("ERROR 検索条件を絞り込んでください\n"))) << text.substr(0, 300);
      break;
    case Page::Detail:
      EXPECT_EQ(status, "200 OK");
      EXPECT_TRUE(starts_with(text, "DETAIL ")) << text.substr(0, 300);
      break;
    case Page::Redirect:
      EXPECT_EQ(status, "302 Moved Temporarily");
      EXPECT_EQ(mwtest::header(r, "Location"), c.expect.location);
      break;
    case Page::InternalError:
      EXPECT_EQ(status, "500 Internal Server Error");
      EXPECT_TRUE(starts_with(text, "<html><body><h1>Internal Application Error"))
          << text.substr(0, 300);
      break;
    case Page::Empty:
      EXPECT_EQ(status, "200 OK");
      EXPECT_EQ(text, "");
      break;
  }
  if (!c.expect.contains.empty()) {
    EXPECT_NE(text.find(cp932(c.expect.contains)), std::string::npos) << text.substr(0, 2000);
  }
}

INSTANTIATE_TEST_SUITE_P(BadRequests, Battery, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<BatteryCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

// The time limit of the harness is what turns a hang into a failure: a
// program that waits forever (here on a template that is a FIFO nobody
// writes to) is killed and reported.
TEST(BatteryHarness, HangIsKilledAndReported) {
  CatalogueSite site;
  ASSERT_EQ(::mkfifo((site.box.dir() + "tpl/top.html").c_str(), 0644), 0);
  site.box.set_time_limit(1);
  const CgiResult r = site.box.run(site.env("", ""));
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_NE(mwtest::describe(mwtest::process_faults(r)), "");
}

// The checks themselves, on answers the program must never give.
TEST(BatteryOracle, SeesVisitorMarkup) {
  const struct {
    const char* html;
    bool safe;
  } cases[] = {
      {"<a href=\"http://h&quot;><script>x</script>/cgi\" class=\"c\">t</a>", true},
      {"<a href=\"http://h\"><script>x</script>/cgi\" class=\"c\">t</a>", false},
      {"<input value=\"a\" onerror=x>", false},
      {"<input value='&#39; onfocus=x'>", true},
      {"<input value='' onfocus=x ''>", false},
      {"<p>&lt;img src=x&gt;</p>", true},
      {"<p><img src=x></p>", false},
      {"<p>&lt;#SYOMEI&gt;</p>", true},
      {"<p><#SYOMEI></p>", false},
      {"<!-- <script> --><b>x</b>", true},
      {"<p>\x82\"</p>", false},  // a lead byte that would swallow the quote
      {"<p>\x82\xa0</p>", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(mwtest::markup_faults(c.html).empty(), c.safe) << c.html;
}

TEST(BatteryOracle, SeesMalformedCgiOutput) {
  auto result = [](const std::string& output) {
    CgiResult r;
    r.output = output;
    r.exit_code = 0;
    return r;
  };
  const struct {
    std::string output;
    bool well_formed;
  } cases[] = {
      {"Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\nContent:\r\n\r\nab", true},
      {"Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n", true},
      {"Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 3\r\nContent:\r\n\r\nab", false},
      {"Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\nab", false},
      {"Status: 302 Moved Temporarily\r\nLocation: http://h\nX: y\r\nContent-Type: text/html\r\n"
       "Content:\r\n\r\n", false},
      {"Status: 302 Moved Temporarily\r\nLocation: http://h\r\nSet-Cookie: a\r\n"
       "Content-Type: text/html\r\nContent:\r\n\r\n", false},
      {"<html></html>", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(mwtest::cgi_faults(result(c.output), true).empty(), c.well_formed) << c.output;
}

TEST(BatteryOracle, SeesTornLogLines) {
  const std::string line = "[2024/04/01 9:00:00] [error] [client 1.2.3.4] message\r\n";
  EXPECT_TRUE(mwtest::log_faults(line + line, "1.2.3.4").empty());
  EXPECT_FALSE(mwtest::log_faults(line + "forged\r\n", "1.2.3.4").empty());
  EXPECT_FALSE(mwtest::log_faults(line.substr(0, 20), "1.2.3.4").empty());
  EXPECT_FALSE(mwtest::log_faults("[2024/04/01] [error] [client 1.2.3.4] a\nb\r\n", "1.2.3.4").empty());
}
