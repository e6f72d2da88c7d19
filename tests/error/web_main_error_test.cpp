// The web module's side of errors: configuration read at construction, the
// error page, the log lines and the boundary that every handler runs in.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "app/web_main.h"
#include "error/error_log.h"
#include "error/mwerror.h"
#include "tests/config/temp_dir.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;
using mwtest::read_file;
using mwtest::TempDir;
using mwtest::write_file;

namespace {

MIREL_DECLARE_EXCEPTION(ETestFailure, Exception);

// One request to a module built in a scratch program directory, which is
// also where the log goes.
class ModuleTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::map<std::string, std::string> env{{"REQUEST_METHOD", "GET"},
                                         {"SERVER_PROTOCOL", "HTTP/1.1"},
                                         {"PATH_INFO", "/"},
                                         {"REMOTE_ADDR", "198.51.100.4"}};
  std::string output;

  TWebMainEnvironment environment() const {
    TWebMainEnvironment e;
    e.program_dir = dir.path();
    e.remote_addr = "192.0.2.1";
    e.log_path = dir / "Error.txt";
    return e;
  }
  std::string log() const { return read_file(dir / "Error.txt"); }

  // Builds the module and attaches a request and a response, as dispatch does.
  struct Attached {
    std::unique_ptr<TWebRequest> request;
    std::unique_ptr<TWebResponse> response;
    std::unique_ptr<TWebMain> module;
  };
  Attached attach() {
    Attached a;
    TCgiInput input;
    input.getenv = [this](const char* name) -> const char* {
      auto it = env.find(name);
      return it == env.end() ? nullptr : it->second.c_str();
    };
    input.read = [](char*, size_t) -> size_t { return 0; };
    a.request = std::make_unique<TWebRequest>(input);
    a.response = std::make_unique<TWebResponse>(*a.request, [this](std::string_view b) { output += b; });
    a.module = std::make_unique<TWebMain>(environment());
    a.module->error_log->set_clock([] { return TLocalTime{2024, 7, 1, 0, 0, 0}; });
    a.module->Request = a.request.get();
    a.module->Response = a.response.get();
    return a;
  }
};

TEST_F(ModuleTest, TemplateDirectoryComesFromTheIniFile) {
  write_file(dir / "mirelweb.ini", "[Path]\r\nHtml=" + dir.path() + "tpl/\r\nDb=Lib\r\n");
  std::filesystem::create_directory(dir / "tpl");
  write_file(dir / "tpl/top.html", "TOP <#ERR_NAME>|<#err_name>.");
  auto a = attach();
  EXPECT_EQ(a.module->path->html_path, from_ansi(dir.path()) + u"tpl/");
  EXPECT_EQ(a.module->path->db_alias, u"Lib");
  a.module->HandleRequest(*a.request, *a.response);
  EXPECT_NE(output.find("\r\n\r\nTOP |."), std::string::npos) << output;
  EXPECT_EQ(log(), "");
}

TEST_F(ModuleTest, ErrorPageShowsThePairWithStatus200AndNoLogLine) {
  write_file(dir / "error.html", "<#ERR_NAME>/<#ERR_MSG>/<#err_name>");
  auto a = attach();
  a.module->path->html_path = from_utf8(dir.path());
  set_busy_error(*a.module->error);
  a.module->produce_error_page();
  EXPECT_TRUE(a.response->Sent());
  EXPECT_EQ(a.response->StatusCode(), 200);
  EXPECT_EQ(output.substr(0, 15), "Status: 200 OK\r");
  const std::string body = output.substr(output.find("\r\n\r\n") + 4);
  EXPECT_EQ(body, to_ansi(u"データベースアクセスが混雑しています/"
                          u"アクセスの集中によって、データベースアクセスでタイムアウトが発生しました。<br>"
                          u"しばらく時間をおいて、再度アクセスを試してください。/"));
  EXPECT_EQ(log(), "");
}

TEST_F(ModuleTest, MissingErrorTemplateFails) {
  auto a = attach();
  a.module->path->html_path = from_utf8(dir / "nowhere/");
  EXPECT_THROW(a.module->produce_error_page(), Exception);
  EXPECT_FALSE(a.response->Sent());
}

