// mirelweb-soak: many visitors at once through lighttpd while the library
// system changes the tables (see bench/soak/run and docs/hardening.md).
//
//   mirelweb-soak [--seconds S] [--clients C] [--books N] [--writer-pause MS] [--keep]
//
// It builds a site in a new temporary directory (the program of this build
// directory, its ini files, small templates, a catalogue of N books written
// by the project's dBASE writer), serves it with lighttpd on a loopback
// port, starts mirelweb-soak-writer for S seconds (a change of the tables
// every MS milliseconds on average, default 250) and C client threads that
// ask for list pages, detail pages, the recommended books and the top page
// until the writer has finished. Every answer must be a correct page or the
// busy page:
//   list    status 200, "LIST <count>" with count at least N and never less
//           than the same client saw before, the rows of the page numbered
//           consecutively from PAGENUM × 20 + 1, each title naming its own
//           book id, each lending mark one of the two marks
//   detail  the book asked for, title matching, one of the two lending words
//   others  their fixed text
// and a few requests with a bad percent escape must fail (status 500), each
// with one line in Error.txt. After the writer has stopped, every list page
// and a sample of detail pages must show the final data (the writer's state
// file: number of books, the books on loan), Error.txt must hold whole lines
// only, exactly one per failing request, and neither the cache directory nor
// the temporary directory may hold leftover files.
// The figures (requests, rates, busy pages, latencies) go to standard
// output; exit status 0 when every check held, 1 otherwise, 2 for bad
// arguments or a site that could not be set up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/soak/soak_data.h"
#include "dbase/library_builder.h"
#include "platform/unicode_string.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kRows = 20;
constexpr int kRecommended = 10;

std::string cp932(const std::string& utf8) { return Mirel::to_ansi(Mirel::from_utf8(utf8)); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string program_dir() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  return fs::path(std::string(buf, static_cast<size_t>(n))).parent_path().string();
}

// ---- HTTP ----

struct Reply {
  int status = 0;
  std::string body;
  std::string error;  // why there is no reply
};

Reply http_get(int port, const std::string& target) {
  Reply r;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  timeval limit{180, 0};  // a hung request is reported, not waited for forever
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    r.error = std::string("connect: ") + std::strerror(errno);
    ::close(fd);
    return r;
  }
  const std::string request = "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    r.error = "send failed";
    ::close(fd);
    return r;
  }
  std::string raw;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      raw.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) r.error = std::string("read: ") + std::strerror(errno);
    break;
  }
  ::close(fd);
  if (raw.rfind("HTTP/1.", 0) == 0 && raw.size() > 12) r.status = std::atoi(raw.c_str() + 9);
  const size_t end = raw.find("\r\n\r\n");
  if (end != std::string::npos) r.body = raw.substr(end + 4);
  else if (r.error.empty()) r.error = "no complete answer";
  return r;
}

// ---- the site ----

struct Site {
  std::string dir, data, tmp, cgi;
  int port = 0;
  pid_t lighttpd = -1;
};

void build_site(Site& site, const std::string& build, long long books) {
  char tmpl[] = "/tmp/mwsoak-XXXXXX";
  if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
  site.dir = tmpl;
  site.data = site.dir + "/data";
  site.tmp = site.dir + "/tmp";
  site.cgi = site.dir + "/cgi-bin";
  fs::create_directories(site.data);
  fs::create_directories(site.tmp);
  fs::create_directories(site.cgi);
  fs::create_directories(site.dir + "/www");
  fs::copy_file(build + "/mirelweb", site.cgi + "/mirelweb");
  write_file(site.cgi + "/mirelweb.ini", "[Path]\r\nHtml=" + site.dir + "/tpl/\r\nDb=SOAK\r\n");
  write_file(site.cgi + "/aliases.ini", "[Aliases]\r\nSOAK=" + site.data + "\r\n");
  write_file(site.dir + "/tpl/top.html", "TOP");
  write_file(site.dir + "/tpl/list.html",
             "<#SETUP rows=20>LIST <#TOTAL_FIND_COUNT>\n<#FIND_VALUE_LIST>END\n");
  write_file(site.dir + "/tpl/listrow.html", "ROW <#BOOKID>|<#SYOMEI>|<#KASIDASI_MARK>");
  write_file(site.dir + "/tpl/page_.html", "DETAIL <#BOOKID>|<#SYOMEI>|<#KASIDASI>");
  write_file(site.dir + "/tpl/error.html", "ERROR <#ERR_NAME>");

  Mirel::Dbase::TLibraryBuilder library;
  for (long long id = 1; id <= books; ++id) library.add_book(soak::soak_book(id));
  for (long long id : soak::loans_of_generation(0, books))
    library.add_loan(Mirel::Dbase::book_id(id), "20991231", "20240401");
  for (long long id = 1; id <= kRecommended; ++id) library.add_feature(Mirel::Dbase::book_id(id));
  library.write(site.data);
}

