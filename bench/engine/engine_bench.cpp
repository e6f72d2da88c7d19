// mirelweb-engine-bench: what the database engine costs one CGI process.
//
//   mirelweb-engine-bench [--books N] [--runs R] [--data DIR] [--search-index]
//
// Generates a synthetic catalogue of N books (default 100000) under DIR
// (default <build>/bench-data/engine-N) unless it is there already, brings
// its caches up to date, then measures, each time in fresh processes (this
// program again) from start to exit:
//   floor         a process that starts and exits without the engine
//   recommend     the recommended-books query, every row read
//   ukeire        the distinct-accession-dates query, first row, move_by(6)
//   check         the freshness check of all ten tables (a catalogue opened)
//   loans         the recommended-books query right after a new loan
//   master-1000   the same right after 1000 master records changed in place
//   master-full   the same right after 25000 records changed (a full rebuild)
// and in this process, as the mean of many: the freshness check of the ten
// tables with their caches attached (check-in-process) and the signature of
// the ten tables' files alone (signatures).
// With --search-index the catalogue search component's index is kept in
// master's cache, as in the web program (data under DIR-idx by default).
// Prints the median and fastest wall time of each and its ratio to the
// floor measured in the same run, since absolute times drift between runs.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "database/database.h"
#include "database/engine.h"
#include "dbase/catalogue_generator.h"
#include "dbase/dbf.h"
#include "dbase/library_schema.h"
#include "mirelsearch/catalogue_index.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace Mirel;

constexpr const char16_t* kAlias = u"EngineBench";
const std::vector<std::string> kTables = {"feature", "master", "fukuhon", "skubun", "kkubun",
                                          "kounyu",  "himoku", "syozai",  "kasidasi", "yoyaku"};

const char* kRecommendSql =
    "select     MS_BOOKID,     MS_FUKUID,     MS_SKUBUN,     SK_SKNAME,     MS_KKUBUN,     "
    "KK_KKNAME,     MS_SEIKYU,     MS_UKEIRE,     MS_ISBN,     MS_SYOMEI,     MS_SYOKANA,     "
    "MS_CHOSYA,     MS_CHOKANA,     MS_NAIYO,     MS_KENMEI,     MS_SYUNEN,     MS_SYUPAN,     "
    "MS_PAGE,     MS_OOKISA,     MS_KINGAKU,     MS_KOUNYU,     KO_KOUNYU,     MS_HIMOKU,     "
    "HI_HIMOKU,     MS_SYOZAI,     SY_SYOZAI,     MS_MEMO,     MS_BLOB,     MS_KYUID,     "
    "MS_TZENKAI,     MS_TFMSUU,     FK_SOUSU,     FK_KASI,     KA_HDATE,     YO_YDATE,     "
    "FT_BOOKID from     feature.dbf     left join master.dbf on FT_BOOKID = MS_BOOKID     "
    "left join fukuhon.dbf on MS_BOOKID = FK_FUKUID     left join skubun.dbf on MS_SKUBUN = "
    "SK_SKUBUN     left join kkubun.dbf on MS_KKUBUN = KK_KKUBUN     left join kounyu.dbf on "
    "MS_KOUNYU = KO_CODE     left join himoku.dbf on MS_HIMOKU = HI_CODE     left join "
    "syozai.dbf on MS_SYOZAI = SY_CODE     left join kasidasi.dbf on MS_BOOKID = KA_BOOKID     "
    "left join yoyaku.dbf on MS_BOOKID = YO_BOOKID where     MS_BOOKID IS NOT NULL ";
const char* kUkeireSql =
    "select MS_UKEIRE from 'master.dbf' group by MS_UKEIRE order by MS_UKEIRE DESC";

// ---- child work: one request's worth of engine use ----

