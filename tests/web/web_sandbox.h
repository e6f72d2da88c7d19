// One request served in-process by a TWebMain built in a scratch program
// directory: templates under tpl/, the library's tables under data/ (alias
// "Lib"), the error log and the lock file of the database mutex in the
// directory itself (TMPDIR points there while the sandbox lives, so tests
// never meet the lock of another program).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/web_main.h"
#include "cgi/web_request.h"
#include "cgi/web_response.h"
#include "database/database.h"
#include "dbase/library_builder.h"
#include "error/error_log.h"
#include "library/named_mutex.h"
#include "tests/config/temp_dir.h"

namespace webtest {

using namespace Mirel;
using namespace Mirel::MirelWeb;

class WebSandbox {
 public:
  WebSandbox() {
    if (const char* old = std::getenv("TMPDIR")) old_tmpdir_ = old;
    ::setenv("TMPDIR", dir.path().c_str(), 1);
    std::filesystem::create_directories(dir / "tpl");
    std::filesystem::create_directories(dir / "data");
    mwtest::write_file(dir / "mirelweb.ini", "[Path]\r\nHtml=" + dir.path() + "tpl/\r\nDb=Lib\r\n");
    mwtest::write_file(dir / "aliases.ini", "[Aliases]\r\nLib=" + dir.path() + "data\r\n");
    Database::set_program_directory(dir.path());
  }
  ~WebSandbox() {
    module.reset();
    if (old_tmpdir_)
      ::setenv("TMPDIR", old_tmpdir_->c_str(), 1);
    else
      ::unsetenv("TMPDIR");
  }
  WebSandbox(const WebSandbox&) = delete;
  WebSandbox& operator=(const WebSandbox&) = delete;

  // A template, given as UTF-8, stored in code page 932 like the library's.
  void write_template(const std::string& name, const std::string& utf8) const {
    mwtest::write_file(dir / ("tpl/" + name), to_ansi(from_utf8(utf8)));
  }
  void write_library(const Dbase::TLibraryBuilder& library) const { library.write(dir / "data"); }

  // Builds the module for a GET of `path_info` with `query` and attaches the
  // request and the response, as dispatch does.
  TWebMain& start(const std::string& path_info, const std::string& query = "") {
    module.reset();
    output.clear();
    env_ = {{"REQUEST_METHOD", "GET"},       {"QUERY_STRING", query},
            {"PATH_INFO", path_info},        {"SERVER_PROTOCOL", "HTTP/1.1"},
            {"HTTP_HOST", "lib.example"},    {"SCRIPT_NAME", "/cgi-bin/mirelweb"},
            {"REMOTE_ADDR", "192.0.2.9"}};
    TCgiInput input;
    input.getenv = [this](const char* name) -> const char* {
      auto it = env_.find(name);
      return it == env_.end() ? nullptr : it->second.c_str();
    };
    input.read = [](char*, size_t) -> size_t { return 0; };
    request = std::make_unique<TWebRequest>(input);
    response = std::make_unique<TWebResponse>(*request, [this](std::string_view b) { output += b; });
    TWebMainEnvironment environment;
    environment.program_dir = dir.path();
    environment.remote_addr = "192.0.2.9";
    environment.log_path = dir / "Error.txt";
    module = std::make_unique<TWebMain>(environment);
    module->Request = request.get();
    module->Response = response.get();
    return *module;
  }

  // Dispatches the started request and sends the response; returns the
  // whole output (header block and body, code page 932 turned into UTF-8).
  std::string serve() {
    module->HandleRequest(*request, *response);
    if (!response->Sent()) response->SendResponse();
    return to_utf8(from_ansi(output));
  }

  // The page made from `utf8_template` by the started module's main page
  // producer, as UTF-8.
  std::string produce(const std::string& utf8_template) {
    write_template("page.html", utf8_template);
    module->PageProducer.SetHTMLFile(from_utf8(dir / "tpl/page.html"));
    return to_utf8(module->PageProducer.Content());
  }

  std::string body() const {
    const std::string text = to_utf8(from_ansi(output));
    const size_t end = text.find("\r\n\r\n");
    return end == std::string::npos ? text : text.substr(end + 4);
  }
  std::string log() const { return to_utf8(from_ansi(mwtest::read_file(dir / "Error.txt"))); }

  // Whether another holder could take the database mutex right now.
  bool mutex_is_free() const {
    TNamedMutex probe(kMirelWebMutexName, dir.path());
    return probe.wait(0);
  }

  mwtest::TempDir dir;
  std::unique_ptr<TWebRequest> request;
  std::unique_ptr<TWebResponse> response;
  std::unique_ptr<TWebMain> module;
  std::string output;

 private:
  std::map<std::string, std::string> env_;
  std::optional<std::string> old_tmpdir_;
};

}  // namespace webtest
