// The code page 932 tables, generated at build time from glibc iconv by
// platform/gen/cp932_tablegen (private to platform/; see text_codec.h).
//
// Decoding: kCp932Single[b] is the UTF-16 unit of byte b alone, kCp932Bad
// when iconv rejects it, kCp932Lead when it starts a pair; the unit of the
// pair (b, t) is kCp932Pairs[(kCp932LeadIndex[b] - 1) * 256 + t], kCp932Bad
// when iconv rejects the pair. Encoding: unit u maps to
// kCp932Encode[kCp932EncodeBlock[u >> 8] * 256 + (u & 0xFF)], which is
// kCp932Bad when code page 932 has no such character, the byte itself when
// below 0x100, else the lead byte in the high and the trail in the low half.
#pragma once

#include <cstdint>

namespace Mirel::detail {

inline constexpr uint16_t kCp932Bad = 0xFFFF;
inline constexpr uint16_t kCp932Lead = 0xFFFE;

extern const uint16_t kCp932Single[256];
extern const uint16_t kCp932LeadIndex[256];
extern const uint16_t kCp932Pairs[];
extern const uint16_t kCp932EncodeBlock[256];
extern const uint16_t kCp932Encode[];

}  // namespace Mirel::detail
