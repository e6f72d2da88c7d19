// Tests of Tmwsearch_term: which request parameters make a query, which
// conditions reach the search object and in which order, and how ORDER and
// ORDERKIND become the sort object.
#include "request/search_term.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/request/fake_request.h"

namespace Mirel::MirelWeb {
namespace {

using namespace Mirelsearch_tlb;
using testing::make_get;
using testing::make_post;

// A search object that records the conditions it is given.
class TRecordingSearch : public Imirel_search {
 public:
  std::vector<std::shared_ptr<Istring_keyword>> keywords;
  std::shared_ptr<Isql_order> sort;
  int ranges = 0;

  void add_keyword(std::shared_ptr<Istring_keyword> k) override { keywords.push_back(k); }
  void add_range(std::shared_ptr<Istring_range>) override { ++ranges; }
  void set_sort(std::shared_ptr<Isql_order> o) override { sort = o; }
  void set_flag(bool) override {}
  void connect(const UnicodeString&) override {}
  void open(const UnicodeString&) override {}
  void close() override {}
  void disconnect() override {}
  int32_t get_record_count() override { return 0; }
  void move_by(int32_t, int32_t& moved) override { moved = 0; }
  bool get_is_eof() override { return true; }
  void move_next() override {}
  UnicodeString get_BOOKID() override { return {}; }
  UnicodeString get_SYOMEI() override { return {}; }
  UnicodeString get_SYOKANA() override { return {}; }
  UnicodeString get_CHOSYA() override { return {}; }
  UnicodeString get_CHOKANA() override { return {}; }
  UnicodeString get_SYUPAN() override { return {}; }
  UnicodeString get_SYUNEN() override { return {}; }
  UnicodeString get_ISBN() override { return {}; }
  UnicodeString get_PAGE() override { return {}; }
  UnicodeString get_OOKISA() override { return {}; }
  UnicodeString get_SEIKYU() override { return {}; }
  UnicodeString get_KENMEI() override { return {}; }
  UnicodeString get_NAIYO() override { return {}; }
  UnicodeString get_UKEIRE() override { return {}; }
  UnicodeString get_MEMO() override { return {}; }
  int32_t get_KINGAKU() override { return 0; }
  bool get_is_kasidasi() override { return false; }
  bool get_is_fumei() override { return false; }
  std::shared_ptr<Ikubun> get_SYOZAI() override { return nullptr; }
  std::shared_ptr<Ikkubun> get_kkubun() override { return nullptr; }

