// The variant-kanji table as a sorted static array, with a bitmap over the
// common ideograph block built at compile time so that the usual kanji (no
// variant) costs one bit test and no search. Nothing is read or built when
// the process starts.
#include "mirelsearch/variant_kanji.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace Mirelsearch_tlb::detail {
namespace {

struct TVariant {
  char32_t from;
  char32_t to;
};

constexpr TVariant kVariants[] = {
#include "mirelsearch/variant_kanji_table.inc"
};

constexpr bool sorted_and_final() {
  for (size_t i = 1; i < std::size(kVariants); ++i)
    if (kVariants[i - 1].from >= kVariants[i].from) return false;
  // A folded form is never itself a variant: one look-up is enough.
  for (const TVariant& v : kVariants)
    for (const TVariant& w : kVariants)
      if (v.to == w.from) return false;
  return true;
}
static_assert(sorted_and_final(), "variant_kanji_table.inc must be sorted, with final targets");

constexpr char32_t kBlockFirst = 0x3400, kBlockLast = 0x9FFF;

constexpr auto make_block_bits() {
  std::array<uint64_t, (kBlockLast - kBlockFirst) / 64 + 1> bits{};
  for (const TVariant& v : kVariants)
    if (v.from >= kBlockFirst && v.from <= kBlockLast)
      bits[(v.from - kBlockFirst) / 64] |= uint64_t{1} << ((v.from - kBlockFirst) % 64);
  return bits;
}
constexpr auto kBlockBits = make_block_bits();

}  // namespace

char32_t fold_variant_kanji(char32_t c) {
  if (c < kBlockFirst) return c;
  if (c <= kBlockLast) {
    const char32_t i = c - kBlockFirst;
    if (((kBlockBits[i / 64] >> (i % 64)) & 1) == 0) return c;
  }
  const TVariant* end = kVariants + std::size(kVariants);
  const TVariant* it =
      std::lower_bound(kVariants, end, c, [](const TVariant& v, char32_t x) { return v.from < x; });
  return it != end && it->from == c ? it->to : c;
}

}  // namespace Mirelsearch_tlb::detail