// lighttpd on a loopback port the kernel picks, handed the listening socket
// so that no request can come before it is ready.
void start_lighttpd(Site& site) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listener, 256) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
    throw std::runtime_error("cannot listen on loopback");
  site.port = ntohs(addr.sin_port);
  const std::string conf = site.dir + "/lighttpd.conf";
  write_file(conf,
             "server.document-root = \"" + site.dir + "/www\"\n"
             "server.bind = \"127.0.0.1\"\n"
             "server.port = " + std::to_string(site.port) + "\n"
             "server.systemd-socket-activation = \"enable\"\n"
             "server.errorlog = \"" + site.dir + "/lighttpd-error.log\"\n"
             "server.max-connections = 1024\n"
             // As scripts/serve: the query reaches the program as sent.
             "server.http-parseopts = (\"url-normalize\" => \"disable\")\n"
             "server.modules = (\"mod_alias\", \"mod_cgi\", \"mod_setenv\")\n"
             "setenv.add-environment = (\"TMPDIR\" => \"" + site.tmp + "\")\n"
             "alias.url = (\"/cgi-bin/mirelweb\" => \"" + site.cgi + "/mirelweb\")\n"
             "$HTTP[\"url\"] =~ \"^/cgi-bin/\" { cgi.assign = (\"\" => \"\") }\n");
  site.lighttpd = ::fork();
  if (site.lighttpd == 0) {
    if (listener != 3) {
      ::dup2(listener, 3);
      ::close(listener);
    }
    ::setenv("LISTEN_FDS", "1", 1);
    ::setenv("LISTEN_PID", std::to_string(::getpid()).c_str(), 1);
    ::execlp("lighttpd", "lighttpd", "-D", "-f", conf.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(listener);
  if (site.lighttpd < 0) throw std::runtime_error("fork failed");
}

// ---- checking answers ----

struct Stats {
  std::mutex mutex;
  long long requests = 0, busy = 0, failures = 0;
  long long failing = 0;  // requests that fail on purpose (bad escape)
  std::vector<double> latencies_ms;
  std::vector<std::string> samples;  // the first failures, for the report

  void fail(const std::string& what) {
    std::lock_guard lock(mutex);
    ++failures;
    if (samples.size() < 20) samples.push_back(what.substr(0, 600));
  }
};

const std::string& busy_page() {
  static const std::string page = cp932("ERROR データベースアクセスが混雑しています");
  return page;
}

// Lending marks and words, as the templates show them.
const std::string& mark_free() {
  static const std::string s = cp932("<div class=\"enabled\">■</div>");
  return s;
}
const std::string& mark_lent() {
  static const std::string s = cp932("<div class=\"disabled\">▲</div>");
  return s;
}
const std::string& word_free() {
  static const std::string s = cp932("<div class=\"enabled\">貸出可</div>");
  return s;
}
const std::string& word_lent() {
  static const std::string s = cp932("<div class=\"disabled\">貸出中</div>");
  return s;
}

// A list page: "" when it is right, else what is wrong. `count` receives
// the number of hits; `lent`, when given, the books shown as on loan.
std::string check_list(const std::string& body, long long pagenum, long long min_count,
                       long long* count, std::set<long long>* lent) {
  if (body.rfind("LIST ", 0) != 0) return "not a list page";
  const size_t eol = body.find('\n');
  *count = std::atoll(body.substr(5, eol - 5).c_str());
  if (*count < min_count) return "count " + std::to_string(*count) + " below " + std::to_string(min_count);
  const long long first = pagenum * kRows + 1;
  const long long expected_rows = std::clamp<long long>(*count - pagenum * kRows, 0, kRows);
  std::string rows = body.substr(eol + 1);
  if (rows.size() < 4 || rows.compare(rows.size() - 4, 4, "END\n") != 0) return "no END line";
  rows.resize(rows.size() - 4);
  long long n = 0;
  size_t start = 0;
  while (start < rows.size()) {
    const size_t end = rows.find("\r\n", start);
    if (end == std::string::npos) return "row without its line end";
    const std::string row = rows.substr(start, end - start);
    start = end + 2;
    const long long id = first + n++;
    const std::string expected = "ROW " + Mirel::Dbase::book_id(id) + "|" + soak::soak_title(id) + "|";
    if (row.rfind(expected, 0) != 0) return "row " + std::to_string(n) + " is \"" + row + "\", wanted " + expected;
    const std::string mark = row.substr(expected.size());
    if (mark == mark_lent()) {
      if (lent) lent->insert(id);
    } else if (mark != mark_free()) {
      return "row " + std::to_string(n) + " has the mark \"" + mark + "\"";
    }
  }
  if (n != expected_rows)
    return std::to_string(n) + " rows for " + std::to_string(*count) + " hits on page " +
           std::to_string(pagenum);
  return "";
}

// A detail page; `on_loan` receives its lending state.
std::string check_detail(const std::string& body, long long id, bool* on_loan) {
  const std::string head = "DETAIL " + Mirel::Dbase::book_id(id) + "|" + soak::soak_title(id) + "|";
  if (body.rfind(head, 0) != 0) return "detail page of " + std::to_string(id) + " is \"" + body.substr(0, 200) + "\"";
  const std::string word = body.substr(head.size());
  if (word == word_lent()) *on_loan = true;
  else if (word == word_free()) *on_loan = false;
  else return "lending word \"" + word + "\"";
  return "";
}

// One visitor: random pages until `stop`.
void client(int number, const Site& site, long long books, const std::atomic<bool>& stop,
            Stats& stats) {
  std::mt19937 random(static_cast<unsigned>(number * 7919 + 1));
  long long last_count = books;
  std::vector<double> latencies;
  long long requests = 0, busy = 0, failing = 0;
  while (!stop.load()) {
    const int kind = static_cast<int>(random() % 100);
    std::string target = "/cgi-bin/mirelweb";
    long long pagenum = 0, id = 0;
    if (kind < 50) {
      pagenum = static_cast<long long>(random() % static_cast<unsigned>(last_count / kRows + 2));
      target += "/list?SYOMEI=soak&PAGENUM=" + std::to_string(pagenum);
    } else if (kind < 80) {
      id = 1 + static_cast<long long>(random() % static_cast<unsigned>(books));
      target += "/data?BOOKID=" + Mirel::Dbase::book_id(id);
    } else if (kind < 92) {
      target += "/recommend?PAGENUM=0&STATUS=1";
    } else if (kind < 97) {
      target += "/";
    } else {
      // A request that fails on purpose: one log line each, written while
      // other processes write theirs.
      target += "/list?SYOMEI=%G" + std::to_string(number);
    }
    const auto started = Clock::now();
    const Reply r = http_get(site.port, target);
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - started).count());
    ++requests;
    std::string fault;
    if (kind >= 97) {
      ++failing;
      if (r.status != 500 || r.body.find("Internal Application Error") == std::string::npos)
        fault = "the failing request gave status " + std::to_string(r.status);
    } else if (!r.error.empty()) fault = r.error;
    else if (r.status != 200) fault = "status " + std::to_string(r.status) + ": " + r.body.substr(0, 300);
    else if (r.body == busy_page()) ++busy;
    else if (kind < 50) {
      long long count = 0;
      fault = check_list(r.body, pagenum, last_count, &count, nullptr);
      if (fault.empty()) last_count = count;
    } else if (kind < 80) {
      bool on_loan = false;
      fault = check_detail(r.body, id, &on_loan);
    } else if (kind < 92) {
      long long count = 0;
      fault = check_list(r.body, 0, kRecommended, &count, nullptr);
      if (fault.empty() && count != kRecommended) fault = "recommended count " + std::to_string(count);
    } else if (kind < 97 && r.body != "TOP") {
      fault = "top page \"" + r.body.substr(0, 200) + "\"";
    }
    if (!fault.empty()) stats.fail(target + ": " + fault);
  }
  std::lock_guard lock(stats.mutex);
  stats.requests += requests;
  stats.busy += busy;
  stats.failing += failing;
  stats.latencies_ms.insert(stats.latencies_ms.end(), latencies.begin(), latencies.end());
}

