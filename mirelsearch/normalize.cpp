// Normalisation of the catalogue search. ICU is reached
// through dlopen: linking it would cost every CGI process its relocation
// and start-up even on pages that never search, so the library is mapped
// only when the first non-ASCII text has to be normalised.
#include "mirelsearch/normalize.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

#include "mirelsearch/variant_kanji.h"
#include "platform/cp932_forms.h"
#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {

using Mirel::UnicodeString;

namespace {

// The few ICU C functions we call, declared by hand so that no ICU header or
// link-time library is needed; the types match ICU's C API (UChar is
// char16_t, UErrorCode an int enum, UNormalizer2 opaque).
using UErrorCode = int;
struct UNormalizer2;
using GetInstanceFn = const UNormalizer2* (*)(UErrorCode*);
using NormalizeFn = int32_t (*)(const UNormalizer2*, const char16_t*, int32_t, char16_t*, int32_t,
                                UErrorCode*);
using ToLowerFn = int32_t (*)(char16_t*, int32_t, const char16_t*, int32_t, const char*,
                              UErrorCode*);
constexpr UErrorCode kZeroError = 0;
constexpr UErrorCode kBufferOverflow = 15;

struct Icu {
  const UNormalizer2* nfkc = nullptr;
  NormalizeFn normalize = nullptr;
  ToLowerFn to_lower = nullptr;
};

// Finds libicuuc of any version Debian may ship; its exported names carry the
// major version as a suffix ("unorm2_normalize_72"). Unsuffixed names are
// tried as well for builds made without renaming.
// Every name tried costs a search of the library path, so the version the
// program was built next to (MW_ICU_MAJOR, when the build found ICU) is
// tried first.
bool load_icu(Icu& icu) {
  std::vector<int> versions;
#ifdef MW_ICU_MAJOR
  versions.push_back(MW_ICU_MAJOR);
#endif
  for (int version = 99; version >= 50; --version)
    if (versions.empty() || version != versions.front()) versions.push_back(version);
  for (int version : versions) {
    std::string lib = "libicuuc.so." + std::to_string(version);
    void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) continue;
    for (const std::string& suffix : {"_" + std::to_string(version), std::string()}) {
      auto get = reinterpret_cast<GetInstanceFn>(
          dlsym(handle, ("unorm2_getNFKCInstance" + suffix).c_str()));
      auto normalize =
          reinterpret_cast<NormalizeFn>(dlsym(handle, ("unorm2_normalize" + suffix).c_str()));
      auto to_lower =
          reinterpret_cast<ToLowerFn>(dlsym(handle, ("u_strToLower" + suffix).c_str()));
      if (get == nullptr || normalize == nullptr || to_lower == nullptr) continue;
      UErrorCode status = kZeroError;
      const UNormalizer2* nfkc = get(&status);
      if (status > kZeroError || nfkc == nullptr) continue;
      icu.nfkc = nfkc;
      icu.normalize = normalize;
      icu.to_lower = to_lower;
      return true;  // the handle stays open for the life of the process
    }
    dlclose(handle);
  }
  return false;
}

const Icu& icu() {
  static Icu instance;
  static bool loaded = false;
  static std::once_flag once;
  std::call_once(once, [] { loaded = load_icu(instance); });
  if (!loaded) throw EMirelSearch(u"検索語の正規化に必要な ICU ライブラリ (libicuuc) が見つかりません");
  return instance;
}

// Runs one ICU string function with the usual "measure, then fill" protocol.
template <typename Call>
UnicodeString icu_call(std::u16string_view text, Call call) {
  UnicodeString out(text.size() + 16, u'\0');
  UErrorCode status = kZeroError;
  int32_t n = call(out.data(), static_cast<int32_t>(out.size()), &status);
  if (status == kBufferOverflow) {
    out.assign(static_cast<size_t>(n), u'\0');
    status = kZeroError;
    n = call(out.data(), static_cast<int32_t>(out.size()), &status);
  }
  if (status > kZeroError) throw EMirelSearch(u"検索語を正規化できません");
  out.resize(static_cast<size_t>(n));
  return out;
}

