// Damaged and odd library tables, seen through the whole program: a table
// cut short, a memo pointer past the end of the memo file, a record count far
// beyond the file, a missing companion table, a table that cannot be read and
// a cache directory that cannot be written. Each request answers with a
// correct page or a clear internal-error page (never a crash or a hang,
// always a well-formed answer, the database mutex free afterwards), leaves
// no temporary file in the cache directory, and once the tables are whole
// again the next request shows them whole: no damaged state is kept in a
// cache.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "catalogue_site.h"
#include "cgi_oracle.h"

using mwtest::CatalogueSite;
using mwtest::CgiResult;
using mwtest::cp932;

namespace fs = std::filesystem;

namespace {

// ---- damaging files ----

std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

uint32_t le16(const std::string& b, size_t at) {
  return static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8;
}

void put_le(std::string& b, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

// Byte offset of a field inside a record (after the deletion flag), read
// from the table's own descriptors.
size_t field_offset(const std::string& table, const std::string& name) {
  size_t offset = 1;
  for (size_t d = 32; d + 32 <= table.size() && table[d] != '\r'; d += 32) {
    const std::string field(table.c_str() + d);
    if (field == name) return offset;
    offset += static_cast<uint8_t>(table[d + 16]);
  }
  throw std::runtime_error("no field " + name);
}

// Keeps the first `records` and a half records of master.dbf.
void cut_master_after(const std::string& data, double records) {
  const std::string path = data + "/master.dbf";
  std::string b = read_bytes(path);
  const size_t end = le16(b, 8) + static_cast<size_t>(records * le16(b, 10));
  write_bytes(path, b.substr(0, end));
}

void patch_master_header(const std::string& data, size_t at, uint32_t value, int bytes) {
  const std::string path = data + "/master.dbf";
  std::string b = read_bytes(path);
  put_le(b, at, value, bytes);
  write_bytes(path, b);
}

// Points book `number`'s memo field `field` at block 9999999999.
void memo_past_end(const std::string& data, int number, const std::string& field) {
  const std::string path = data + "/master.dbf";
  std::string b = read_bytes(path);
  const size_t at = le16(b, 8) + static_cast<size_t>(number - 1) * le16(b, 10) + field_offset(b, field);
  b.replace(at, 10, "9999999999");
  write_bytes(path, b);
}

// ---- the cases ----

enum class Answer { List, Detail, NotFound, Failure };

struct DamageCase {
  const char* name;
  std::function<void(const std::string& data)> damage;
  const char* path_info;
  const char* query;
  Answer answer;
  std::string expected;  // List: the count; Detail: the page; Failure: part of the message (UTF-8)
  int log_lines = 0;
};

// Keeps gtest from printing the case as bytes.
void PrintTo(const DamageCase& c, std::ostream* os) { *os << c.name; }

const char* const kDetailTemplate = "DETAIL <#BOOKID>|<#SYOMEI>|<#NAIYO>|<#MEMO>|<#KASIDASI>";

std::vector<DamageCase> cases() {
  const std::string full_detail =
      "DETAIL 0000000086|Bird watching|<b>bold</b>|memo text|<div class=\"enabled\">貸出可</div>";
  return {
      {"MasterCutInsideARecord", [](const std::string& d) { cut_master_after(d, 30.5); },
       "/list", "SYOMEI=cat", Answer::List, "30"},
      {"MasterCutAfterTheDogs", [](const std::string& d) { cut_master_after(d, 85); },
       "/list", "SYOMEI=bird", Answer::NotFound, ""},
      {"MasterCutInsideTheHeader",
       [](const std::string& d) { write_bytes(d + "/master.dbf", read_bytes(d + "/master.dbf").substr(0, 20)); },
       "/list", "SYOMEI=cat", Answer::Failure, "master.dbf", 1},
      {"MasterEmpty", [](const std::string& d) { write_bytes(d + "/master.dbf", ""); },
       "/list", "SYOMEI=cat", Answer::Failure, "master.dbf", 1},
      // Bytes of no known version whose field descriptors make no sense.
      {"MasterGarbage",
       [](const std::string& d) { write_bytes(d + "/master.dbf", std::string(5000, '\xA5')); },
       "/list", "SYOMEI=cat", Answer::Failure, "フィールド記述を読み取れません", 1},
      {"RecordCountFarBeyondTheFile",
       [](const std::string& d) { patch_master_header(d, 4, 0x7ffffff0u, 4); },
       "/list", "SYOMEI=cat", Answer::List, "45"},
      {"RecordCountAllOnes", [](const std::string& d) { patch_master_header(d, 4, 0xffffffffu, 4); },
       "/data", "BOOKID=0000000086", Answer::Detail, full_detail},
      // Records would start past the end: a table cut after its header.
      {"HeaderLengthBeyondTheFile", [](const std::string& d) { patch_master_header(d, 8, 0xfff0, 2); },
       "/list", "SYOMEI=cat", Answer::NotFound, ""},
      {"RecordLengthZero", [](const std::string& d) { patch_master_header(d, 10, 0, 2); },
       "/list", "SYOMEI=cat", Answer::Failure, "master.dbf", 1},
      {"MemoPointerPastTheEnd",
       [](const std::string& d) { memo_past_end(d, 86, "MS_NAIYO"); },
       "/data", "BOOKID=0000000086", Answer::Detail,
       "DETAIL 0000000086|Bird watching|---|memo text|<div class=\"enabled\">貸出可</div>"},
      {"MemoFileCutToItsHeader",
       [](const std::string& d) { write_bytes(d + "/master.dbt", read_bytes(d + "/master.dbt").substr(0, 512)); },
       "/data", "BOOKID=0000000086", Answer::Detail,
       "DETAIL 0000000086|Bird watching|---|---|<div class=\"enabled\">貸出可</div>"},
      {"MemoFileMissing", [](const std::string& d) { fs::remove(d + "/master.dbt"); },
       "/data", "BOOKID=0000000086", Answer::Detail,
       "DETAIL 0000000086|Bird watching|---|---|<div class=\"enabled\">貸出可</div>"},
      {"MasterMissing", [](const std::string& d) { fs::remove(d + "/master.dbf"); },
       "/list", "SYOMEI=cat", Answer::Failure, "master.dbf", 1},
      {"LendingClassesMissing", [](const std::string& d) { fs::remove(d + "/kkubun.dbf"); },
       "/data", "BOOKID=0000000086", Answer::Failure, "kkubun.dbf", 1},
      {"LoansMissing", [](const std::string& d) { fs::remove(d + "/kasidasi.dbf"); },
       "/list", "SYOMEI=cat", Answer::Failure, "kasidasi.dbf", 1},
      {"LocationsMissing", [](const std::string& d) { fs::remove(d + "/syozai.dbf"); },
       "/list", "SYOMEI=cat", Answer::Failure, "syozai.dbf", 1},
      {"RecommendationsMissing", [](const std::string& d) { fs::remove(d + "/feature.dbf"); },
       "/recommend", "PAGENUM=0&STATUS=1", Answer::Failure, "feature.dbf", 1},
      // A file that cannot be read even by root: the name leads to a
      // directory, so opening works and every read fails.
      {"MasterLeadsToADirectory",
       [](const std::string& d) {
         fs::remove(d + "/master.dbf");
         fs::create_directory(d + "/elsewhere");
         fs::create_symlink(d + "/elsewhere", d + "/master.dbf");
       },
       "/list", "SYOMEI=cat", Answer::Failure, "master.dbf", 1},
      {"MasterDanglingLink",
       [](const std::string& d) {
         fs::remove(d + "/master.dbf");
         fs::create_symlink(d + "/nowhere.dbf", d + "/master.dbf");
       },
       "/list", "SYOMEI=cat", Answer::Failure, "master.dbf", 1},
  };
}

class DamagedTable : public ::testing::TestWithParam<DamageCase> {
 protected:
  void SetUp() override {
    site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>\n<#FIND_VALUE_LIST>");
    site.write_template("listrow.html", "<#BOOKID>");
    site.write_template("page_.html", kDetailTemplate);
    site.write_template("error.html", "ERROR <#ERR_NAME>");
    fs::copy(data(), site.box.dir() + "whole", fs::copy_options::recursive);
  }

  std::string data() const { return site.box.dir() + "data"; }

  // Puts the undamaged tables back (new files, as the library system would).
  void repair() const {
    for (const auto& entry : fs::directory_iterator(site.box.dir() + "whole")) {
      const std::string target = data() + "/" + entry.path().filename().string();
      fs::remove_all(target);
      fs::copy_file(entry.path(), target);
    }
  }

  CgiResult request(const std::string& path_info, const std::string& query) const {
    const CgiResult r = site.get(path_info, query);
    EXPECT_EQ(mwtest::describe(mwtest::process_faults(r)), "");
    EXPECT_EQ(mwtest::describe(mwtest::cgi_faults(r, true)), "");
    EXPECT_TRUE(site.lock_is_free());
    return r;
  }

  void expect_answer(const CgiResult& r, const DamageCase& c) const {
    const std::string body = r.body();
    switch (c.answer) {
      case Answer::List:
        EXPECT_EQ(r.status(), "200 OK");
        EXPECT_EQ(body.rfind("LIST " + c.expected + "\n", 0), 0u) << body.substr(0, 200);
        break;
      case Answer::Detail:
        EXPECT_EQ(r.status(), "200 OK");
        EXPECT_EQ(body, cp932(c.expected));
        break;
      case Answer::NotFound:
        EXPECT_EQ(r.status(), "200 OK");
        EXPECT_EQ(body, cp932("ERROR 該当書籍は見付かりませんでした"));
        break;
      case Answer::Failure:
        EXPECT_EQ(r.status(), "500 Internal Server Error");
        EXPECT_EQ(body.rfind("<html><body><h1>Internal Application Error", 0), 0u) << body;
        EXPECT_NE(body.find(cp932(c.expected)), std::string::npos) << body;
        break;
    }
  }

  // No temporary file of a cache build is left in the cache directory.
  void expect_no_temporaries() const {
    const std::string cache = data() + "/mirelweb-cache";
    if (!fs::is_directory(cache)) return;
    for (const auto& entry : fs::directory_iterator(cache)) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
      EXPECT_EQ(name.find("-journal"), std::string::npos) << name;
    }
  }

  // After the repair, every page shows the whole catalogue again.
  void expect_whole_again() const {
    repair();
    const CgiResult cats = request("/list", "SYOMEI=cat");
    EXPECT_EQ(cats.body().rfind("LIST 45\n", 0), 0u) << cats.body().substr(0, 200);
    const CgiResult detail = request("/data", "BOOKID=0000000086");
    EXPECT_EQ(detail.body(), cp932("DETAIL 0000000086|Bird watching|<b>bold</b>|memo text|"
                                   "<div class=\"enabled\">貸出可</div>"));
    EXPECT_EQ(request("/list", "SYOMEI=bird").body().rfind("LIST 5\n", 0), 0u);
    expect_no_temporaries();
  }

  CatalogueSite site;
};

// The tables are damaged before any request has built a cache.
TEST_P(DamagedTable, WithoutCache) {
  const DamageCase& c = GetParam();
  c.damage(data());
  const CgiResult r = request(c.path_info, c.query);
  expect_answer(r, c);
  std::string text = site.box.exists("Error.txt") ? site.box.read_file("Error.txt") : "";
  EXPECT_EQ(mwtest::describe(mwtest::log_faults(text, "192.0.2.7")), "");
  EXPECT_EQ(mwtest::split_log(text).size(), static_cast<size_t>(c.log_lines)) << text;
  expect_no_temporaries();
  expect_whole_again();
}

// The tables are damaged after every table's cache was built from the
// whole tables: the change is noticed, the damage answered as above.
TEST_P(DamagedTable, AfterCacheWasBuilt) {
  const DamageCase& c = GetParam();
  ASSERT_EQ(request("/list", "SYOMEI=cat").body().rfind("LIST 45\n", 0), 0u);
  ASSERT_EQ(request("/recommend", "PAGENUM=0&STATUS=1").status(), "200 OK");
  request("/data", "BOOKID=0000000086");
  c.damage(data());
  expect_answer(request(c.path_info, c.query), c);
  expect_no_temporaries();
  expect_whole_again();
}

INSTANTIATE_TEST_SUITE_P(Tables, DamagedTable, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<DamageCase>& info) {
                           return std::string(info.param.name);
                         });

