// Shared pieces of the engine tests: a scratch installation (program
// directory with aliases.ini and a tables directory), the small fixture
// library, and helpers that run SQL and return whole rows.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/database.h"
#include "dbase/library_builder.h"

namespace Mirel::Database::Testing {

// A fresh program directory under /tmp with aliases.ini naming the alias
// "MirelWin" (tables in <dir>/data); the engine reads aliases.ini from it.
class TInstallation {
 public:
  explicit TInstallation(const std::string& extra_ini = {}) {
    std::string pattern = "/tmp/mw-database-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    root_ = pattern;
    std::filesystem::create_directories(data());
    write_ini("[Aliases]\nMirelWin=data\n" + extra_ini);
    set_program_directory(root_);
  }
  ~TInstallation() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  TInstallation(const TInstallation&) = delete;
  TInstallation& operator=(const TInstallation&) = delete;

  const std::string& root() const { return root_; }
  std::string data() const { return root_ + "/data"; }
  std::string cache() const { return data() + "/mirelweb-cache"; }
  void write_ini(const std::string& text) const {
    std::ofstream(root_ + "/aliases.ini", std::ios::binary) << text;
  }

 private:
  std::string root_;
};

// Sets a file's modification time `seconds` into the past, so that the
// engine trusts its time stamp (a file changed within the last moments is
// checked record by record).
inline void age_file(const std::string& path, int seconds) {
  timespec times[2];
  clock_gettime(CLOCK_REALTIME, &times[0]);
  times[0].tv_sec -= seconds;
  times[1] = times[0];
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

inline void age_tables(const std::string& dir, int seconds = 3600) {
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.is_regular_file()) age_file(e.path().string(), seconds);
}

inline ino_t inode_of(const std::string& path) {
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_ino;
}

// Runs `sql` on `alias` as the library readers do (private session, forward-
// only query) and returns every row, each value as UTF-8 or "<NULL>".
using TRows = std::vector<std::vector<std::string>>;
inline TRows query_rows(const std::string& sql, const UnicodeString& alias = kDefaultAlias) {
  TSession session;
  session.set_component_name(u"TestSession");
  session.set_session_name(u"TestRows");
  session.set_auto_session_name(false);
  session.open();
  TQuery q;
  q.set_unidirectional(true);
  q.set_param_check(false);
  q.set_database_name(alias);
  q.set_session_name(u"TestRows");
  q.set_sql(from_utf8(sql));
  q.open();
  TRows rows;
  for (; !q.eof(); q.next()) {
    std::vector<std::string> row;
    for (int32_t i = 0; i < q.column_count(); ++i)
      row.push_back(q.column_is_null(i) ? "<NULL>" : to_utf8(q.column_as_string(i)));
    rows.push_back(row);
  }
  q.close();
  session.close();
  return rows;
}

// The message of the EDatabaseError that `f` throws, or "" when it throws none.
template <typename F>
std::string error_of(F f) {
  try {
    f();
  } catch (const EDatabaseError& e) {
    return e.what();
  }
  return {};
}

// The fixture library of the engine tests:
//   0000000001  recommended, on loan, found at the last stocktaking
//   0000000002  recommended, two reservations, no ISBN (blank)
//   0000000003  not recommended
//   0000000004  recommended but deleted from master
//   0000000005  recommended, lending class 09 (not in kkubun), no accession date
//   0000000099  recommended, no master record at all
inline Dbase::TLibraryBuilder fixture_library() {
  Dbase::TLibraryBuilder lib;
  Dbase::TBook b;
  b.bookid = "0000000001";
  b.syomei = "吾輩は猫である";
  b.chosya = "夏目漱石";
  b.isbn = "9784003101018";
  b.ukeire = "20240401";
  b.kingaku = "1500";
  b.memo = "寄贈本";
  b.tzenkai = "20240101";
  b.tfmsuu = "1";
  lib.add_book(b);
  b = Dbase::TBook();
  b.bookid = "0000000002";
  b.syomei = "こころ";
  b.ukeire = "20240315";
  lib.add_book(b);
  b = Dbase::TBook();
  b.bookid = "0000000003";
  b.syomei = "三四郎";
  b.ukeire = "20240401";
  lib.add_book(b);
  b = Dbase::TBook();
  b.bookid = "0000000004";
  b.syomei = "削除された本";
  b.ukeire = "20250101";
  b.deleted = true;
  lib.add_book(b);
  b = Dbase::TBook();
  b.bookid = "0000000005";
  b.syomei = "坊っちゃん";
  b.kkubun = "09";
  lib.add_book(b);
  lib.add_loan("0000000001", "20240420");
  lib.add_reservation("0000000002", "20240501");
  lib.add_reservation("0000000002", "20240502", "", 2);
  lib.add_copies("0000000001", 2, 1);
  for (const char* id : {"0000000001", "0000000002", "0000000004", "0000000005", "0000000099"})
    lib.add_feature(id);
  return lib;
}

// The SQL texts of the library readers, exactly as they send them.
inline const char* kRecommendSql =
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
inline const char* kUkeireSql =
    "select MS_UKEIRE from 'master.dbf' group by MS_UKEIRE order by MS_UKEIRE DESC";
inline const char* kBookidSql =
    "select MS_BOOKID from 'master.dbf' group by MS_BOOKID order by MS_BOOKID DESC";

}  // namespace Mirel::Database::Testing