// Characters that NFKC leaves alone whatever surrounds them and that have no
// letter case: ASCII apart from its capitals, hiragana and katakana without
// the combining and spacing sound marks or the digraphs ゟ and ヿ, the CJK
// unified ideographs and 々〆〇. Composition needs a combining mark as the
// second character, and none is among them, so a text made only of these
// is its own NFKC form, and ICU need not be asked (nor loaded).
// The Japanese punctuation 、。「」『』【】 and ・ are stable as well.
bool is_stable(char16_t c) {
  return c < 0x80 || (c >= 0x3041 && c <= 0x3096) || c == 0x309D || c == 0x309E ||
         (c >= 0x30A1 && c <= 0x30FE) || (c >= 0x3005 && c <= 0x3007) ||
         c == 0x3001 || c == 0x3002 || (c >= 0x300C && c <= 0x3011) ||
         (c >= 0x4E00 && c <= 0x9FFF);
}

// Characters whose NFKC form is a single ASCII character, whatever
// surrounds them: the full-width forms of ASCII and the ideographic space
// (0 for any other). Keywords typed on a Japanese keyboard are full of
// them, and they spare such a keyword the loading of ICU.
char16_t ascii_form(char16_t c) {
  if (c >= 0xFF01 && c <= 0xFF5E) return static_cast<char16_t>(c - 0xFEE0);
  return c == 0x3000 ? u' ' : u'\0';
}

// Code points of UTF-16 text; a lone surrogate counts as itself.
std::u32string code_points(std::u16string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(c);
  }
  return out;
}

int isbn10_check(const std::string& nine) {
  int sum = 0;
  for (int i = 0; i < 9; ++i) sum += (10 - i) * (nine[i] - '0');
  return (11 - sum % 11) % 11;
}

int isbn13_check(const std::string& twelve) {
  int sum = 0;
  for (int i = 0; i < 12; ++i) sum += (i % 2 == 0 ? 1 : 3) * (twelve[i] - '0');
  return (10 - sum % 10) % 10;
}

bool all_digits(const std::string& s, size_t from, size_t to) {
  for (size_t i = from; i < to; ++i)
    if (s[i] < '0' || s[i] > '9') return false;
  return true;
}

}  // namespace