int run_query(const char* sql, bool range) {
  Database::TSession session;
  session.set_component_name(u"MirelWebRecomSession");
  session.set_private_dir(u"/tmp/");
  session.set_session_name(u"Bench");
  session.set_auto_session_name(false);
  Database::TQuery q;
  q.set_unidirectional(true);
  q.set_calc_fields(false);
  q.set_param_check(false);
  q.set_database_name(kAlias);
  q.set_session_name(u"Bench");
  q.set_sql(from_utf8(sql));
  session.open();
  q.open();
  size_t bytes = 0;
  if (range) {
    bytes += q.field_as_string(u"MS_UKEIRE").size();
    q.move_by(6);
    bytes += q.field_as_string(u"MS_UKEIRE").size();
  } else {
    for (; !q.eof(); q.next())
      for (const char16_t* f : {u"FT_BOOKID", u"MS_SEIKYU", u"MS_SYOMEI", u"MS_CHOSYA",
                                u"MS_SYUPAN", u"MS_UKEIRE", u"MS_NAIYO", u"KK_KKNAME", u"SY_SYOZAI"})
        bytes += q.field_as_string(f).size() + q.field_is_null(u"KA_HDATE");
  }
  q.close();
  q.unprepare();
  session.close();
  return bytes > 0 ? 0 : 3;
}

int child(const std::string& mode) {
  if (mode == "floor") return 0;
  if (mode == "recommend") return run_query(kRecommendSql, false);
  if (mode == "ukeire") return run_query(kUkeireSql, true);
  if (mode == "check") {
    Database::TCatalog catalog(kAlias, kTables);
    return catalog.handle() ? 0 : 3;
  }
  return 2;
}

// ---- measuring ----

bool g_search_index = false;

double run_child(const std::string& mode, const std::string& dir) {
  const auto start = Clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    const char* argv[] = {"mirelweb-engine-bench", "--child", mode.c_str(), dir.c_str(),
                          g_search_index ? "--search-index" : nullptr, nullptr};
    ::execv("/proc/self/exe", const_cast<char**>(argv));
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "child %s failed (status %d)\n", mode.c_str(), status);
    std::exit(1);
  }
  return ms;
}

struct TFigure {
  std::string name;
  double median = 0, fastest = 0;
};

TFigure measure(const std::string& name, int runs, const std::function<double()>& once) {
  std::vector<double> t;
  for (int i = 0; i < runs; ++i) t.push_back(once());
  std::sort(t.begin(), t.end());
  return {name, t[t.size() / 2], t.front()};
}

// Changes `count` master titles in place, as the library system rewrites a
// record: same size, new bytes, new modification time.
void change_master_titles(const std::string& lib, int count, int round) {
  const std::string path = lib + "/master.dbf";
  uint32_t header = 0, reclen = 0, n = 0;
  uint32_t offset = 0, length = 0;
  {
    Dbase::TTableReader r(path);
    header = r.header_length();
    reclen = r.record_length();
    n = r.record_count();
    const auto& f = r.fields()[static_cast<size_t>(r.field_index("MS_SYOMEI"))];
    offset = f.offset;
    length = f.length;
  }
  const int fd = ::open(path.c_str(), O_WRONLY);
  for (int k = 0; k < count; ++k) {
    const uint32_t i = static_cast<uint32_t>((static_cast<uint64_t>(k) * 7919 + round) % n);
    std::string title = Dbase::utf8_to_cp932("改訂版 第" + std::to_string(round) + "刷 " +
                                            std::to_string(k));
    title.resize(length, ' ');
    ::pwrite(fd, title.data(), title.size(), static_cast<off_t>(header + i * reclen + offset));
  }
  ::close(fd);
}

