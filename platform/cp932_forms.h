// The characters that code page 932 writes with another code point than
// other Japanese encodings and Unicode input methods do. A Mac or an iPhone
// types the wave dash 〜 as U+301C; code page 932's 0x8160 is U+FF5E ～, and
// a form in code page 932 can only send U+301C as a character reference.
// Taking code page 932's form makes such text encodable in our pages and
// links, and makes it meet the catalogue's own text.
#pragma once

namespace Mirel {

// Code page 932's form of `c` (itself for every other character).
constexpr char16_t cp932_form(char16_t c) {
  switch (c) {
    case 0x301C: return 0xFF5E;  // 〜 WAVE DASH -> ～ FULLWIDTH TILDE
    case 0x2016: return 0x2225;  // ‖ DOUBLE VERTICAL LINE -> ∥ PARALLEL TO
    case 0x2212: return 0xFF0D;  // − MINUS SIGN -> － FULLWIDTH HYPHEN-MINUS
    case 0x00A2: return 0xFFE0;  // ¢ -> ￠
    case 0x00A3: return 0xFFE1;  // £ -> ￡
    case 0x00AC: return 0xFFE2;  // ¬ -> ￢
    case 0x2014: return 0x2015;  // — EM DASH -> ― HORIZONTAL BAR
    default: return c;
  }
}

}  // namespace Mirel
