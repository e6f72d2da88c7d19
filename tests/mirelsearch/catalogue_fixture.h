// A small library written with the project's dBASE writer into a fresh
// directory, reachable under the alias "TestLib" through an aliases.ini in
// that directory (made the program directory for the test), and helpers that
// run a search and collect its hits.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "database/database.h"
#include "dbase/library_builder.h"
#include "platform/unicode_string.h"
#include "search/mirel_search.h"

namespace Mirelsearch_tlb::testing {

inline constexpr const char16_t* kAlias = u"TestLib";

class TCatalogueDir {
 public:
  TCatalogueDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("mirelsearch-") + info->test_suite_name() + "-" + info->name();
    for (char& c : name)
      if (c == '/') c = '_';
    root_ = std::filesystem::path(MW_BINARY_DIR) / "test-tmp" / name;
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_ / "lib");
    std::ofstream ini(root_ / "aliases.ini");
    ini << "[Aliases]\nTestLib=" << (root_ / "lib").string() << "\n";
    Mirel::Database::set_program_directory(root_.string());
  }
  ~TCatalogueDir() {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }
  std::string lib_dir() const { return (root_ / "lib").string(); }
  void write(const Mirel::Dbase::TLibraryBuilder& builder) const { builder.write(lib_dir()); }

 private:
  std::filesystem::path root_;
};

// A book with the given id number and title, everything else blank.
inline Mirel::Dbase::TBook book(long long number, const std::string& syomei = {}) {
  Mirel::Dbase::TBook b;
  b.bookid = Mirel::Dbase::book_id(number);
  b.syomei = syomei;
  return b;
}

// The id numbers of every hit, in order (opens and closes the search).
inline std::vector<long long> hit_numbers(Imirel_search& search) {
  std::vector<long long> out;
  search.connect(u"");
  search.open(kAlias);
  const int32_t count = search.get_record_count();
  while (!search.get_is_eof()) {
    out.push_back(std::stoll(Mirel::to_utf8(search.get_BOOKID())));
    search.move_next();
  }
  EXPECT_EQ(static_cast<size_t>(count), out.size());
  search.close();
  search.disconnect();
  return out;
}

template <typename Keyword>
std::shared_ptr<Istring_keyword> keyword(const Mirel::UnicodeString& text, int32_t match = 0) {
  auto k = std::make_shared<Keyword>();
  k->set_mode(0);
  if (match != 0) k->set_match(match);
  k->set_keyword(text);
  return k;
}

}  // namespace Mirelsearch_tlb::testing