// ---- a cache directory that cannot be written ----

class UnwritableCache : public ::testing::Test {
 protected:
  void SetUp() override {
    site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>\n<#FIND_VALUE_LIST>");
    site.write_template("listrow.html", "<#BOOKID>,");
    site.write_template("error.html", "ERROR <#ERR_NAME>");
  }

  // Two requests answer correctly from memory; each writes one log line
  // that names the cache directory, whatever number of tables it read.
  void expect_answers_from_memory(const std::string& cache_dir) const {
    for (int i = 1; i <= 2; ++i) {
      const CgiResult r = site.get("/list", "SYOMEI=bird");
      EXPECT_EQ(mwtest::describe(mwtest::process_faults(r)), "");
      EXPECT_EQ(mwtest::describe(mwtest::cgi_faults(r, true)), "");
      EXPECT_EQ(r.status(), "200 OK");
      EXPECT_EQ(r.body(), "LIST 5\n0000000086,\r\n0000000087,\r\n0000000088,\r\n0000000089,\r\n"
                          "0000000090,\r\n");
      const std::string text = site.box.read_file("Error.txt");
      EXPECT_EQ(mwtest::describe(mwtest::log_faults(text, "192.0.2.7")), "");
      const auto lines = mwtest::split_log(text);
      ASSERT_EQ(lines.size(), static_cast<size_t>(i)) << text;
      EXPECT_NE(lines.back().find(cache_dir), std::string::npos) << lines.back();
    }
    EXPECT_TRUE(site.lock_is_free());
  }

