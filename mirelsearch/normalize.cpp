// Normalisation and index tokens of the catalogue search. ICU is reached
// through dlopen: linking it would cost every CGI process its relocation
// and start-up even on pages that never search, so the library is mapped
// only when the first non-ASCII text has to be normalised.
#include "mirelsearch/normalize.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <vector>

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

bool all_stable(std::u16string_view text) {
  for (char16_t c : text)
    if (!is_stable(c) && ascii_form(c) == 0) return false;
  return true;
}

void fold_kana(UnicodeString& text) {
  for (char16_t& c : text) {
    if (c >= 0x30A1 && c <= 0x30F6) c = static_cast<char16_t>(c - 0x60);
    else if (c == 0x30FD || c == 0x30FE) c = static_cast<char16_t>(c - 0x60);
  }
}

constexpr char kBase36[] = "0123456789abcdefghijklmnopqrstuvwxyz";
constexpr uint32_t kEndMarker = 36 * 36 * 36 * 36 - 1;  // "zzzz", above U+10FFFF

void append_code_point(std::string& out, uint32_t cp) {
  char buf[4];
  for (int i = 3; i >= 0; --i) {
    buf[i] = kBase36[cp % 36];
    cp /= 36;
  }
  out.append(buf, 4);
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

UnicodeString normalize_text(std::u16string_view text) {
  if (!all_stable(text)) return normalize_text_icu(text);
  UnicodeString out(text);
  for (char16_t& c : out) {
    if (const char16_t a = ascii_form(c)) c = a;
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  fold_kana(out);
  return out;
}

UnicodeString normalize_text_icu(std::u16string_view text) {
  const Icu& lib = icu();
  UnicodeString nfkc = icu_call(text, [&](char16_t* dst, int32_t cap, UErrorCode* st) {
    return lib.normalize(lib.nfkc, text.data(), static_cast<int32_t>(text.size()), dst, cap, st);
  });
  UnicodeString out = icu_call(nfkc, [&](char16_t* dst, int32_t cap, UErrorCode* st) {
    return lib.to_lower(dst, cap, nfkc.data(), static_cast<int32_t>(nfkc.size()), "", st);
  });
  fold_kana(out);
  return out;
}

std::string isbn_key(std::u16string_view text) {
  std::string key;
  for (char16_t c : text) {
    // Full-width digits and X count as well; NFKC would map them the same way.
    if (c >= 0xFF10 && c <= 0xFF19) c = static_cast<char16_t>(c - 0xFF10 + u'0');
    if (c == 0xFF38 || c == 0xFF58) c = u'x';
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

std::string bigram_tokens(std::u16string_view normalized) {
  std::u32string cps = code_points(normalized);
  std::string out;
  out.reserve(cps.size() * 9);
  for (size_t i = 0; i < cps.size(); ++i) {
    if (i > 0) out.push_back(' ');
    append_code_point(out, cps[i]);
    append_code_point(out, i + 1 < cps.size() ? static_cast<uint32_t>(cps[i + 1]) : kEndMarker);
  }
  return out;
}

std::string bigram_query(std::u16string_view normalized_word) {
  std::u32string cps = code_points(normalized_word);
  if (cps.empty()) return {};
  std::string out = "\"";
  if (cps.size() == 1) {
    append_code_point(out, cps[0]);
    return out + "\"*";
  }
  for (size_t i = 0; i + 1 < cps.size(); ++i) {
    if (i > 0) out.push_back(' ');
    append_code_point(out, cps[i]);
    append_code_point(out, cps[i + 1]);
  }
  return out + "\"";
}

std::string unigram_tokens(char letter, const std::vector<std::u16string_view>& normalized) {
  std::u32string cps;
  for (std::u16string_view text : normalized) cps += code_points(text);
  std::sort(cps.begin(), cps.end());
  cps.erase(std::unique(cps.begin(), cps.end()), cps.end());
  std::string out;
  out.reserve(cps.size() * 6);
  for (char32_t cp : cps) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(letter);
    append_code_point(out, cp);
  }
  return out;
}

bool is_one_code_point(std::u16string_view normalized_word) {
  return code_points(normalized_word).size() == 1;
}

std::string unigram_query(char letter, std::u16string_view normalized_word) {
  std::u32string cps = code_points(normalized_word);
  if (cps.size() != 1) return {};
  std::string out = "\"";
  out.push_back(letter);
  append_code_point(out, cps[0]);
  return out + "\"";
}

std::string isbn_tokens(const std::string& key) {
  std::string out;
  auto add_form = [&out](const std::string& form) {
    const std::string padded = form + std::string(kIsbnGram - 1, 'z');
    for (size_t i = 0; i < form.size(); ++i) {
      if (!out.empty()) out.push_back(' ');
      out.push_back('i');
      out.append(padded, i, kIsbnGram);
    }
  };
  add_form(key);
  std::string other = isbn_other_form(key);
  if (!other.empty()) add_form(other);
  return out;
}

std::string isbn_query(const std::string& key) {
  if (key.empty()) return {};
  if (key.size() < kIsbnGram) return "\"i" + key + "\"*";
  // Grams that tile the key from its end: the field is checked against the
  // whole key afterwards, so the grams need only be few and selective.
  // None overlaps the 978/979 that begins nearly every ISBN-13 (its list of
  // records would be the whole catalogue), and at most two are taken: those
  // nearest the end, where the title number and check digit vary most (the
  // group and publisher codes at the start are shared by many books).
  const bool isbn13 = key.size() >= 3 + kIsbnGram &&
                      (key.compare(0, 3, "978") == 0 || key.compare(0, 3, "979") == 0);
  const size_t lowest = isbn13 ? 3 : 0;
  std::vector<size_t> starts;
  for (size_t p = key.size() - kIsbnGram; p > lowest; p = p >= kIsbnGram ? p - kIsbnGram : 0) {
    starts.push_back(p);
    if (p < lowest + kIsbnGram) break;
  }
  if (starts.empty() || starts.back() != lowest) starts.push_back(lowest);
  if (starts.size() > 2) starts.resize(2);
  std::string out;
  for (size_t p : starts) {
    if (!out.empty()) out += " AND ";
    out += "\"i";
    out.append(key, p, kIsbnGram);
    out += "\"";
  }
  return out;
}

bool isbn_contains(const std::string& field_key, const std::string& key) {
  if (field_key.find(key) != std::string::npos) return true;
  const std::string other = isbn_other_form(field_key);
  return !other.empty() && other.find(key) != std::string::npos;
}

}  // namespace Mirelsearch_tlb::detail
