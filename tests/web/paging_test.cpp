// Page arithmetic of the result lists: the 32-bit wrap-around of the page
// start and the next-page test, the page count, and the page-number window
// of PAGE_LIST, including its bound for any page size and page number.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

#include "platform/exception.h"
#include "render/paging.h"

using namespace Mirel::MirelWeb;

TEST(Paging, PageStartWrapsTo32Bits) {
  const struct {
    int32_t rows;
    uint32_t pagenum;
    int32_t start;
  } cases[] = {
      {20, 0, 0},
      {20, 2, 40},
      {10, 3, 30},
      {0, 12345, 0},
      {-1, 5, -5},
      {20, 214748365, 4},               // 4294967300 - 2^32
      {20, 107374183, -2147483636},     // 2147483660 - 2^32
      {20, UINT32_MAX, -20},
      {INT32_MAX, 2, -2},
      {INT32_MIN, 1, INT32_MIN},
      {INT32_MIN, UINT32_MAX, INT32_MIN},
  };
  for (const auto& c : cases)
    EXPECT_EQ(page_start(c.rows, c.pagenum), c.start) << c.rows << " x " << c.pagenum;
}

TEST(Paging, NextPageExistsWhileTheFollowingPageStartsBeforeTheEnd) {
  const struct {
    int32_t rows;
    uint32_t pagenum;
    int32_t count;
    bool next;
  } cases[] = {
      {20, 0, 45, true},  {20, 1, 45, true},  {20, 2, 45, false},
      {20, 0, 40, true},  {20, 1, 40, false},  // an exact multiple ends the links
      {20, 0, 20, false}, {20, 0, 0, false},  {20, 9, 45, false},
      {0, 7, 1, true},    {0, 7, 0, false},    // page size 0: always a next page
      {20, 214748365, 45, true},               // 20 × 214748366 wraps to 24
      {20, UINT32_MAX, 45, true},              // PAGENUM + 1 wraps to 0
      {20, 107374182, 45, true},               // 20 × 107374183 wraps below 0
  };
  for (const auto& c : cases)
    EXPECT_EQ(has_next_page(c.rows, c.pagenum, c.count), c.next)
        << c.rows << " " << c.pagenum << " " << c.count;
}

TEST(Paging, PageCountRoundsUpAndRefusesZeroRows) {
  EXPECT_EQ(page_count(20, 45), 3);
  EXPECT_EQ(page_count(20, 40), 2);
  EXPECT_EQ(page_count(20, 0), 0);
  EXPECT_EQ(page_count(1, INT32_MAX), INT32_MAX);
  EXPECT_EQ(page_count(-20, 45), -1);  // -2 plus one for the remainder
  EXPECT_EQ(page_count(-1, INT32_MIN), INT32_MIN);  // the one quotient that wraps
  try {
    page_count(0, 45);
    FAIL() << "no exception";
  } catch (const Mirel::Exception& e) {
    EXPECT_EQ(e.message(), u"ゼロによる除算");
  }
  EXPECT_THROW(page_list_range(0, 0, 0), Mirel::Exception);
}

TEST(Paging, PageListWindow) {
  const struct {
    const char* name;
    int32_t rows;
    uint32_t pagenum;
    int32_t count;
    int32_t cur, first, last;
  } cases[] = {
      {"45 hits, page 2", 20, 1, 45, 2, 1, 3},
      {"40 hits, last page", 20, 1, 40, 2, 1, 2},
      {"page 15 of 30", 20, 14, 600, 15, 5, 25},
      {"page 3 of 30", 20, 2, 600, 3, 1, 13},
      {"past the last page", 20, 9, 45, 10, 1, 3},
      {"no hits", 20, 0, 0, 1, 1, 0},
      {"PAGENUM + 1 wraps to 0", 20, UINT32_MAX, 45, 0, 1, 3},
      {"cur is INT32_MIN", 20, 2147483647u, 45, INT32_MIN, 2147483638, -2147483638},
      {"cur + 10 wraps", 1, 2147483640u, INT32_MAX, 2147483641, 2147483631, -2147483645},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Tpage_range r = page_list_range(c.rows, c.pagenum, c.count);
    EXPECT_EQ(r.cur, c.cur);
    EXPECT_EQ(r.first, c.first);
    EXPECT_EQ(r.last, c.last);
  }
}

// Whatever a template sets as page size and a visitor sends as page number,
// the list never holds more than 21 numbers and never starts below 1.
TEST(Paging, PageListNeverExceedsTwentyOneNumbers) {
  const int32_t rows[] = {1, 2, 20, -1, -20, INT32_MAX, INT32_MIN};
  const int32_t counts[] = {0, 1, 45, 1000000, INT32_MAX};
  const uint32_t pages[] = {0u, 1u, 9u, 10u, 11u, 1000u, 2147483636u, 2147483637u, 2147483646u,
                            2147483647u, 2147483648u, 2147483657u, 4294967285u, 4294967294u,
                            UINT32_MAX};
  for (int32_t r : rows)
    for (int32_t c : counts)
      for (uint32_t p : pages) {
        const Tpage_range range = page_list_range(r, p, c);
        const int64_t shown = range.first <= range.last ? int64_t{range.last} - range.first + 1 : 0;
        EXPECT_LE(shown, 21) << r << " " << p << " " << c;
        EXPECT_GE(range.first, 1);
      }
}
