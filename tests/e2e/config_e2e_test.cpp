// Configuration and error handling seen from outside: the program reads
// mirelweb.ini from its own directory, migrates a legacy mirelweb.conf, and
// answers a configuration it cannot write with the status-500 page and a
// log line, and logs a failing tag once per handler it passes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <vector>

#include "cgi_runner.h"

using mwtest::CgiSandbox;

namespace {

// " に書き込めません" in code page 932.
const std::string kCannotWrite = "\x20\x82\xC9\x8F\x91\x82\xAB\x8D\x9E\x82\xDF\x82\xDC\x82\xB9\x82\xF1";

const std::string kTop = "<html>top page</html>";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(ConfigE2E, TemplateDirectoryComesFromTheIniFile) {
  CgiSandbox box;
  box.write_file("mirelweb.ini", "[path]\r\nhtml = \"" + box.dir() + "tpl/\"\r\n");
  box.write_file("tpl/top.html", kTop);
  box.write_file("top.html", "the current directory's top page");
  auto r = box.run(CgiSandbox::get_env(""));
  EXPECT_EQ(r.status(), "200 OK");
  EXPECT_EQ(r.body(), kTop);
}

TEST(ConfigE2E, IniFileIsFoundBesideTheProgramNotInTheCurrentDirectory) {
  CgiSandbox box, elsewhere;
  box.write_file("tpl/top.html", kTop);
  box.write_file("mirelweb.ini", "[Path]\r\nHtml=" + box.dir() + "tpl/\r\n");
  elsewhere.write_file("mirelweb.ini", "[Path]\r\nHtml=/nowhere/\r\n");
  auto r = box.run(CgiSandbox::get_env(""), "", elsewhere.dir());
  EXPECT_EQ(r.body(), kTop);
}

TEST(ConfigE2E, LegacyFileIsMigrated) {
  CgiSandbox box;
  box.write_file("tpl/top.html", kTop);
  box.write_file("mirelweb.conf",
                 "\xEF\xBB\xBF# MirelWeb settings\r\n"
                 "\r\n"
                 "  HTML_PATH =  " + box.dir() + "tpl/   # the templates\r\n"
                 "DB_ALIAS=a=b#not part of it\n"
                 "DB_ALIAS=second\r");
  auto r = box.run(CgiSandbox::get_env(""));
  EXPECT_EQ(r.status(), "200 OK");
  EXPECT_EQ(r.body(), kTop);
  EXPECT_EQ(box.read_file("mirelweb.ini"), "[Path]\r\nHtml=" + box.dir() + "tpl/\r\nDb=a=b\r\n");
  EXPECT_FALSE(box.exists("mirelweb.conf"));

  // The next request reads the ini file.
  auto again = box.run(CgiSandbox::get_env(""));
  EXPECT_EQ(again.body(), kTop);
}

TEST(ConfigE2E, LegacyFileWithoutValuesIsDeletedAndCreatesNoIniFile) {
  CgiSandbox box;
  box.write_file("top.html", kTop);
  box.write_file("mirelweb.conf", "# nothing set\nHTML_PATH=\nDB_ALIAS = # none\n");
  auto r = box.run(CgiSandbox::get_env(""));
  EXPECT_EQ(r.body(), kTop);  // templates from the current directory
  EXPECT_FALSE(box.exists("mirelweb.ini"));
  EXPECT_FALSE(box.exists("mirelweb.conf"));
}

// The status-500 page and the log line of a migration that cannot write.
void expect_write_failure(const CgiSandbox& box, const mwtest::CgiResult& r) {
  const std::string message = box.dir() + "mirelweb.ini" + kCannotWrite;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.status().substr(0, 4), "500 ");
  EXPECT_TRUE(contains(r.body(), message)) << r.body();
  EXPECT_TRUE(box.exists("mirelweb.conf"));
  const std::string log = box.read_file("Error.txt");
  EXPECT_TRUE(std::regex_match(
      log, std::regex(R"(\[\d{4}/\d\d/\d\d( \d?\d:\d\d:\d\d)?\] \[error\] \[client 192\.0\.2\.7\] [^\r\n]*\r\n)")))
      << log;
  EXPECT_TRUE(contains(log, "] " + message + "\r\n")) << log;
}