// ---- the final state ----

struct FinalState {
  long long books = 0;
  std::set<long long> loans;
  long long appends = 0, rewrites = 0;
};

FinalState read_state(const std::string& path) {
  FinalState s;
  std::istringstream in(read_file(path));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key;
    words >> key;
    if (key == "books") words >> s.books;
    if (key == "steps") words >> s.appends >> s.rewrites;
    if (key == "loans")
      for (long long id; words >> id;) s.loans.insert(id);
  }
  return s;
}

// Every list page and a sample of detail pages against the final state.
void check_final(const Site& site, const FinalState& final_state, Stats& stats) {
  const long long pages = (final_state.books + kRows - 1) / kRows;
  std::set<long long> lent_seen;
  for (long long p = 0; p <= pages; ++p) {
    const std::string target = "/cgi-bin/mirelweb/list?SYOMEI=soak&PAGENUM=" + std::to_string(p);
    const Reply r = http_get(site.port, target);
    long long count = 0;
    std::string fault = r.status == 200 ? check_list(r.body, p, final_state.books, &count, &lent_seen)
                                        : "status " + std::to_string(r.status);
    if (fault.empty() && count != final_state.books)
      fault = "count " + std::to_string(count) + ", the writer left " + std::to_string(final_state.books);
    if (!fault.empty()) stats.fail("final " + target + ": " + fault);
  }
  if (lent_seen != final_state.loans)
    stats.fail("final list pages show " + std::to_string(lent_seen.size()) + " books on loan, the writer left " +
               std::to_string(final_state.loans.size()));
  std::vector<long long> sample;
  for (long long id = 1; id <= 40; ++id) sample.push_back(id);
  for (long long id = std::max(1LL, final_state.books - 20); id <= final_state.books; ++id) sample.push_back(id);
  for (long long id : sample) {
    const std::string target = "/cgi-bin/mirelweb/data?BOOKID=" + Mirel::Dbase::book_id(id);
    const Reply r = http_get(site.port, target);
    bool on_loan = false;
    std::string fault = r.status == 200 ? check_detail(r.body, id, &on_loan) : "status " + std::to_string(r.status);
    if (fault.empty() && on_loan != (final_state.loans.count(id) > 0)) fault = "lending state is not the final one";
    if (!fault.empty()) stats.fail("final " + target + ": " + fault);
  }
}