  CatalogueSite site;
};

TEST_F(UnwritableCache, DefaultCacheDirectoryIsAFile) {
  site.box.write_file("data/mirelweb-cache", "not a directory");
  expect_answers_from_memory(site.box.dir() + "data/mirelweb-cache");
  EXPECT_EQ(site.box.read_file("data/mirelweb-cache"), "not a directory");
}

TEST_F(UnwritableCache, ConfiguredCacheDirectoryUnderAFile) {
  site.box.write_file("blocker", "x");
  site.box.write_file("aliases.ini", "[Aliases]\r\nTESTLIB=" + site.box.dir() +
                                         "data\r\n[Alias:TESTLIB]\r\nCacheDir=" +
                                         site.box.dir() + "blocker/cache\r\n");
  expect_answers_from_memory(site.box.dir() + "blocker/cache");
}

TEST_F(UnwritableCache, CacheDirectoryWithoutWritePermission) {
  fs::create_directories(site.box.dir() + "data/mirelweb-cache");
  ::chmod((site.box.dir() + "data/mirelweb-cache").c_str(), 0555);
  site.box.drop_root();  // permission bits do not bind root
  expect_answers_from_memory(site.box.dir() + "data/mirelweb-cache");
  ::chmod((site.box.dir() + "data/mirelweb-cache").c_str(), 0755);
}

// A table that its reader may not open (permissions bind only users other
// than root, so a root test run makes its requests as nobody).
TEST(UnreadableTable, MasterWithoutReadPermission) {
  CatalogueSite site;
  site.write_template("list.html", "LIST <#TOTAL_FIND_COUNT>");
  ::chmod((site.box.dir() + "data/master.dbf").c_str(), 0);
  site.box.drop_root();
  const CgiResult r = site.get("/list", "SYOMEI=cat");
  EXPECT_EQ(mwtest::describe(mwtest::process_faults(r)), "");
  EXPECT_EQ(r.status(), "500 Internal Server Error");
  EXPECT_NE(r.body().find("master.dbf"), std::string::npos) << r.body();
  ::chmod((site.box.dir() + "data/master.dbf").c_str(), 0644);
}

}  // namespace
