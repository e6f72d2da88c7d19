// Dispatch to actions, the internal-error page, and the runner around the
// whole request with its last-resort page.
#include <gtest/gtest.h>

#include <stdexcept>

#include "cgi/web_module.h"
#include "fake_cgi.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;
using mwtest::FakeCgi;

namespace {

MIREL_DECLARE_EXCEPTION(ETestFailure, Exception);

// A module with the action table of the program, each handler recording its
// name in the body.
class RecordingModule : public TWebModule {
 public:
  std::string called;
  std::function<void(const std::string&)> on_call;

  RecordingModule() {
    auto handler = [this](std::string name) -> TActionHandler {
      return [this, name](TWebRequest&, TWebResponse& response, bool& handled) {
        EXPECT_TRUE(handled);
        called += name + ";";
        if (on_call) on_call(name);
        response.SetContentBytes(name);
      };
    };
    Actions = {{"DefaultAction", "/", true, handler("default")},
               {"RequestList", "/list", false, handler("list")},
               {"RequestPage", "/data", false, handler("list")},
               {"RequestRecommend", "/recommend", false, handler("recommend")},
               {"RequestNewBook", "/newbook", false, handler("newbook")}};
  }
};

std::string response_with_body(const std::string& body) {
  return "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body;
}

const char* const kErrorHead =
    "<html><body><h1>Internal Application Error / \x93\xE0\x95\x94\x83\x41\x83\x76\x83\x8A"
    "\x83\x50\x81\x5B\x83\x56\x83\x87\x83\x93\x83\x47\x83\x89\x81\x5B</h1>\r\n<p>";

}  // namespace

TEST(Dispatch, PathInfoSelectsTheActionWithoutLetterCase) {
  struct Case { const char* path; const char* action; };
  const Case cases[] = {
      {"/list", "list"},       {"/LIST", "list"},         {"/Data", "list"},
      {"/recommend", "recommend"}, {"/newbook", "newbook"}, {"/", "default"},
      {"", "default"},         {"/list/", "default"},     {"/nothing", "default"},
      {"/newbook/x", "default"}, {"list", "default"},
  };
  for (const auto& c : cases) {
    FakeCgi cgi;
    cgi.env = {{"SERVER_PROTOCOL", "HTTP/1.0"}, {"PATH_INFO", c.path}};
    TWebRequest request(cgi.input());
    TWebResponse response(request, cgi.sink());
    RecordingModule module;
    module.HandleRequest(request, response);
    EXPECT_EQ(module.called, std::string(c.action) + ";") << c.path;
    EXPECT_EQ(module.Request, &request);
    EXPECT_EQ(module.Response, &response);
    EXPECT_EQ(cgi.output, response_with_body(c.action)) << c.path;
  }
}

TEST(Dispatch, AResponseSentByTheHandlerIsNotSentAgain) {
  FakeCgi cgi;
  cgi.env = {{"SERVER_PROTOCOL", "HTTP/1.0"}, {"PATH_INFO", "/list"}};
  TWebRequest request(cgi.input());
  TWebResponse response(request, cgi.sink());
  RecordingModule module;
  module.on_call = [&](const std::string&) { response.SendRedirect("http://h/"); };
  module.HandleRequest(request, response);
  EXPECT_EQ(cgi.output.substr(0, 30), "Status: 302 Moved Temporarily\r");
  EXPECT_EQ(cgi.output.find("Status:", 1), std::string::npos);
}

TEST(Dispatch, AnExceptionFromAHandlerGivesTheInternalErrorPage) {
  FakeCgi cgi;
  cgi.env = {{"SERVER_PROTOCOL", "HTTP/1.0"}, {"PATH_INFO", "/list"}};
  TWebRequest request(cgi.input());
  TWebResponse response(request, cgi.sink());
  RecordingModule module;
  module.on_call = [&](const std::string&) {
    response.SetReasonString("message as phrase");
    throw Exception(u"ファイル x は開けません。");
  };
  module.HandleRequest(request, response);
  const std::string body = std::string(kErrorHead) + to_ansi(u"ファイル x は開けません。") +
                           "\r\n<p><hr width=\"100%\"><i>/list</i></body></html>";
  EXPECT_EQ(cgi.output, "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\n"
                        "Content-Length: " + std::to_string(body.size()) +
                            "\r\nContent:\r\n\r\n" + body);
}

TEST(Dispatch, InternalErrorPageEscapesMessageAndPath) {
  FakeCgi cgi;
  cgi.env = {{"SERVER_PROTOCOL", "HTTP/1.0"}, {"PATH_INFO", "/<b>\"x\"&'"}};
  TWebRequest request(cgi.input());
  TWebResponse response(request, cgi.sink());
  send_internal_error_page(response, request, Exception(u"<script>alert(1)</script>"));
  const std::string body = std::string(kErrorHead) +
                           "&lt;script&gt;alert(1)&lt;/script&gt;\r\n<p><hr width=\"100%\"><i>"
                           "/&lt;b&gt;&quot;x&quot;&amp;&#39;</i></body></html>";
  EXPECT_EQ(response.Content(), body);
  EXPECT_EQ(response.StatusCode(), 500);
}

