// mirelweb-search-bench: what one CGI process pays for a catalogue search.
//
//   mirelweb-search-bench [--books N] [--runs R] [--data DIR]
//
// Generates a synthetic catalogue of N books (default 100000) under DIR
// (default bench/data/books-N of the source tree) unless it is there
// already, builds the cache once, then for each kind of keyword starts R
// fresh processes (default 15; this program again) that each open the
// search, count the hits and read one page of 20 hits with the fields a
// result row shows, exactly as a list request does. Prints the median and
// the fastest wall time per kind, beside the floor: a process that starts
// and exits without searching, measured in the same run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "database/database.h"
#include "dbase/catalogue_generator.h"
#include "mirelsearch/catalogue_index.h"
#include "search/mirel_search.h"

namespace {

using namespace Mirelsearch_tlb;
using Clock = std::chrono::steady_clock;

constexpr const char16_t* kAlias = u"Bench";
constexpr int kRows = 20;

std::shared_ptr<Istring_keyword> make_keyword(const std::string& kind, const std::string& text) {
  std::shared_ptr<Istring_keyword> k;
  if (kind == "bookid") {
    k = std::make_shared<Tkw_bookid>();
    k->set_match(3);
  } else if (kind == "isbn") {
    k = std::make_shared<Tkw_isbn>();
  } else if (kind == "chosya") {
    k = std::make_shared<Tkw_chosya_ex>();
  } else {
    k = std::make_shared<Tkw_syomei_ex>();
  }
  k->set_mode(0);
  k->set_keyword(Mirel::from_utf8(text));
  return k;
}

// One list request's work on the search: returns the number of hits.
int run_search(const std::string& kind, const std::string& text, int page) {
  register_search_index();
  Tmirel_search search;
  search.add_keyword(make_keyword(kind, text));
  search.set_flag(true);
  search.connect(u"");
  search.open(kAlias);
  int count = search.get_record_count();
  if (count > 0) {
    int32_t moved = 0;
    search.move_by(page * kRows, moved);
    for (int i = 0; i < kRows && !search.get_is_eof(); ++i) {
      search.get_BOOKID();
      search.get_SYOMEI();
      search.get_CHOSYA();
      search.get_SYUPAN();
      search.get_SYUNEN();
      if (!search.get_is_kasidasi() && !search.get_is_fumei()) search.get_kkubun()->get_is_kinsi();
      search.move_next();
    }
  }
  search.close();
  search.disconnect();
  return count;
}

struct Sample {
  double wall_ms, cpu_ms;
};

Sample run_child(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  auto start = Clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  auto to_ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  double cpu = to_ms(usage.ru_utime) + to_ms(usage.ru_stime);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "child failed: %s\n", args.back().c_str());
    std::exit(1);
  }
  return {ms, cpu};
}

struct Stats {
  double median, fastest, cpu;  // wall median, wall fastest, CPU median
};

Stats measure(const std::vector<std::string>& args, int runs) {
  std::vector<double> wall, cpu;
  run_child(args);  // warm the page cache
  for (int i = 0; i < runs; ++i) {
    Sample s = run_child(args);
    wall.push_back(s.wall_ms);
    cpu.push_back(s.cpu_ms);
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return {wall[wall.size() / 2], wall.front(), cpu[cpu.size() / 2]};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  if (args.size() >= 2 && args[1] == "--noop") return 0;
  if (args.size() == 6 && args[1] == "--phases") {
    // --phases PROGRAM_DIR KIND KEYWORD PAGE: the same work three times in
    // one process, each timed, to tell one-off costs from per-search ones.
    Mirel::Database::set_program_directory(args[2]);
    for (int i = 0; i < 3; ++i) {
      auto t = Clock::now();
      run_search(args[3], args[4], std::atoi(args[5].c_str()));
      std::printf("%.2f ms\n", std::chrono::duration<double, std::milli>(Clock::now() - t).count());
    }
    return 0;
  }
  if (args.size() == 7 && args[1] == "--child") {
    // --child PROGRAM_DIR KIND KEYWORD PAGE QUIET
    Mirel::Database::set_program_directory(args[2]);
    try {
      int count = run_search(args[3], args[4], std::atoi(args[5].c_str()));
      if (args[6] == "print") std::printf("%d\n", count);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
    return 0;
  }

  long long books = 100000;
  int runs = 15;
  std::string data;
  for (size_t i = 1; i + 1 < args.size(); i += 2) {
    if (args[i] == "--books") books = std::atoll(args[i + 1].c_str());
    else if (args[i] == "--runs") runs = std::atoi(args[i + 1].c_str());
    else if (args[i] == "--data") data = args[i + 1];
  }
  if (data.empty()) data = std::string(MW_SOURCE_DIR) + "/bench/data/books-" + std::to_string(books);
  namespace fs = std::filesystem;
  fs::create_directories(data + "/lib");
  {
    std::ofstream ini(data + "/aliases.ini");
    ini << "[Aliases]\nBench=" << data << "/lib\n";
  }
  if (!fs::exists(data + "/lib/master.dbf")) {
    std::printf("generating %lld books in %s\n", books, data.c_str());
    Mirel::Dbase::TCatalogueOptions options;
    options.books = books;
    Mirel::Dbase::generate_catalogue(data + "/lib", options);
  }
  Mirel::Database::set_program_directory(data);

  // Build (or check) the cache once, and take the keywords from one book in
  // the middle of the catalogue.
  auto t0 = Clock::now();
  register_search_index();
  Tmirel_search probe;
  char id[32];
  std::snprintf(id, sizeof id, "%010lld", books / 2);
  probe.add_keyword(make_keyword("bookid", id));
  probe.open(kAlias);
  std::printf("cache ready in %.0f ms\n",
              std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  const Mirel::UnicodeString title = probe.get_SYOMEI();
  const std::string isbn = Mirel::to_utf8(probe.get_ISBN());
  probe.close();

  struct Case {
    std::string label, kind, keyword;
    int page;
  };
  std::vector<Case> cases = {
      {"title, 1 char (the commonest: の)", "syomei", "の", 0},
      {"title, 1 char", "syomei", Mirel::to_utf8(title.substr(0, 1)), 0},
      {"title, 2 chars", "syomei", Mirel::to_utf8(title.substr(0, 2)), 0},
      {"title, 4 chars", "syomei", Mirel::to_utf8(title.substr(0, 4)), 0},
      {"ISBN", "isbn", isbn, 0},
      {"book id", "bookid", id, 0},
      {"title, の, page 50", "syomei", "の", 50},
  };

  const std::string self = args[0];
  Stats floor = measure({self, "--noop"}, runs);
  std::printf("%lld books, %d runs each; floor (process start and exit): median %.2f ms, "
              "fastest %.2f ms, CPU %.2f ms\n",
              books, runs, floor.median, floor.fastest, floor.cpu);
  std::printf("%-34s %7s %10s %9s %8s %8s\n", "search", "hits", "median ms", "fastest", "CPU ms",
              "x floor");
  for (const Case& c : cases) {
    int count = run_search(c.kind, c.keyword, c.page);
    Stats s = measure({self, "--child", data, c.kind, c.keyword, std::to_string(c.page), "quiet"}, runs);
    std::printf("%-34s %7d %10.2f %9.2f %8.2f %8.1f   [%s]\n", c.label.c_str(), count, s.median,
                s.fastest, s.cpu, s.median / floor.median, c.keyword.c_str());
  }
  return 0;
}