void add_loan(const std::string& lib, int round) {
  auto w = Dbase::TTableWriter::open(lib + "/kasidasi.dbf");
  std::vector<std::string> v(w->fields().size());
  v[static_cast<size_t>(w->field_index("KA_BOOKID"))] = Dbase::book_id(1 + round);
  v[static_cast<size_t>(w->field_index("KA_HDATE"))] = "20250430";
  w->append(v);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--child") == 0) {
    Database::set_program_directory(argv[3]);
    if (argc >= 5) Mirelsearch_tlb::register_search_index();
    try {
      return child(argv[2]);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "%s\n", e.what());
      return 1;
    }
  }
  long long books = 100000;
  int runs = 15;
  std::string dir;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--search-index")) g_search_index = true;
    else if (i + 1 >= argc) break;
    else if (!std::strcmp(argv[i], "--books")) books = std::atoll(argv[++i]);
    else if (!std::strcmp(argv[i], "--runs")) runs = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--data")) dir = argv[++i];
  }
  if (dir.empty())
    dir = std::string(MW_BINARY_DIR) + "/bench-data/engine-" + std::to_string(books) +
          (g_search_index ? "-idx" : "");
  if (g_search_index) Mirelsearch_tlb::register_search_index();
  const std::string lib = dir + "/lib";
  if (!std::filesystem::exists(lib + "/master.dbf")) {
    std::filesystem::create_directories(lib);
    Dbase::TCatalogueOptions options;
    options.books = books;
    options.features = 20;
    std::printf("generating %lld books in %s\n", books, lib.c_str());
    Dbase::generate_catalogue(lib, options);
  }
  std::ofstream(dir + "/aliases.ini") << "[Aliases]\nEngineBench=lib\n";
  Database::set_program_directory(dir);

  // Bring every cache up to date, twice: files written just now are checked
  // record by record once more before their times are trusted.
  const auto t0 = Clock::now();
  run_child("recommend", dir);
  std::printf("first query (caches built as needed): %.1f ms\n",
              std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  run_child("recommend", dir);
  run_child("ukeire", dir);

  std::vector<TFigure> figures;
  figures.push_back(measure("floor", runs, [&] { return run_child("floor", dir); }));
  figures.push_back(measure("recommend", runs, [&] { return run_child("recommend", dir); }));
  figures.push_back(measure("ukeire", runs, [&] { return run_child("ukeire", dir); }));
  figures.push_back(measure("check", runs, [&] { return run_child("check", dir); }));

  // The freshness check inside one process, many times.
  {
    const int loops = 200;
    const auto s = Clock::now();
    for (int i = 0; i < loops; ++i) Database::TCatalog catalog(kAlias, kTables);
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - s).count() / loops;
    figures.push_back({"check-in-process", ms, ms});
    const auto alias = Database::detail::resolve_alias(kAlias);
    std::vector<Database::detail::TTableSource> sources;
    for (const auto& t : kTables) sources.push_back(Database::detail::require_table(alias, t));
    const auto s2 = Clock::now();
    size_t bytes = 0;
    for (int i = 0; i < loops; ++i)
      for (const auto& src : sources) bytes += Database::detail::source_signature(src).size();
    const double ms2 =
        std::chrono::duration<double, std::milli>(Clock::now() - s2).count() / loops;
    figures.push_back({"signatures", ms2, bytes > 0 ? ms2 : 0});
  }

  // Titles differ from every earlier run's, so that each change is one.
  int round = static_cast<int>(::time(nullptr) % 1000000) * 10;
  figures.push_back(measure("loans", std::max(3, runs / 2), [&] {
    add_loan(lib, ++round);
    return run_child("recommend", dir);
  }));
  figures.push_back(measure("master-1000", 3, [&] {
    change_master_titles(lib, 1000, ++round);
    const double ms = run_child("recommend", dir);
    run_child("check", dir);  // settle the record-by-record recheck
    return ms;
  }));
  figures.push_back(measure("master-full", 2, [&] {
    change_master_titles(lib, 25000, ++round);
    const double ms = run_child("recommend", dir);
    run_child("check", dir);
    return ms;
  }));

  const double floor = figures[0].median;
  std::printf("%-18s %10s %10s %8s\n", "measure", "median ms", "fastest ms", "x floor");
  for (const auto& f : figures)
    std::printf("%-18s %10.2f %10.2f %8.1f\n", f.name.c_str(), f.median, f.fastest,
                floor > 0 ? f.median / floor : 0);
  return 0;
}