TEST(Dispatch, InternalErrorPageAfterASentResponseWritesNothing) {
  FakeCgi cgi;
  cgi.env = {{"SERVER_PROTOCOL", "HTTP/1.0"}, {"PATH_INFO", "/list"}};
  TWebRequest request(cgi.input());
  TWebResponse response(request, cgi.sink());
  RecordingModule module;
  module.on_call = [&](const std::string&) {
    response.SendResponse();
    throw Exception(u"late");
  };
  module.HandleRequest(request, response);
  EXPECT_EQ(cgi.output, "Status: 200 OK\r\nContent-Type: text/html\r\nContent:\r\n\r\n");
  EXPECT_EQ(response.StatusCode(), 200);
}

TEST(Dispatch, OtherThrownObjectsPassThroughToTheRunner) {
  FakeCgi cgi;
  cgi.env = {{"PATH_INFO", "/list"}};
  TWebRequest request(cgi.input());
  TWebResponse response(request, cgi.sink());
  RecordingModule module;
  module.on_call = [](const std::string&) { throw std::runtime_error("library"); };
  EXPECT_THROW(module.HandleRequest(request, response), std::runtime_error);
  EXPECT_EQ(cgi.output, "");
}

namespace {

std::string last_resort(const std::string& status, const std::string& class_name,
                        const std::string& message) {
  const std::string body =
      "<html><head><title>Internal Server Error 500</title></head>\r\n"
      "<h1>Internal Server Error 500</h1><hr>\r\n"
      "<h1>" + to_ansi(u"サーバー内部エラー") + " 500</h1><hr>\r\n"
      "Exception: " + class_name + "<br>Message: " + message + "<br><hr>" +
      to_ansi(u"例外") + " : " + class_name + "<br>" + to_ansi(u"メッセージ") + " : " + message +
      "<br></html>\r\n";
  return "Status: 500 " + status + "\r\nContent-Type: text/html\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

}  // namespace

TEST(RunCgiApplication, ServesTheRequestAndReadsTheBody) {
  FakeCgi cgi;
  cgi.env = {{"SERVER_PROTOCOL", "HTTP/1.1"}, {"PATH_INFO", "/recommend"},
             {"CONTENT_LENGTH", "3"}};
  cgi.body = "A=1";
  std::string seen_body;
  int rc = RunCgiApplication(cgi.input(), cgi.sink(), [&]() -> std::unique_ptr<TWebModule> {
    auto module = std::make_unique<RecordingModule>();
    auto* raw = module.get();
    module->on_call = [raw, &seen_body](const std::string&) { seen_body = raw->Request->Content(); };
    return module;
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(seen_body, "A=1");
  EXPECT_EQ(cgi.output, response_with_body("recommend"));
}

TEST(RunCgiApplication, AnExceptionWhileTheModuleIsMadeGivesTheLastResortPage) {
  FakeCgi cgi;
  cgi.env = {{"PATH_INFO", "/"}};  // written even without a protocol
  int rc = RunCgiApplication(cgi.input(), cgi.sink(), []() -> std::unique_ptr<TWebModule> {
    throw ETestFailure(u"設定ファイルがありません");
  });
  EXPECT_EQ(rc, 0);
  const std::string message = to_ansi(u"設定ファイルがありません");
  EXPECT_EQ(cgi.output, last_resort(message, "ETestFailure", message));
}

TEST(RunCgiApplication, OtherThrownObjectsBecomeAGenericException) {
  const std::string generic = to_ansi(u"サーバー管理者に問い合わせてください");
  for (int kind = 0; kind < 2; ++kind) {
    FakeCgi cgi;
    int rc = RunCgiApplication(cgi.input(), cgi.sink(), [kind]() -> std::unique_ptr<TWebModule> {
      if (kind == 0) throw std::runtime_error("x");
      throw 42;
    });
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(cgi.output, last_resort(generic, "Exception", generic)) << kind;
  }
}

TEST(RunCgiApplication, LastResortPageEscapesTheMessageAndKeepsTheStatusOnOneLine) {
  FakeCgi cgi;
  RunCgiApplication(cgi.input(), cgi.sink(), []() -> std::unique_ptr<TWebModule> {
    throw Exception(u"a<b>\r\nX-Evil: 1");
  });
  EXPECT_EQ(cgi.output, last_resort("a<b>X-Evil: 1", "Exception", "a&lt;b&gt;\r\nX-Evil: 1"));
}

TEST(RunCgiApplication, AFailingOutputStillEndsWithZero) {
  FakeCgi cgi;
  int calls = 0;
  TCgiOutput failing = [&](std::string_view) {
    ++calls;
    throw std::runtime_error("pipe closed");
  };
  int rc = RunCgiApplication(cgi.input(), failing, []() -> std::unique_ptr<TWebModule> {
    return std::make_unique<RecordingModule>();
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(calls, 2);  // the response, then the last-resort page
}
