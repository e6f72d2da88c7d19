// Page arithmetic of the result lists: where a page starts, whether a next
// page exists, and which page numbers the page list shows.
//
// The page size `rows` is a signed 32-bit setting a template may set to any
// value (0 and negative included) and PAGENUM is whatever unsigned 32-bit
// number the visitor sends, so every product and sum here is defined as the
// two's-complement wrap-around of the exact value to 32 bits, computed in
// wider or unsigned arithmetic so that no step overflows. Pure functions;
// only page_count (and page_list_range through it) throws.
#pragma once

#include <cstdint>

namespace Mirel::MirelWeb {

// The low 32 bits of `value` as a signed number.
int32_t wrap32(int64_t value);

// Zero-based index of the first hit of page `pagenum`: rows × pagenum,
// wrapped to 32 bits.
int32_t page_start(int32_t rows, uint32_t pagenum);

// Whether a page follows page `pagenum`: rows × (pagenum + 1), both wrapped
// to 32 bits, is less than `count`.
bool has_next_page(int32_t rows, uint32_t pagenum, int32_t count);

// Number of pages: count / rows, plus one when there is a remainder.
// Throws Exception "ゼロによる除算" when rows is 0.
int32_t page_count(int32_t rows, int32_t count);

// The numbers of the page list for page `pagenum` (shown as `cur` =
// pagenum + 1, wrapped): from `first` = cur − 10, at least 1, up to
// `last` = the smaller of cur + 10 and the page count. Empty when
// first > last; never more than 21 numbers, whatever the inputs.
struct Tpage_range {
  int32_t cur = 0;
  int32_t first = 1;
  int32_t last = 0;
};
Tpage_range page_list_range(int32_t rows, uint32_t pagenum, int32_t count);

}  // namespace Mirel::MirelWeb
