// Page arithmetic of the result lists (see paging.h). Every 32-bit result is
// the wrap-around of the exact value, so a visitor's PAGENUM of any size
// gives a defined, bounded answer.
#include "render/paging.h"

#include <algorithm>

#include "platform/exception.h"

namespace Mirel::MirelWeb {

int32_t wrap32(int64_t value) {
  // Conversion of an unsigned value to a signed type is modular in C++20.
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
}

int32_t page_start(int32_t rows, uint32_t pagenum) {
  // uint32_t × uint32_t stays unsigned (int is 32 bits): defined modulo 2^32.
  return static_cast<int32_t>(static_cast<uint32_t>(rows) * pagenum);
}

bool has_next_page(int32_t rows, uint32_t pagenum, int32_t count) {
  return page_start(rows, pagenum + 1u) < count;
}

int32_t page_count(int32_t rows, int32_t count) {
  if (rows == 0) throw Exception(u"ゼロによる除算");
  // In 64 bits: the one overflowing quotient, INT32_MIN / -1, wraps.
  const int64_t quotient = int64_t{count} / rows;
  const int64_t remainder = int64_t{count} % rows;
  return wrap32(quotient + (remainder != 0 ? 1 : 0));
}

Tpage_range page_list_range(int32_t rows, uint32_t pagenum, int32_t count) {
  Tpage_range range;
  range.cur = wrap32(int64_t{pagenum} + 1);
  range.first = std::max(wrap32(int64_t{range.cur} - 10), 1);
  const int32_t pages = page_count(rows, count);
  // When cur + 10 wraps it turns negative and the list is empty; when
  // cur − 10 wraps, first is far above cur + 10: either way at most 21.
  range.last = std::min(wrap32(int64_t{range.cur} + 10), pages);
  return range;
}

}  // namespace Mirel::MirelWeb
