#include "catalogue_site.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include <gtest/gtest.h>

#include "dbase/library_builder.h"
#include "platform/unicode_string.h"

namespace mwtest {

namespace {

using Mirel::Dbase::book_id;
using Mirel::Dbase::TBook;
using Mirel::Dbase::TLibraryBuilder;

std::string two_digits(int n) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02d", n);
  return buf;
}

void build_catalogue(const std::string& dir) {
  TLibraryBuilder lib;
  for (int i = 1; i <= 85; ++i) {
    TBook b;
    b.bookid = book_id(i);
    b.syomei = (i <= 45 ? "Cat story " : "Dog story ") + two_digits(i);
    b.chosya = "Author " + two_digits(i);
    lib.add_book(b);
  }
  // 86: every field filled, available.
  TBook full;
  full.bookid = book_id(86);
  full.syomei = "Bird watching";
  full.syokana = "バードウォッチング";
  full.chosya = "芥川龍之介全集編";
  full.chokana = "アクタガワ";
  full.syupan = "山河書房";
  full.kingaku = "-1500";
  full.syunen = "1999";
  full.isbn = "4-00-000000-0";
  full.syozai = "002";
  full.page = "254p";
  full.ookisa = "20cm";
  full.seikyu = "K913.68/ア";
  full.kenmei = "鳥類";
  full.naiyo = "<b>bold</b>";
  full.ukeire = "20240401";
  full.memo = "memo text";
  lib.add_book(full);
  // 87: nothing but the title; on loan and in a class that forbids lending.
  TBook empty;
  empty.bookid = book_id(87);
  empty.syomei = "Bird empty";
  empty.kkubun = "02";
  lib.add_book(empty);
  lib.add_loan(empty.bookid, "20240420");
  // 88: missing from its shelf.
  TBook missing;
  missing.bookid = book_id(88);
  missing.syomei = "Bird missing";
  missing.chosya = "宮沢賢治作品";
  missing.tfmsuu = "1";
  lib.add_book(missing);
  // 89: lending forbidden.
  TBook forbidden;
  forbidden.bookid = book_id(89);
  forbidden.syomei = "Bird reference";
  forbidden.chosya = "森鴎外";
  forbidden.kkubun = "04";
  lib.add_book(forbidden);
  // 90: a returned loan is no loan.
  TBook returned;
  returned.bookid = book_id(90);
  returned.syomei = "Bird returned";
  returned.chosya = "Lewis Carroll";
  lib.add_book(returned);
  lib.add_loan(returned.bookid, "");
  lib.write(dir);
}

}  // namespace

std::string list_query(unsigned long long pagenum, const std::string& syomei) {
  return "PAGENUM=" + std::to_string(pagenum) + "&SYOMEI=" + syomei +
         "&CHOSYA=&SYUPAN=&ISBN=&KENMEI=&ORDER=&ORDERKIND=&STATUS=0";
}

std::string cp932(const std::string& utf8) { return Mirel::to_ansi(Mirel::from_utf8(utf8)); }

CatalogueSite::CatalogueSite() {
  std::filesystem::create_directories(box.dir() + "data");
  std::filesystem::create_directories(tmp_dir());
  build_catalogue(box.dir() + "data");
  box.write_file("mirelweb.ini", "[Path]\r\nHtml=" + box.dir() + "tpl/\r\nDb=TESTLIB\r\n");
  box.write_file("aliases.ini", "[Aliases]\r\nTESTLIB=" + box.dir() + "data\r\n");
  write_template("error.html", "<#ERR_NAME>|<#ERR_MSG>");
}

void CatalogueSite::write_template(const std::string& name, const std::string& utf8) const {
  box.write_file("tpl/" + name, cp932(utf8));
}

Env CatalogueSite::env(const std::string& path_info, const std::string& query) const {
  Env e = CgiSandbox::get_env(path_info, query);
  e["TMPDIR"] = tmp_dir();
  return e;
}

CgiResult CatalogueSite::get(const std::string& path_info, const std::string& query) const {
  return run(env(path_info, query));
}

CgiResult CatalogueSite::run(const Env& e, const std::string& body) const {
  CgiResult r = box.run(e, body);
  // Every request ends normally, whatever page it gives: no signal, no
  // sanitizer or leak report, nothing on standard error.
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.errors, "");
  return r;
}

std::vector<std::string> CatalogueSite::log_lines() const {
  std::vector<std::string> lines;
  if (!box.exists("Error.txt")) return lines;
  const std::string text = box.read_file("Error.txt");
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

bool CatalogueSite::lock_is_free() const {
  HeldLock probe(lock_path());
  return probe.held();
}

HeldLock::HeldLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ >= 0) held_ = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

HeldLock::~HeldLock() {
  if (fd_ >= 0) ::close(fd_);
}

}  // namespace mwtest