  // "kind:text" per added keyword, in order.
  std::vector<std::string> conditions() const {
    static const char* names[] = {"bookid", "syomei", "chosya", "syupan", "isbn", "content"};
    std::vector<std::string> out;
    for (const auto& k : keywords)
      out.push_back(std::string(names[static_cast<int>(k->get_kind())]) + ":" +
                    to_utf8(k->get_keyword()));
    return out;
  }
};

struct TLoadCase {
  const char* name;
  const char* query;
  bool loaded;
  std::vector<std::string> conditions;
  const char* sort_field;  // nullptr: no sort object reaches the search
  int32_t sort_option;
};

class SearchTermLoad : public ::testing::TestWithParam<TLoadCase> {};

TEST_P(SearchTermLoad, LoadsAndApplies) {
  const TLoadCase& c = GetParam();
  auto request = make_get(c.query);
  Tmwsearch_term term;
  EXPECT_EQ(term.load(&request), c.loaded);
  TRecordingSearch search;
  term.apply(search);
  EXPECT_EQ(search.conditions(), c.conditions);
  EXPECT_EQ(search.ranges, 0);
  if (c.sort_field == nullptr) {
    EXPECT_EQ(search.sort, nullptr);
  } else {
    ASSERT_NE(search.sort, nullptr);
    EXPECT_EQ(to_utf8(search.sort->get_field_name()), c.sort_field);
    EXPECT_EQ(search.sort->get_option(), c.sort_option);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SearchTermLoad,
    ::testing::Values(
        TLoadCase{"Empty", "", false, {}, nullptr, 0},
        TLoadCase{"OnlyPaging", "PAGENUM=3&STATUS=0", false, {}, nullptr, 0},
        // The sort alone is no query, but it still reaches the search.
        TLoadCase{"OnlyOrder", "ORDER=MS_SYOMEI&ORDERKIND=DESC", false, {}, "MS_SYOMEI", 1},
        TLoadCase{"OrderKindWithoutOrder", "SYOMEI=a&ORDERKIND=DESC", true, {"syomei:a"}, nullptr,
                  0},
        TLoadCase{"OnlyBookid", "BOOKID=0000000001", true, {"bookid:0000000001"}, nullptr, 0},
        TLoadCase{"OnlyKenmei", "KENMEI=%97%F0%8Ej", true, {"content:歴史"}, nullptr, 0},
        TLoadCase{"AllInOrder",
                  "KENMEI=k&ISBN=i&SYUPAN=p&CHOSYA=c&SYOMEI=s&BOOKID=b&ORDER=MS_UKEIRE",
                  true,
                  {"bookid:b", "syomei:s", "chosya:c", "syupan:p", "isbn:i", "content:k"},
                  "MS_UKEIRE",
                  0},
        TLoadCase{"LowerCaseDescAscends", "SYOMEI=x&ORDER=MS_BOOKID&ORDERKIND=desc", true,
                  {"syomei:x"}, "MS_BOOKID", 0},
        // The term never trims: a blank keyword is a keyword.
        TLoadCase{"BlankKeywordCounts", "CHOSYA=+++", true, {"chosya:   "}, nullptr, 0},
        TLoadCase{"EmptyValuesAreNotAdded", "SYOMEI=&CHOSYA=&ISBN=9784&KENMEI=", true,
                  {"isbn:9784"}, nullptr, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SearchTerm, ConstructorSetsModesAndExactBookId) {
  Tmwsearch_term term;
  TRecordingSearch search;
  term.set_keyword_bookid(u"1");
  term.set_keyword_syomei(u"2");
  term.set_keyword_chosya(u"3");
  term.set_keyword_syupan(u"4");
  term.set_keyword_isbn(u"5");
  term.set_keyword_content(u"6");
  term.apply(search);
  ASSERT_EQ(search.keywords.size(), 6u);
  EXPECT_EQ(search.keywords[0]->get_match(), 3);
  for (const auto& k : search.keywords) EXPECT_EQ(k->get_mode(), 0);
  for (size_t i = 1; i < 6; ++i) EXPECT_NE(search.keywords[i]->get_match(), 3);
}

TEST(SearchTerm, NullRequestChangesNothing) {
  Tmwsearch_term term;
  term.set_keyword_syomei(u"kept");
  term.set_order(u"MS_SYOMEI", true);
  EXPECT_FALSE(term.load(nullptr));
  EXPECT_EQ(term.keyword_syomei(), u"kept");
  EXPECT_EQ(term.order_field(), u"MS_SYOMEI");
}

TEST(SearchTerm, LoadReplacesEveryKeywordWithThisRequest) {
  Tmwsearch_term term;
  term.set_keyword_chosya(u"old");
  auto request = make_get("SYOMEI=new");
  EXPECT_TRUE(term.load(&request));
  EXPECT_EQ(term.keyword_chosya(), u"");
  EXPECT_EQ(term.keyword_syomei(), u"new");
}

TEST(SearchTerm, PostReadsTheFormBody) {
  auto request = make_post("SYUPAN=%8A%E2%94g", "SYUPAN=ignored");
  Tmwsearch_term term;
  EXPECT_TRUE(term.load(&request));
  EXPECT_EQ(term.keyword_syupan(), U("岩波"));
}

TEST(SearchTerm, BadEscapeThrows) {
  auto request = make_get("SYOMEI=%zz");
  Tmwsearch_term term;
  EXPECT_THROW(term.load(&request), Exception);
}

}  // namespace
}  // namespace Mirel::MirelWeb