TEST_F(ModuleTest, BoundaryLogsOnceSetsTheReasonAndThrowsTheSameException) {
  auto a = attach();
  try {
    a.module->run_guarded(kActionFailureMessage, [] { throw ETestFailure(u"壊れた\r\n行"); });
    FAIL() << "no exception";
  } catch (const ETestFailure& e) {
    EXPECT_EQ(e.message(), u"壊れた\r\n行");
  }
  EXPECT_EQ(a.response->ReasonString(), to_ansi(u"壊れた\r\n行"));
  EXPECT_EQ(log(), "[2024/07/01] [error] [client 198.51.100.4] " + to_ansi(u"壊れた  行") + "\r\n");
}

TEST_F(ModuleTest, BoundaryReplacesForeignExceptions) {
  struct Case { const char16_t* fallback; };
  for (const Case c : {Case{kActionFailureMessage}, Case{kTagFailureMessage}}) {
    output.clear();
    std::filesystem::remove(dir / "Error.txt");
    auto a = attach();
    try {
      a.module->run_guarded(c.fallback, [] { throw std::runtime_error("not ours"); });
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.message(), c.fallback);
    }
    a.module.reset();
    EXPECT_EQ(log(), "[2024/07/01] [error] [client 198.51.100.4] " + to_ansi(c.fallback) + "\r\n");
  }
}

TEST_F(ModuleTest, FailingTagIsLoggedByEveryBoundaryItPasses) {
  auto a = attach();
  auto tag = [&] { a.module->run_guarded(kTagFailureMessage, [] { throw 42; }); };
  EXPECT_THROW(a.module->run_guarded(kActionFailureMessage, tag), Exception);
  const std::string line = "[2024/07/01] [error] [client 198.51.100.4] " + to_ansi(kTagFailureMessage) + "\r\n";
  EXPECT_EQ(log(), line + line);
  EXPECT_EQ(a.response->ReasonString(), to_ansi(kTagFailureMessage));
}

TEST_F(ModuleTest, ExceptionWithoutMessageLogsAnEmptyMessage) {
  auto a = attach();
  EXPECT_THROW(a.module->run_guarded(kActionFailureMessage, [] { throw Exception(); }), Exception);
  EXPECT_EQ(log(), "[2024/07/01] [error] [client 198.51.100.4] \r\n");
}

TEST_F(ModuleTest, ConstructionFailureIsLoggedWithTheEnvironmentsAddress) {
  write_file(dir / "mirelweb.conf", "DB_ALIAS=MirelWin\n");
  write_file(dir / "plain", "x");
  ASSERT_EQ(::symlink((dir / "plain/mirelweb.ini").c_str(), (dir / "mirelweb.ini").c_str()), 0);
  try {
    TWebMain module(environment());
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.message(), from_utf8(dir / "mirelweb.ini") + u" に書き込めません");
  }
  const std::string expected_tail =
      "] [error] [client 192.0.2.1] " + dir / "mirelweb.ini" + to_ansi(u" に書き込めません") + "\r\n";
  const std::string text = log();
  ASSERT_GT(text.size(), expected_tail.size());
  EXPECT_EQ(text.substr(text.size() - expected_tail.size()), expected_tail);
  const std::string stamp = text.substr(0, text.size() - expected_tail.size());
  EXPECT_TRUE(std::regex_match(stamp, std::regex(R"(\[\d{4}/\d\d/\d\d( (1?\d|2[0-3]):[0-5]\d:[0-5]\d)?)")))
      << stamp;
  EXPECT_TRUE(mwtest::exists(dir / "mirelweb.conf"));
}

TEST_F(ModuleTest, MigrationAtConstruction) {
  write_file(dir / "mirelweb.conf", "\xEF\xBB\xBF# legacy\r\nHTML_PATH = " + dir.path() + " # here\r\nDB_ALIAS=a=b\r\n");
  TWebMain module(environment());
  EXPECT_EQ(module.path->html_path, from_ansi(dir.path()));
  EXPECT_EQ(module.path->db_alias, u"a=b");
  EXPECT_FALSE(mwtest::exists(dir / "mirelweb.conf"));
  EXPECT_EQ(read_file(dir / "mirelweb.ini"), "[Path]\r\nHtml=" + dir.path() + "\r\nDb=a=b\r\n");
}

}  // namespace
