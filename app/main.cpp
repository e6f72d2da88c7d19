// Program entry: serves one CGI request with the web module TWebMain.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/web_main.h"
#include "database/database.h"
#include "mirelsearch/catalogue_index.h"

namespace {

// The directory of the running program file, with its trailing '/'.
std::string program_directory() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string exe(buf, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

}  // namespace

int main() {
  using namespace Mirel::MirelWeb;
  // Before any table is opened: the search index is part of master.dbf's
  // cache, and a process that opened the cache without it would rebuild it.
  Mirelsearch_tlb::register_search_index();
  // One request per process: each table is checked once, however many
  // queries of the request open it.
  Mirel::Database::set_one_look_per_process(true);
  try {
    TWebMainEnvironment environment{program_directory(), "", "Error.txt", {}};
    environment.limits = read_limits(environment.program_dir);
    TCgiInput input = process_cgi_input();
    input.max_content = environment.limits.max_body_bytes;
    const char* remote = input.getenv("REMOTE_ADDR");
    environment.remote_addr = remote ? remote : "";
    return RunCgiApplication(input, process_cgi_output(), [&]() -> std::unique_ptr<TWebModule> {
      return std::make_unique<TWebMain>(environment);
    });
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\r\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "unknown exception\r\n");
  }
  return 0;
}
