// The sample library of the demonstration site, read back from the tables
// it writes: complete and consistent records, valid ISBN-13s, accession
// dates that give every kind of new-arrivals range books on the day it is
// written, and loans, reservations, a missing book and recommendations that
// the pages can show without contradicting themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "dbase/catalogue_generator.h"
#include "dbase/dbf.h"
#include "dbase/sample_catalogue.h"
#include "tests/dbase/temp_dir.h"

namespace Mirel::Dbase {
namespace {

using Testing::read_bytes;
using Testing::TTempDir;

const std::string kToday = "20260309";  // the day after a leap-free February

// Rows of one table as column name -> text, deleted records left out.
std::vector<std::map<std::string, std::string>> rows_of(const std::string& path) {
  TTableReader table(path);
  std::vector<std::map<std::string, std::string>> rows;
  for (uint32_t i = 0; i < table.record_count(); ++i) {
    if (table.is_deleted(i)) continue;
    std::map<std::string, std::string> row;
    for (size_t f = 0; f < table.fields().size(); ++f)
      row[table.fields()[f].name] = table.value(i, f).as_text();
    rows.push_back(std::move(row));
  }
  return rows;
}

// Days between two "yyyymmdd" dates of the same or neighbouring years,
// through a day count that needs no calendar library.
long long day_number(const std::string& d) {
  int y = std::stoi(d.substr(0, 4)), m = std::stoi(d.substr(4, 2)), day = std::stoi(d.substr(6, 2));
  y -= m <= 2;
  const long long era = y / 400, yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  return era * 146097 + yoe * 365 + yoe / 4 - yoe / 100 + doy;
}

// Katakana, the prolonged sound mark and the middle dot: a reading.
bool is_katakana(const std::string& utf8) {
  const UnicodeString text = from_utf8(utf8);
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char16_t c) {
    return (c >= u'\u30A1' && c <= u'\u30FA') || c == u'\u30FC' || c == u'\u30FB';
  });
}

class SampleCatalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    summary_ = write_sample_catalogue(dir_.path().string(), kToday);
    master_ = rows_of(dir_.file("master.dbf"));
    for (const auto& b : master_) by_id_[b.at("MS_BOOKID")] = &b;
  }
  const std::map<std::string, std::string>& book(const std::string& id) const { return *by_id_.at(id); }

  TTempDir dir_;
  TSampleSummary summary_;
  std::vector<std::map<std::string, std::string>> master_;
  std::map<std::string, const std::map<std::string, std::string>*> by_id_;
};

TEST_F(SampleCatalogue, RecordsAreCompleteAndSurviveCodePage932) {
  ASSERT_EQ(static_cast<int>(master_.size()), summary_.books);
  EXPECT_GE(master_.size(), 190u);
  EXPECT_LE(master_.size(), 240u);
  const auto books = sample_library(kToday).books();
  ASSERT_EQ(books.size(), master_.size());
  for (size_t i = 0; i < books.size(); ++i) {
    const auto& b = master_[i];
    SCOPED_TRACE(b.at("MS_SYOMEI"));
    // Every text came back as written: nothing fell outside code page 932.
    EXPECT_EQ(b.at("MS_SYOMEI"), books[i].syomei);
    EXPECT_EQ(b.at("MS_CHOSYA"), books[i].chosya);
    EXPECT_EQ(b.at("MS_NAIYO"), books[i].naiyo);
    EXPECT_TRUE(is_katakana(b.at("MS_SYOKANA"))) << b.at("MS_SYOKANA");
    EXPECT_FALSE(b.at("MS_CHOKANA").empty());
    EXPECT_FALSE(b.at("MS_SYUPAN").empty());
    EXPECT_EQ(b.at("MS_SYUNEN").size(), 4u);
    // The call number is the class, a slash and the first character of
    // the author's reading.
    const std::string& seikyu = b.at("MS_SEIKYU");
    const size_t slash = seikyu.find('/');
    ASSERT_NE(slash, std::string::npos) << seikyu;
    EXPECT_EQ(b.at("MS_CHOKANA").rfind(seikyu.substr(slash + 1), 0), 0u) << seikyu;
  }
}