namespace {

void append_utf16(UnicodeString& out, char32_t c) {
  if (c >= 0x10000) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

bool is_hiragana(char32_t c) { return c >= 0x3041 && c <= 0x3096; }
bool is_kana_or_long_vowel(char32_t c) { return is_hiragana(c) || c == 0x30FC; }
bool is_han(char32_t c) {
  return (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0x20000 && c <= 0x3FFFF);
}
bool is_latin_letter(char32_t c) {
  return (c >= u'a' && c <= u'z') || (c >= 0xDF && c <= 0x24F && c != 0xF7);
}
bool is_digit(char32_t c) { return c >= u'0' && c <= u'9'; }

// The voiced and the plain form of a hiragana (for ゞ and ゝ). The voiceable
// rows alternate plain and voiced code points (か が, ..., ち ぢ), then つ づ
// て で と ど, then は ば ぱ in threes.
char32_t voiced(char32_t c) {
  if (c >= 0x304B && c <= 0x3062) return (c - 0x304B) % 2 == 0 ? c + 1 : c;
  if (c == 0x3064 || c == 0x3066 || c == 0x3068) return c + 1;
  if (c >= 0x306F && c <= 0x307D) return (c - 0x306F) % 3 == 0 ? c + 1 : c;
  return c == 0x3046 ? 0x3094 : c;  // う ゔ
}
char32_t unvoiced(char32_t c) {
  if (c >= 0x304B && c <= 0x3062) return (c - 0x304B) % 2 == 1 ? c - 1 : c;
  if (c == 0x3065 || c == 0x3067 || c == 0x3069) return c - 1;
  if (c >= 0x306F && c <= 0x307D) return c - (c - 0x306F) % 3;
  return c == 0x3094 ? 0x3046 : c;
}

// Step 3: script, variant and iteration marks, one code point at a time.
// In place: each character is written where it was read, so the one before
// it is already folded (an iteration mark repeats the folded form).
void fold_characters(std::u32string& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    // Line ends and tabs separate words like spaces; other control
    // characters are nothing a text means (and never a kWordStart).
    if (c >= 0x09 && c <= 0x0D) c = u' ';
    else if (c < 0x20 || c == 0x7F) c = 0xFFFD;
    else if ((c >= 0x30A1 && c <= 0x30F6) || c == 0x30FD || c == 0x30FE) c -= 0x60;
    else if (c >= 0x30F7 && c <= 0x30FA) c = U"ばびべぼ"[c - 0x30F7];
    else if (c >= 0x3400) c = fold_variant_kanji(c);
    if (i > 0) {
      const char32_t prev = text[i - 1];
      if ((c == 0x3005 || c == 0x303B) && is_han(prev)) c = prev;
      else if (c == 0x309D && is_hiragana(prev)) c = unvoiced(prev);
      else if (c == 0x309E && is_hiragana(prev)) c = voiced(prev);
    }
    text[i] = c;
  }
}

bool is_long_vowel_lookalike(char32_t c) {
  return c == u'-' || (c >= 0x2010 && c <= 0x2015) || c == 0x2212 || c == 0x30FC ||
         c == 0xFF70;
}

// Step 4: the spellings of a reading that visitors and catalogues vary. In
// place: the output (up to `out`) never overtakes the input.
void fold_spelling(std::u32string& text) {
  size_t out = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c == 0x3094) {  // ゔ, with a small vowel after it: ゔぁ ば, ゔぃ び ...
      const char32_t next = i + 1 < text.size() ? text[i + 1] : 0;
      if (next == 0x3041 || next == 0x3043 || next == 0x3047 || next == 0x3049) {
        c = U"ば\0び\0\0\0べ\0ぼ"[next - 0x3041];
        ++i;
      } else {
        c = next == 0x3085 ? 0x3073 : 0x3076;  // ゔゅ びゅ; ゔ ぶ
      }
    } else if (c == 0x3041 || c == 0x3043 || c == 0x3045 || c == 0x3047 || c == 0x3049) {
      c += 1;  // ぁぃぅぇぉ
    } else if (c == 0x3095) {
      c = 0x304B;  // ゕ か
    } else if (c == 0x3096) {
      c = 0x3051;  // ゖ け
    } else if (c == 0x3062) {
      c = 0x3058;  // ぢ じ
    } else if (c == 0x3065) {
      c = 0x305A;  // づ ず
    } else if (is_long_vowel_lookalike(c) && out > 0 && is_kana_or_long_vowel(text[out - 1])) {
      c = 0x30FC;
    }
    text[out++] = c;
  }
  text.resize(out);
}

// Step 5: company-form words of a publisher's name, after NFKC (so ㈱ and
// （株） are both "(株)") and the variant kanji (會社 is 会社).
void drop_company_forms(std::u32string& text) {
  static constexpr std::u32string_view kForms[] = {
      U"株式会社", U"有限会社", U"合同会社", U"合資会社", U"合名会社", U"(株)", U"(有)",
  };
  for (std::u32string_view form : kForms) {
    for (size_t at = text.find(form); at != std::u32string::npos; at = text.find(form, at))
      text.erase(at, form.size());
  }
}

bool is_removed_punctuation(char32_t c) {
  switch (c) {
    case u' ': case u'!': case u'?': case u':': case u'=': case u'(': case u')':
    case 0x3001: case 0x3002:                            // 、。
    case 0x3008: case 0x3009: case 0x300A: case 0x300B:  // 〈〉《》
    case 0x300C: case 0x300D: case 0x300E: case 0x300F:  // 「」『』
    case 0x3010: case 0x3011: case 0x3014: case 0x3015:  // 【】〔〕
    case 0x30A0: case 0x30FB:                            // ゠ ・
      return true;
    default:
      return false;
  }
}