TEST(ConfigE2E, UnwritableProgramDirectoryGivesStatus500AndKeepsTheLegacyFile) {
  CgiSandbox box;
  box.write_file("mirelweb.conf", "DB_ALIAS=MirelWin\r\n");
  box.write_file("Error.txt", "");  // an existing log stays appendable
  ::chmod(box.dir().c_str(), 0555);
  // Permission bits do not bind root: a root test run makes the request as
  // nobody. Any other user that they do not stop skips the test.
  const std::string probe = box.dir() + "probe";
  if (!box.drop_root() && ::mkdir(probe.c_str(), 0755) == 0) {
    ::rmdir(probe.c_str());
    ::chmod(box.dir().c_str(), 0755);
    GTEST_SKIP() << "permission bits do not stop this user";
  }
  auto r = box.run(CgiSandbox::get_env(""));
  ::chmod(box.dir().c_str(), 0755);
  expect_write_failure(box, r);
  EXPECT_FALSE(box.exists("mirelweb.ini"));
}

TEST(ConfigE2E, IniFileThatCannotBeCreatedGivesStatus500AndKeepsTheLegacyFile) {
  // For every user, root included: mirelweb.ini is a dangling link into a
  // regular file, so it does not exist and cannot be created.
  CgiSandbox box;
  box.write_file("mirelweb.conf", "DB_ALIAS=MirelWin\r\n");
  box.write_file("plain", "x");
  ASSERT_EQ(::symlink((box.dir() + "plain/mirelweb.ini").c_str(), (box.dir() + "mirelweb.ini").c_str()), 0);
  auto r = box.run(CgiSandbox::get_env(""));
  expect_write_failure(box, r);

  // Every request tries again, and succeeds once the cause is gone.
  ::unlink((box.dir() + "mirelweb.ini").c_str());
  box.write_file("top.html", kTop);
  auto fixed = box.run(CgiSandbox::get_env(""));
  EXPECT_EQ(fixed.body(), kTop);
  EXPECT_EQ(box.read_file("mirelweb.ini"), "[Path]\r\nDb=MirelWin\r\n");
  EXPECT_FALSE(box.exists("mirelweb.conf"));
}

TEST(ConfigE2E, ErrorTagsInLowerCaseProduceNothing) {
  CgiSandbox box;
  box.write_file("top.html", "[<#err_name>][<#ERR_NAME>][<#err_msg>]");
  auto r = box.run(CgiSandbox::get_env("/"));
  EXPECT_EQ(r.body(), "[][][]");
  EXPECT_FALSE(box.exists("Error.txt") && !box.read_file("Error.txt").empty());
}

TEST(ConfigE2E, FailingTagIsLoggedByTheTagHandlerAndByTheAction) {
  CgiSandbox box;
  box.write_file("top.html", "<html><#QUERY_SYOMEI></html>");
  auto r = box.run(CgiSandbox::get_env("/", "SYOMEI=%G1"));
  EXPECT_EQ(r.status(), "500 Internal Server Error");
  // Two lines with the same message: the tag handler's, then the action's.
  std::vector<std::string> tails;
  const std::string log = box.read_file("Error.txt");
  for (size_t pos = 0; pos < log.size();) {
    size_t end = log.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos) << log;
    const std::string line = log.substr(pos, end - pos);
    ASSERT_NE(line.find("] [error] [client 192.0.2.7] "), std::string::npos) << line;
    tails.push_back(line.substr(line.find("] [error] ")));
    pos = end + 2;
  }
  ASSERT_EQ(tails.size(), 2u) << log;
  EXPECT_EQ(tails[0], tails[1]);
  EXPECT_GT(tails[0].size(), std::string("] [error] [client 192.0.2.7] ").size());
}

}  // namespace