TEST_F(SampleCatalogue, IdentifiersRiseWithTheAccessionDate) {
  std::set<std::string> ids;
  std::string previous_id, previous_day;
  for (const auto& b : master_) {
    const std::string& id = b.at("MS_BOOKID");
    EXPECT_TRUE(ids.insert(id).second) << id;
    EXPECT_GT(id, previous_id);
    EXPECT_GE(b.at("MS_UKEIRE"), previous_day) << id;
    EXPECT_LE(b.at("MS_UKEIRE"), kToday);
    // Nothing is accessioned before it is published.
    EXPECT_GE(b.at("MS_UKEIRE").substr(0, 4), b.at("MS_SYUNEN")) << b.at("MS_SYOMEI");
    previous_id = id;
    previous_day = b.at("MS_UKEIRE");
  }
}

TEST_F(SampleCatalogue, IsbnsAreValidIsbn13sOfJapanesePublishers) {
  std::map<std::string, std::string> owner;  // ISBN -> first copy's id
  int with_isbn = 0;
  for (const auto& b : master_) {
    const std::string& isbn = b.at("MS_ISBN");
    if (isbn.empty()) continue;
    ++with_isbn;
    std::string digits;
    for (char c : isbn)
      if (c != '-') digits += c;
    ASSERT_EQ(digits.size(), 13u) << isbn;
    EXPECT_EQ(digits.substr(0, 4), "9784") << isbn;
    EXPECT_EQ(isbn13_check(digits.substr(0, 12)), digits[12]) << isbn;
    EXPECT_EQ(std::count(isbn.begin(), isbn.end(), '-'), 4) << isbn;
    // Only a second copy shares its ISBN, with the first copy.
    auto [at, fresh] = owner.emplace(digits, b.at("MS_BOOKID"));
    if (!fresh) {
      EXPECT_EQ(b.at("MS_FUKUID"), at->second) << isbn;
    }
  }
  EXPECT_GT(with_isbn, 150);
}

TEST_F(SampleCatalogue, EveryKindOfNewArrivalsRangeHasBooksToday) {
  std::map<std::string, int> per_day;
  for (const auto& b : master_) ++per_day[b.at("MS_UKEIRE")];
  const long long today = day_number(kToday);
  int in_14_days = 0;
  for (const auto& [day, n] : per_day) {
    const long long age = today - day_number(day);
    if (age < 14) in_14_days += n;
    // Between the new arrivals and the rest lies a clear gap.
    EXPECT_TRUE(age <= 38 || age >= 40) << day;
  }
  EXPECT_EQ(per_day[kToday], kSampleAccessionedToday);
  EXPECT_EQ(in_14_days, kSampleAccessionedIn14Days);
  auto newest = per_day.rbegin();
  int newest_three = 0;
  for (int k = 0; k < 3; ++k, ++newest) newest_three += newest->second;
  EXPECT_EQ(newest_three, kSampleInNewestThreeDates);
}