// Step 6: removal of spaces and punctuation, and the marks of word starts
// (decided on the text before the removal, so "new york" marks both words):
// `emit(c, word_start)` for each code point kept.
template <typename Emit>
void join_words(std::u32string_view in, Emit emit) {
  for (size_t i = 0; i < in.size(); ++i) {
    const char32_t c = in[i];
    if (is_removed_punctuation(c)) continue;
    // A thousands separator: a digit before, exactly three digits after.
    if (c == u',' && i > 0 && is_digit(in[i - 1]) && i + 3 < in.size() && is_digit(in[i + 1]) &&
        is_digit(in[i + 2]) && is_digit(in[i + 3]) && (i + 4 >= in.size() || !is_digit(in[i + 4])))
      continue;
    emit(c, is_latin_letter(c) && (i == 0 || (!is_latin_letter(in[i - 1]) && !is_digit(in[i - 1]))));
  }
}

// Steps 3 to 5, in place.
void fold(std::u32string& text, TFieldKind kind) {
  fold_characters(text);
  fold_spelling(text);
  if (kind == TFieldKind::publisher) drop_company_forms(text);
}

UnicodeString finish(std::u32string text, TFieldKind kind) {
  fold(text, kind);
  UnicodeString out;
  out.reserve(text.size() + 4);
  join_words(text, [&out](char32_t c, bool word_start) {
    if (word_start) out.push_back(kWordStart);
    append_utf16(out, c);
  });
  return out;
}

// Steps 1 and 2 of a UTF-8 text made only of the characters normalize_text
// folds without ICU, into `out`; false for any other text (and for UTF-8
// that is not plainly valid), which takes the general way.
bool fold_simple_utf8(std::string_view utf8, std::u32string& out) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t n = utf8.size();
  for (size_t i = 0; i < n;) {
    char16_t c;
    const unsigned char b = p[i];
    if (b < 0x80) {
      c = b;
      i += 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (i + 1 >= n || (p[i + 1] & 0xC0) != 0x80) return false;
      c = static_cast<char16_t>((b & 0x1F) << 6 | (p[i + 1] & 0x3F));
      i += 2;
    } else if ((b & 0xF0) == 0xE0) {
      if (i + 2 >= n || (p[i + 1] & 0xC0) != 0x80 || (p[i + 2] & 0xC0) != 0x80) return false;
      c = static_cast<char16_t>((b & 0x0F) << 12 | (p[i + 1] & 0x3F) << 6 | (p[i + 2] & 0x3F));
      if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF)) return false;
      i += 3;
    } else {
      return false;
    }
    c = Mirel::cp932_form(c);
    if (!is_stable(c)) {
      c = ascii_form(c);
      if (c == 0) return false;
    }
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    out.push_back(c);
  }
  return true;
}

UnicodeString cp932_forms(std::u16string_view text) {
  UnicodeString out(text);
  for (char16_t& c : out) c = Mirel::cp932_form(c);
  return out;
}

UnicodeString nfkc_lower_icu(std::u16string_view text) {
  const Icu& lib = icu();
  UnicodeString nfkc = icu_call(text, [&](char16_t* dst, int32_t cap, UErrorCode* st) {
    return lib.normalize(lib.nfkc, text.data(), static_cast<int32_t>(text.size()), dst, cap, st);
  });
  return icu_call(nfkc, [&](char16_t* dst, int32_t cap, UErrorCode* st) {
    return lib.to_lower(dst, cap, nfkc.data(), static_cast<int32_t>(nfkc.size()), "", st);
  });
}

}  // namespace

UnicodeString normalize_text(std::u16string_view text, TFieldKind kind) {
  bool stable = true;
  for (char16_t c : text) {
    c = Mirel::cp932_form(c);
    if (!is_stable(c) && ascii_form(c) == 0) {
      stable = false;
      break;
    }
  }
  if (!stable) return finish(code_points(nfkc_lower_icu(cp932_forms(text))), kind);
  // Every character is its own NFKC form or one ASCII character, and none
  // is a surrogate: the code points come straight from the code units.
  std::u32string folded;
  folded.reserve(text.size());
  for (char16_t c : text) {
    c = Mirel::cp932_form(c);
    if (const char16_t a = ascii_form(c)) c = a;
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    folded.push_back(c);
  }
  return finish(std::move(folded), kind);
}

