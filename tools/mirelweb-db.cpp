// mirelweb-db: the database engine from the command line, for librarians
// and cron. Lists an alias's tables, runs a query and prints its rows,
// brings the caches up to date ahead of the next request, and keeps visitors
// out of the tables while the library's maintenance rewrites them.
//
//   mirelweb-db [options] tables  [ALIAS]      name, records (tab-separated)
//   mirelweb-db [options] query   [ALIAS] SQL  a header line, then the rows
//   mirelweb-db [options] refresh [ALIAS]      name, records, what was done
//                                              (on a terminal, each table's
//                                              progress while it is worked on)
//   mirelweb-db hold [--wait S] -- COMMAND...  COMMAND under the exclusive lock
//   mirelweb-db hold [--wait S] --for S        the exclusive lock for S seconds
//                                              (tools/hold_command.h)
//
// Options:
//   -p, --program-dir DIR   where aliases.ini is (default: beside this program)
//   -e, --encoding NAME     utf8 (default) or cp932: of the output and of SQL
//
// Rows are printed tab-separated, one a line; NULL is printed as nothing, a
// tab, line end, NUL or backslash inside a value as \t, \n, \r, \0 or \\,
// and a binary value (a picture memo) as <binary, N bytes>. Failures go to
// standard error with exit status 1; a usage error exits with 2.
//
// The caches belong to the user the web server runs the program as: a cache
// directory of another user is refused (exit status 1) with the command that
// runs the same thing as its owner, since files made by anyone else would be
// files the web program cannot replace.

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "database/admin.h"
#include "database/database.h"
#include "mirelsearch/catalogue_index.h"
#include "tools/hold_command.h"
#include "tools/refresh_progress.h"

