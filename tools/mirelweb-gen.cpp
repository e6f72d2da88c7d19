// mirelweb-gen: writes a synthetic library catalogue (the ten dBASE tables
// the web catalogue reads) into a directory, for the sample site, manual
// testing and benchmarks. The same options always give the same files.
//
//   mirelweb-gen --books N --seed S --out DIR [--today yyyymmdd|now]
//                [--features N] [--upper-case]
//   mirelweb-gen --sample --out DIR [--today yyyymmdd|now]
//
// --today is the newest accession date (default 20250331; "now" takes the
// local date, which makes the output depend on the day it runs). --sample
// writes the sample library of the demonstration site instead (real titles,
// dated relative to --today, which defaults to "now" there). Exit status
// 0 on success, 2 for bad arguments, 1 when the tables cannot be written.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

#include "dbase/catalogue_generator.h"
#include "dbase/dbf.h"
#include "dbase/sample_catalogue.h"

namespace {

int usage(const char* message) {
  std::fprintf(stderr,
               "mirelweb-gen: %s\n"
               "usage: mirelweb-gen --books N --seed S --out DIR [--today yyyymmdd|now] "
               "[--features N] [--upper-case]\n"
               "       mirelweb-gen --sample --out DIR [--today yyyymmdd|now]\n",
               message);
  return 2;
}

bool to_number(const char* text, long long& out) {
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0) return false;
  out = v;
  return true;
}

std::string local_date() {
  std::time_t t = std::time(nullptr);
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[16];
  std::strftime(buf, sizeof(buf), "%Y%m%d", &tm);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  Mirel::Dbase::TCatalogueOptions options;
  std::string out;
  bool have_books = false;
  bool sample = false;
  bool have_today = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    long long n = 0;
    if (arg == "--books") {
      const char* v = value();
      if (!v || !to_number(v, n)) return usage("--books needs a number");
      options.books = n;
      have_books = true;
    } else if (arg == "--seed") {
      const char* v = value();
      if (!v || !to_number(v, n)) return usage("--seed needs a number");
      options.seed = static_cast<uint64_t>(n);
    } else if (arg == "--features") {
      const char* v = value();
      if (!v || !to_number(v, n) || n > 100000) return usage("--features needs a number");
      options.features = static_cast<int>(n);
    } else if (arg == "--today") {
      const char* v = value();
      if (!v) return usage("--today needs a date");
      options.today = v;
      if (options.today == "now") options.today = local_date();
      have_today = true;
    } else if (arg == "--sample") {
      sample = true;
    } else if (arg == "--out") {
      const char* v = value();
      if (!v) return usage("--out needs a directory");
      out = v;
    } else if (arg == "--upper-case") {
      options.upper_case = true;
    } else {
      return usage(("unknown argument " + arg).c_str());
    }
  }
  if (sample && out.empty()) return usage("--out is required");
  if (sample) {
    try {
      std::filesystem::create_directories(out);
      const std::string today = have_today ? options.today : local_date();
      const Mirel::Dbase::TSampleSummary s = Mirel::Dbase::write_sample_catalogue(out, today);
      std::printf("sample library of %s: %d books (%d second copies), %d on loan (%d overdue), "
                  "%d reservations, %d missing, %d recommended in %s\n",
                  today.c_str(), s.books, s.copies, s.loans, s.overdue, s.reservations, s.missing,
                  s.recommended, out.c_str());
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "mirelweb-gen: %s\n", e.what());
      return 1;
    }
  }
  if (!have_books || out.empty()) return usage("--books and --out are required");
  try {
    std::filesystem::create_directories(out);
    Mirel::Dbase::TCatalogueSummary s = Mirel::Dbase::generate_catalogue(out, options);
    std::printf(
        "%lld books (%lld deleted), %lld loans, %lld reservations, %lld recommended in %s\n",
        s.books, s.deleted, s.loans, s.reservations, s.features, out.c_str());
    return 0;
  } catch (const Mirel::Exception& e) {
    std::fprintf(stderr, "mirelweb-gen: %s\n", e.what());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mirelweb-gen: %s\n", e.what());
  }
  return 1;
}
