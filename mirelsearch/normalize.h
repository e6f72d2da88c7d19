// Text normalisation for catalogue matching. Both the index (built inside
// the database cache) and the keywords a visitor types go through the same functions, so they meet whatever form
// either side was written in.
//
// normalize_text, in this order:
//  1. the characters that code page 932 writes differently from other
//     encodings take its form (〜 U+301C as ～ U+FF5E, and ‖ − ¢ £ ¬ —);
//  2. Unicode NFKC (full-width and half-width forms meet, ㈱ is (株)), then
//     lower case (ICU, loaded with dlopen the first time a text needs it: a
//     text of ASCII, kana, common kanji and Japanese punctuation never
//     does; throws EMirelSearch when no ICU library can be loaded);
//  3. katakana to hiragana (ヷヸヹヺ to ばびべぼ), variant kanji to one form
//     (variant_kanji.h), the iteration marks 々〻ゝゞ (ヽヾ) written out;
//  4. ヴ and its row to ば行 (ヴァ→ば, ヴ→ぶ), small ぁぃぅぇぉ ゕゖ to full
//     size, ぢづ to じず (never ゃゅょっ, never a voiced kana to an unvoiced
//     one); a dash or hyphen look-alike after a kana becomes ー;
//  5. in a publisher's name, the company-form words (株式会社, (株), ...);
//  6. spaces, ・, brackets 「」『』()〔〕【】〈〉《》, 、。!?:= and ゠, and the
//     comma inside a number (1,000) are removed, so that words match across
//     them; a Latin letter that begins a word (after anything but a Latin
//     letter or a digit) is preceded by kWordStart, so that a keyword
//     beginning with a Latin letter is found only at the start of a word.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/unicode_string.h"

namespace Mirelsearch_tlb::detail {

// Bumped whenever normalize_text or the ISBN key gives another result for
// any text: the search index of every cache is then rebuilt.
inline constexpr int kNormalizeVersion = 1;

// Marks the next character as the start of a Latin word. It is never part of
// a normalised text otherwise (tabs and line ends count as spaces, other
// control characters become U+FFFD).
inline constexpr char16_t kWordStart = u'\x01';

enum class TFieldKind { general, publisher };

// The normalised form described above. Invalid UTF-16 (a lone surrogate)
// is passed through by ICU as U+FFFD. Texts made only of characters that
// NFKC never changes (ASCII, kana, common kanji, Japanese punctuation) or
// maps to one ASCII character whatever their neighbours (full-width ASCII,
// the ideographic space) are folded without ICU.
Mirel::UnicodeString normalize_text(std::u16string_view text,
                                    TFieldKind kind = TFieldKind::general);
// The same, always through ICU (for tests of the shortcut above).
Mirel::UnicodeString normalize_text_icu(std::u16string_view text,
                                        TFieldKind kind = TFieldKind::general);

// Set on a code point of TFieldNormalizer's result that begins a Latin
// word (where normalize_text writes kWordStart before it).
inline constexpr char32_t kWordStartFlag = 0x80000000;

// Normalises many texts one after another (a full build's every field),
// keeping its buffers between them: the result of normalize_text on the
// UTF-8 text as code points, without the UTF-16 round trip.
class TFieldNormalizer {
 public:
  // Valid until the next call.
  std::u32string_view normalize(std::string_view utf8, TFieldKind kind = TFieldKind::general);

 private:
  std::u32string text_, out_;
};

// True when the normalised `word` occurs in the normalised `text`; a word
// that begins with kWordStart only where the text has one too.
bool contains_normalized(std::u16string_view text, std::u16string_view word);

// The ISBN key of a text: its digits and the letter X (either case, any
// width), everything else dropped; X is written lower case. A leading label
// (ISBN, ISBN-10, ISBN-13, ISBN13, with a colon and spaces) is dropped first.
std::string isbn_key(std::u16string_view text);

// The other form of a complete ISBN key: ISBN-10 (9 digits and a check
// character) <-> ISBN-13 starting with 978. Empty when there is none.
std::string isbn_other_form(const std::string& key);

// True when `key` is part of the ISBN key `field_key` or of its other form.
bool isbn_contains(const std::string& field_key, const std::string& key);

}  // namespace Mirelsearch_tlb::detail
