// The synthetic catalogue: same options give the same bytes, ISBNs carry
// valid check digits, and the contents the catalogue's pages rely on are
// there (rising ids and dates, newest date = today, lending classes with
// 禁, recommended ids of live books, loans and missing books).
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "dbase/catalogue_generator.h"
#include "dbase/library_schema.h"
#include "tests/dbase/temp_dir.h"

namespace Mirel::Dbase {
namespace {

using Testing::read_bytes;
using Testing::TTempDir;

TEST(Isbn, CheckCharacters) {
  struct {
    const char* digits;
    char check;
  } rows13[] = {{"978030640615", '7'}, {"978400310101", '8'}, {"978000000000", '2'}},
    rows10[] = {{"030640615", '2'}, {"080442957", 'X'}, {"400000000", '4'}};
  for (auto& r : rows13) EXPECT_EQ(isbn13_check(r.digits), r.check) << r.digits;
  for (auto& r : rows10) EXPECT_EQ(isbn10_check(r.digits), r.check) << r.digits;
}

TEST(Generator, SameSeedSameBytesOtherSeedOtherBooks) {
  TTempDir dir;
  auto a = dir.path() / "a", b = dir.path() / "b", c = dir.path() / "c";
  for (const auto& d : {a, b, c}) std::filesystem::create_directories(d);
  TCatalogueOptions options;
  options.books = 300;
  options.seed = 42;
  generate_catalogue(a.string(), options);
  generate_catalogue(b.string(), options);
  options.seed = 43;
  generate_catalogue(c.string(), options);
  for (const TTableSchema& t : library_schema()) {
    std::string bytes = read_bytes((a / t.file).string());
    EXPECT_FALSE(bytes.empty()) << t.file;
    EXPECT_EQ(bytes, read_bytes((b / t.file).string())) << t.file;
  }
  EXPECT_EQ(read_bytes((a / "master.dbt").string()), read_bytes((b / "master.dbt").string()));
  EXPECT_NE(read_bytes((a / "master.dbf").string()), read_bytes((c / "master.dbf").string()));
}

TEST(Generator, RejectsBadOptions) {
  TTempDir dir;
  TCatalogueOptions options;
  for (const char* today : {"2025033", "20250230", "2025-3-1", "abcdefgh"}) {
    options.today = today;
    EXPECT_THROW(generate_catalogue(dir.path().string(), options), EDbaseError) << today;
  }
  options.today = "20250331";
  options.books = -1;
  EXPECT_THROW(generate_catalogue(dir.path().string(), options), EDbaseError);
}

class GeneratedCatalogue : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TTempDir;
    TCatalogueOptions options;
    options.books = 3000;
    options.seed = 7;
    options.today = "20240615";
    summary_ = generate_catalogue(dir_->path().string(), options);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string file(const char* name) { return dir_->file(name); }
  static std::string text(TTableReader& r, uint32_t i, const char* field) {
    return r.value(i, static_cast<size_t>(r.field_index(field))).as_text();
  }
  static TTempDir* dir_;
  static TCatalogueSummary summary_;
};
TTempDir* GeneratedCatalogue::dir_ = nullptr;
TCatalogueSummary GeneratedCatalogue::summary_;

TEST_F(GeneratedCatalogue, IsbnsHaveValidCheckDigits) {
  TTableReader master(file("master.dbf"));
  int isbn13 = 0, isbn10 = 0, blank = 0;
  for (uint32_t i = 0; i < master.record_count(); ++i) {
    std::string isbn = text(master, i, "MS_ISBN");
    if (isbn.empty()) {
      ++blank;
      continue;
    }
    std::string digits;
    for (char c : isbn)
      if (c != '-') digits.push_back(c);
    if (digits.size() == 13) {
      ++isbn13;
      EXPECT_EQ(digits.substr(0, 4), "9784") << isbn;
      EXPECT_EQ(isbn13_check(digits.substr(0, 12)), digits[12]) << isbn;
    } else if (digits.size() == 10) {
      ++isbn10;
      EXPECT_EQ(isbn10_check(digits.substr(0, 9)), digits[9]) << isbn;
    } else {
      ADD_FAILURE() << "not an ISBN: " << isbn;
    }
  }
  EXPECT_GT(isbn13, 1000);
  EXPECT_GT(isbn10, 100);
  EXPECT_GT(blank, 10);
}

TEST_F(GeneratedCatalogue, IdsAndAccessionDatesRiseToToday) {
  TTableReader master(file("master.dbf"));
  ASSERT_EQ(master.record_count(), 3000u);
  EXPECT_EQ(summary_.books, 3000);
  std::string last_id, last_date;
  std::set<std::string> dates;
  int deleted = 0, missing = 0, unchecked = 0, kinsi = 0, with_naiyo = 0;
  for (uint32_t i = 0; i < master.record_count(); ++i) {
    std::string id = text(master, i, "MS_BOOKID");
    std::string date = text(master, i, "MS_UKEIRE");
    EXPECT_EQ(id, book_id(i + 1));
    EXPECT_GE(date, last_date);
    last_date = date;
    dates.insert(date);
    deleted += master.is_deleted(i);
    bool tzenkai = !text(master, i, "MS_TZENKAI").empty();
    bool tfmsuu = !text(master, i, "MS_TFMSUU").empty();
    missing += !tzenkai && tfmsuu;
    unchecked += !tzenkai && !tfmsuu;
    kinsi += text(master, i, "MS_KKUBUN") == "02";
    with_naiyo += !text(master, i, "MS_NAIYO").empty();
    EXPECT_FALSE(text(master, i, "MS_SYOMEI").empty());
    EXPECT_FALSE(text(master, i, "MS_SYOKANA").empty());
    EXPECT_NE(text(master, i, "MS_SEIKYU").find('/'), std::string::npos);
  }
  EXPECT_EQ(last_date, "20240615");
  EXPECT_GT(dates.size(), 50u);
  EXPECT_LT(dates.size(), 3000u);  // books come in batches
  EXPECT_EQ(deleted, summary_.deleted);
  EXPECT_GT(deleted, 0);
  EXPECT_GT(missing, 0);
  EXPECT_GT(unchecked, 0);
  EXPECT_GT(kinsi, 0);
  EXPECT_GT(with_naiyo, 300);
}

TEST_F(GeneratedCatalogue, LookupsLoansAndRecommendationsFitTheBooks) {
  TTableReader kkubun(file("kkubun.dbf"));
  bool has_kin = false;
  for (uint32_t i = 0; i < kkubun.record_count(); ++i)
    has_kin = has_kin || text(kkubun, i, "KK_KKNAME").find("禁") != std::string::npos;
  EXPECT_TRUE(has_kin);

  TTableReader master(file("master.dbf"));
  auto live = [&](const std::string& id) {
    for (uint32_t i = 0; i < master.record_count(); ++i)
      if (text(master, i, "MS_BOOKID") == id) return !master.is_deleted(i);
    return false;
  };
  TTableReader feature(file("feature.dbf"));
  ASSERT_EQ(feature.record_count(), 10u);
  for (uint32_t i = 0; i < feature.record_count(); ++i)
    EXPECT_TRUE(live(text(feature, i, "FT_BOOKID"))) << text(feature, i, "FT_BOOKID");

  TTableReader loans(file("kasidasi.dbf"));
  EXPECT_EQ(static_cast<long long>(loans.record_count()), summary_.loans);
  EXPECT_GT(loans.record_count(), 30u);
  TTableReader yoyaku(file("yoyaku.dbf"));
  EXPECT_EQ(static_cast<long long>(yoyaku.record_count()), summary_.reservations);
  EXPECT_GT(yoyaku.record_count(), 0u);
  TTableReader fukuhon(file("fukuhon.dbf"));
  EXPECT_GT(fukuhon.record_count(), 0u);
}

}  // namespace
}  // namespace Mirel::Dbase