TEST_F(SampleCatalogue, LoansReservationsAndStocktakingAgree) {
  const auto classes = rows_of(dir_.file("kkubun.dbf"));
  std::map<std::string, std::string> class_name;
  for (const auto& c : classes) class_name[c.at("KK_KKUBUN")] = c.at("KK_KKNAME");

  std::set<std::string> on_loan;
  int overdue = 0;
  for (const auto& loan : rows_of(dir_.file("kasidasi.dbf"))) {
    const auto& b = book(loan.at("KA_BOOKID"));
    // Only lendable classes are lent ("禁" in a class name forbids lending).
    EXPECT_EQ(class_name.at(b.at("MS_KKUBUN")).find("禁"), std::string::npos) << b.at("MS_SYOMEI");
    EXPECT_GE(loan.at("KA_KDATE"), b.at("MS_UKEIRE"));
    if (loan.at("KA_HDATE").empty()) continue;  // returned
    EXPECT_TRUE(on_loan.insert(loan.at("KA_BOOKID")).second) << "lent twice";
    EXPECT_GT(loan.at("KA_HDATE"), loan.at("KA_KDATE"));
    overdue += loan.at("KA_HDATE") < kToday;
  }
  EXPECT_EQ(static_cast<int>(on_loan.size()), summary_.loans);
  EXPECT_GE(summary_.loans, 10);
  EXPECT_EQ(overdue, summary_.overdue);
  EXPECT_GT(overdue, 0);

  const auto reservations = rows_of(dir_.file("yoyaku.dbf"));
  EXPECT_EQ(static_cast<int>(reservations.size()), summary_.reservations);
  EXPECT_GE(reservations.size(), 3u);
  for (const auto& r : reservations) {
    EXPECT_TRUE(on_loan.count(r.at("YO_BOOKID"))) << "a reservation waits for a book on loan";
    EXPECT_LE(r.at("YO_YDATE"), kToday);
  }

  // One book was missed at the last stocktaking; the others accessioned
  // before it were found.
  std::string stocktaking;
  int missing = 0;
  for (const auto& b : master_) {
    if (b.at("MS_TZENKAI").empty() && !b.at("MS_TFMSUU").empty()) ++missing;
    if (!b.at("MS_TZENKAI").empty()) stocktaking = std::max(stocktaking, b.at("MS_TZENKAI"));
  }
  EXPECT_EQ(missing, 1);
  EXPECT_EQ(summary_.missing, 1);
  for (const auto& b : master_)
    if (b.at("MS_UKEIRE") < stocktaking && b.at("MS_TFMSUU").empty())
      ADD_FAILURE() << b.at("MS_SYOMEI") << " was never checked";

  std::set<std::string> kinds, locations;
  for (const auto& b : master_) {
    kinds.insert(b.at("MS_KKUBUN"));
    locations.insert(b.at("MS_SYOZAI"));
  }
  EXPECT_EQ(kinds, (std::set<std::string>{"01", "02", "03", "04"}));
  EXPECT_EQ(locations, (std::set<std::string>{"001", "002", "003", "004", "005"}));
}

TEST_F(SampleCatalogue, RecommendedBooksAppearOnceEach) {
  const auto features = rows_of(dir_.file("feature.dbf"));
  EXPECT_EQ(static_cast<int>(features.size()), summary_.recommended);
  EXPECT_GE(features.size(), 9u);
  EXPECT_LE(features.size(), 12u);
  // The recommended list joins the loans and reservations tables, so a
  // recommended book with two rows in either would be listed twice.
  std::map<std::string, int> loans, reservations;
  for (const auto& l : rows_of(dir_.file("kasidasi.dbf"))) ++loans[l.at("KA_BOOKID")];
  for (const auto& r : rows_of(dir_.file("yoyaku.dbf"))) ++reservations[r.at("YO_BOOKID")];
  for (const auto& f : features) {
    const std::string& id = f.at("FT_BOOKID");
    ASSERT_TRUE(by_id_.count(id)) << id;
    EXPECT_LE(loans[id], 1) << id;
    EXPECT_LE(reservations[id], 1) << id;
    EXPECT_LE(f.at("FT_DATE"), kToday);
  }
}

TEST(SampleCatalogueFiles, SameDaySameBytesOtherDayOtherDates) {
  TTempDir dir;
  const auto a = dir.path() / "a", b = dir.path() / "b", c = dir.path() / "c";
  for (const auto& d : {a, b, c}) std::filesystem::create_directories(d);
  write_sample_catalogue(a.string(), kToday);
  write_sample_catalogue(b.string(), kToday);
  write_sample_catalogue(c.string(), "20261231");
  for (const char* table : {"master.dbf", "master.dbt", "kasidasi.dbf", "yoyaku.dbf", "feature.dbf"})
    EXPECT_EQ(read_bytes((a / table).string()), read_bytes((b / table).string())) << table;
  for (const char* table : {"master.dbf", "kasidasi.dbf", "feature.dbf"})
    EXPECT_NE(read_bytes((a / table).string()), read_bytes((c / table).string())) << table;
}

TEST(SampleCatalogueFiles, RejectsADayThatIsNotADate) {
  for (const char* bad : {"", "2026-03-09", "20260230", "2026039", "abcdefgh"})
    EXPECT_THROW(sample_library(bad), EDbaseError) << bad;
}

}  // namespace
}  // namespace Mirel::Dbase