namespace {

using namespace Mirel;

bool g_cp932 = false;

std::string out_text(const UnicodeString& s) { return g_cp932 ? to_ansi(s) : to_utf8(s); }
UnicodeString in_text(const char* s) { return g_cp932 ? from_ansi(s) : from_utf8(s); }

// Escapes characters, before the text becomes bytes of the output encoding:
// in code page 932 the second byte of 表 or ソ is a backslash.
UnicodeString escape(const UnicodeString& v) {
  UnicodeString out;
  out.reserve(v.size());
  for (char16_t c : v) {
    switch (c) {
      case u'\t': out += u"\\t"; break;
      case u'\n': out += u"\\n"; break;
      case u'\r': out += u"\\r"; break;
      case u'\0': out += u"\\0"; break;
      case u'\\': out += u"\\\\"; break;
      default: out += c;
    }
  }
  return out;
}

// Lines go out by their length: a value may hold a NUL byte.
void put_line(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// `word` quoted for a POSIX shell when it needs it.
std::string shell_word(const std::string& word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789-_./=:@%+,") == std::string::npos)
    return word;
  std::string out = "'";
  for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Refuses (status 1, with the command to run instead) a cache directory
// that belongs to another user; 0 when this user may write it.
int refuse_foreign_cache(const UnicodeString& alias, int argc, char** argv) {
  const std::string dir = Database::cache_directory(alias);
  struct stat st{};
  if (::stat(dir.c_str(), &st) != 0 || st.st_uid == ::geteuid()) return 0;
  const passwd* pw = ::getpwuid(st.st_uid);
  const std::string owner = pw ? pw->pw_name : std::to_string(st.st_uid);
  std::string command = ::geteuid() == 0 ? "runuser -u " : "sudo -u ";
  command += shell_word(owner) + " --";
  for (int i = 0; i < argc; ++i) command += " " + shell_word(argv[i]);
  std::fprintf(stderr,
               "mirelweb-db: the cache directory %s belongs to %s; files written by this user "
               "would be files the web program cannot replace. Run it as %s:\n  %s\n",
               dir.c_str(), owner.c_str(), owner.c_str(), command.c_str());
  return 1;
}

int usage() {
  std::fputs(
      "usage: mirelweb-db [-p DIR] [-e utf8|cp932] tables [ALIAS]\n"
      "       mirelweb-db [-p DIR] [-e utf8|cp932] query [ALIAS] SQL\n"
      "       mirelweb-db [-p DIR] [-e utf8|cp932] refresh [ALIAS]\n"
      "       mirelweb-db hold [--wait SECONDS] -- COMMAND [ARG...]\n"
      "       mirelweb-db hold [--wait SECONDS] --for SECONDS\n",
      stderr);
  return 2;
}

const char* action_name(Database::TTableState::Action a) {
  switch (a) {
    case Database::TTableState::Action::Updated: return "updated";
    case Database::TTableState::Action::Rebuilt: return "rebuilt";
    default: return "current";
  }
}

// Lines go out as each table is current; a refresh on a terminal also shows
// the table at work (refresh_progress.h).
int run_tables(const UnicodeString& alias, bool with_action) {
  Tools::TRefreshProgress progress(stdout);
  Database::TRefreshObserver observer;
  if (with_action) {
    observer.started = [&](const std::string& table) { progress.started(table); };
    observer.building = [&](const std::string& table, int percent) {
      progress.building(table, percent);
    };
  }
  observer.done = [&](const Database::TTableState& t) {
    std::string line = t.name + "\t" + std::to_string(t.records);
    if (with_action) line += std::string("\t") + action_name(t.action);
    progress.done(line);
  };
  Database::refresh_tables(alias, observer);
  return 0;
}

int run_query(const UnicodeString& alias, const UnicodeString& sql) {
  Database::TSession session;
  session.set_session_name(u"mirelweb-db");
  session.set_auto_session_name(false);
  session.open();
  Database::TQuery query;
  query.set_unidirectional(true);
  query.set_param_check(false);
  query.set_database_name(alias);
  query.set_session_name(u"mirelweb-db");
  query.set_sql(sql);
  query.open();
  const int32_t n = query.column_count();
  std::string line;
  for (int32_t i = 0; i < n; ++i) line += (i ? "\t" : "") + out_text(escape(query.column_name(i)));
  put_line(line);
  for (; !query.eof(); query.next()) {
    line.clear();
    for (int32_t i = 0; i < n; ++i) {
      if (i) line += '\t';
      if (const auto blob = query.column_blob_size(i))
        line += "<binary, " + std::to_string(*blob) + " bytes>";
      else
        line += out_text(escape(query.column_as_string(i)));
    }
    put_line(line);
  }
  query.close();
  session.close();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // master's cache carries the catalogue's search index: a refresh must build
  // the same cache the web program uses, or the next search rebuilds it.
  Mirelsearch_tlb::register_search_index();
  std::vector<const char*> args;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if ((!std::strcmp(a, "-p") || !std::strcmp(a, "--program-dir")) && i + 1 < argc) {
      Database::set_program_directory(argv[++i]);
    } else if ((!std::strcmp(a, "-e") || !std::strcmp(a, "--encoding")) && i + 1 < argc) {
      const std::string e = argv[++i];
      if (e == "cp932" || e == "CP932" || e == "sjis")
        g_cp932 = true;
      else if (e == "utf8" || e == "UTF-8" || e == "utf-8")
        g_cp932 = false;
      else
        return usage();
    } else if (args.empty() && !std::strcmp(a, "hold")) {
      // Everything after it is the hold's, the command's arguments included.
      try {
        return Tools::run_hold(argc - i - 1, argv + i + 1);
      } catch (const Exception& e) {
        std::fprintf(stderr, "mirelweb-db: %s\n", to_utf8(e.message()).c_str());
        return 1;
      }
    } else if (a[0] == '-' && a[1] != '\0') {
      return usage();
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return usage();
  const std::string command = args[0];
  try {
    if (command == "tables" || command == "refresh") {
      if (args.size() > 2) return usage();
      const UnicodeString alias = args.size() == 2 ? in_text(args[1]) : Database::kDefaultAlias;
      if (const int refused = refuse_foreign_cache(alias, argc, argv)) return refused;
      return run_tables(alias, command == "refresh");
    }
    if (command == "query") {
      if (args.size() < 2 || args.size() > 3) return usage();
      const UnicodeString alias = args.size() == 3 ? in_text(args[1]) : Database::kDefaultAlias;
      if (const int refused = refuse_foreign_cache(alias, argc, argv)) return refused;
      return run_query(alias, in_text(args.back()));
    }
  } catch (const Exception& e) {
    std::fprintf(stderr, "mirelweb-db: %s\n", out_text(e.message()).c_str());
    return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mirelweb-db: %s\n", e.what());
    return 1;
  }
  return usage();
}