std::u32string_view TFieldNormalizer::normalize(std::string_view utf8, TFieldKind kind) {
  text_.clear();
  if (!fold_simple_utf8(utf8, text_))
    text_ = code_points(nfkc_lower_icu(cp932_forms(Mirel::from_utf8(utf8))));
  fold(text_, kind);
  out_.clear();
  join_words(text_, [this](char32_t c, bool word_start) {
    out_.push_back(word_start ? c | kWordStartFlag : c);
  });
  return out_;
}

UnicodeString normalize_text_icu(std::u16string_view text, TFieldKind kind) {
  return finish(code_points(nfkc_lower_icu(cp932_forms(text))), kind);
}

bool contains_normalized(std::u16string_view text, std::u16string_view word) {
  // Compare without the marks; a word that starts with one needs one in the
  // text at the place it matches.
  const bool at_word_start = !word.empty() && word.front() == kWordStart;
  UnicodeString bare_word;
  for (char16_t c : word)
    if (c != kWordStart) bare_word.push_back(c);
  if (bare_word.empty()) return true;
  UnicodeString bare_text;
  std::vector<bool> starts;
  bool marked = false;
  for (char16_t c : text) {
    if (c == kWordStart) {
      marked = true;
      continue;
    }
    bare_text.push_back(c);
    starts.push_back(marked);
    marked = false;
  }
  for (size_t at = bare_text.find(bare_word); at != UnicodeString::npos;
       at = bare_text.find(bare_word, at + 1))
    if (!at_word_start || starts[at]) return true;
  return false;
}

std::string isbn_key(std::u16string_view text) {
  // Full-width letters and digits as ASCII, so that the label and the key
  // read alike in either width (NFKC would map them the same way).
  std::u16string plain(text);
  for (char16_t& c : plain)
    if (const char16_t a = ascii_form(c)) c = a;
  std::u16string_view rest = plain;
  auto skip = [&rest](auto is_skipped) {
    while (!rest.empty() && is_skipped(rest.front())) rest.remove_prefix(1);
  };
  auto is_space = [](char16_t c) { return c == u' ' || c == u'\t'; };
  skip(is_space);
  if (rest.size() >= 4 && Mirel::same_text_ascii_ci(rest.substr(0, 4), u"isbn")) {
    rest.remove_prefix(4);
    std::u16string_view label = rest;
    if (!label.empty() && (label.front() == u'-' || label.front() == u' ')) label.remove_prefix(1);
    // "-10" or "-13" is the label's only when a colon or a space follows
    // it: "ISBN-13: 978-..." but "ISBN4-10-..." and "ISBN-13-4" are all key.
    if (label.size() >= 3 && (label.substr(0, 2) == u"10" || label.substr(0, 2) == u"13") &&
        (label[2] == u':' || label[2] == u' '))
      rest = label.substr(2);
    skip([&is_space](char16_t c) { return is_space(c) || c == u':'; });
  }
  std::string key;
  for (char16_t c : rest) {
    if (c >= u'0' && c <= u'9') key.push_back(static_cast<char>(c));
    else if (c == u'x' || c == u'X') key.push_back('x');
  }
  return key;
}

std::string isbn_other_form(const std::string& key) {
  if (key.size() == 10 && all_digits(key, 0, 9) &&
      (all_digits(key, 9, 10) || key[9] == 'x')) {
    std::string twelve = "978" + key.substr(0, 9);
    return twelve + static_cast<char>('0' + isbn13_check(twelve));
  }
  if (key.size() == 13 && all_digits(key, 0, 13) && key.compare(0, 3, "978") == 0) {
    std::string nine = key.substr(3, 9);
    int check = isbn10_check(nine);
    return nine + (check == 10 ? 'x' : static_cast<char>('0' + check));
  }
  return {};
}

bool isbn_contains(const std::string& field_key, const std::string& key) {
  if (field_key.find(key) != std::string::npos) return true;
  const std::string other = isbn_other_form(field_key);
  return !other.empty() && other.find(key) != std::string::npos;
}

}  // namespace Mirelsearch_tlb::detail