// Whole log lines only; returns their number.
long long check_log(const std::string& path, Stats& stats) {
  const std::string text = read_file(path);
  if (text.empty()) return 0;
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) stats.fail("Error.txt ends inside a line");
  long long lines = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    ++lines;
    if (line.rfind("[", 0) != 0 || line.find("] [error] [client ") == std::string::npos ||
        line.find_first_of("\r\n") != std::string::npos)
      stats.fail("torn log line: " + line.substr(0, 200));
    start = end + 2;
  }
  return lines;
}

void check_leftovers(const Site& site, Stats& stats) {
  const std::string cache = site.data + "/mirelweb-cache";
  if (fs::is_directory(cache))
    for (const auto& e : fs::directory_iterator(cache)) {
      const std::string name = e.path().filename().string();
      if (name.find(".tmp") != std::string::npos || name.find("-journal") != std::string::npos ||
          name.find("-wal") != std::string::npos)
        stats.fail("leftover in the cache directory: " + name);
    }
  for (const auto& e : fs::directory_iterator(site.tmp))
    if (e.path().filename() != "MirelWebMutex")
      stats.fail("leftover in the temporary directory: " + e.path().filename().string());
  for (const auto& e : fs::directory_iterator(site.data))
    if (e.path().filename().string().find(".part") != std::string::npos)
      stats.fail("leftover in the tables' directory: " + e.path().filename().string());
}

double percentile(std::vector<double>& v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 180, clients = 32, writer_pause = 250;
  long long books = 1000;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--seconds" && i + 1 < argc) seconds = std::atoi(argv[++i]);
    else if (a == "--clients" && i + 1 < argc) clients = std::atoi(argv[++i]);
    else if (a == "--books" && i + 1 < argc) books = std::atoll(argv[++i]);
    else if (a == "--writer-pause" && i + 1 < argc) writer_pause = std::atoi(argv[++i]);
    else if (a == "--keep") keep = true;
    else {
      std::fprintf(stderr, "usage: %s [--seconds S] [--clients C] [--books N] [--writer-pause MS] [--keep]\n", argv[0]);
      return 2;
    }
  }
  if (seconds <= 0 || clients <= 0 || writer_pause <= 0 || books < kRecommended + 300) {
    std::fprintf(stderr, "mirelweb-soak: at least 1 second, 1 client and 310 books\n");
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  const std::string build = program_dir();
  Site site;
  try {
    build_site(site, build, books);
    start_lighttpd(site);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mirelweb-soak: %s\n", e.what());
    return 2;
  }
  std::printf("site %s, lighttpd on port %d, %d clients, %d s, %lld books, a change every %d ms\n",
              site.dir.c_str(), site.port, clients, seconds, books, writer_pause);
  std::fflush(stdout);

  Stats stats;
  std::atomic<bool> stop{false};
  const auto started = Clock::now();
  const std::string state_path = site.dir + "/writer-state";
  const pid_t writer = ::fork();
  if (writer == 0) {
    const std::string tool = build + "/mirelweb-soak-writer";
    ::execl(tool.c_str(), tool.c_str(), site.data.c_str(), std::to_string(seconds).c_str(),
            std::to_string(books + 1).c_str(), state_path.c_str(),
            std::to_string(writer_pause).c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back(client, c, std::cref(site), books, std::cref(stop), std::ref(stats));
  int writer_status = 0;
  ::waitpid(writer, &writer_status, 0);
  stop = true;
  for (auto& t : threads) t.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();

  const bool writer_ok = WIFEXITED(writer_status) && WEXITSTATUS(writer_status) == 0;
  if (!writer_ok) stats.fail("the writer failed (status " + std::to_string(writer_status) + ")");
  const FinalState final_state = read_state(state_path);
  if (writer_ok) check_final(site, final_state, stats);
  const long long log_lines = check_log(site.cgi + "/Error.txt", stats);
  if (log_lines != stats.failing)
    stats.fail(std::to_string(log_lines) + " lines in Error.txt for " + std::to_string(stats.failing) +
               " failing requests");
  check_leftovers(site, stats);

  ::kill(site.lighttpd, SIGTERM);
  ::waitpid(site.lighttpd, nullptr, 0);

  std::vector<double>& lat = stats.latencies_ms;
  std::printf("requests        %lld in %.1f s (%.1f per second)\n", stats.requests, elapsed,
              static_cast<double>(stats.requests) / elapsed);
  std::printf("busy pages      %lld\n", stats.busy);
  std::printf("latency ms      p50 %.1f  p90 %.1f  p99 %.1f  max %.1f\n", percentile(lat, 0.5),
              percentile(lat, 0.9), percentile(lat, 0.99), percentile(lat, 1.0));
  std::printf("writer          %lld appends to master.dbf, %lld rewrites of kasidasi.dbf, %lld books at the end, %zu on loan\n",
              final_state.appends, final_state.rewrites, final_state.books, final_state.loans.size());
  std::printf("Error.txt       %lld lines for %lld failing requests\n", log_lines, stats.failing);
  std::printf("failures        %lld\n", stats.failures);
  for (const std::string& s : stats.samples) std::printf("  %s\n", s.c_str());
  const bool ok = stats.failures == 0;
  if (ok && !keep) fs::remove_all(site.dir);
  else std::printf("site kept in %s\n", site.dir.c_str());
  return ok ? 0 : 1;
}
