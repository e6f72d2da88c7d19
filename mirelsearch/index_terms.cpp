// Index terms as integers and record lists as varint deltas (index_terms.h).
#include "mirelsearch/index_terms.h"

#include <algorithm>
#include <stdexcept>

#include "mirelsearch/normalize.h"
#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {
namespace {

// Code points of a normalised column, each with whether it begins a Latin
// word; calls `each(code_point, word_start)` in order.
template <typename Each>
void for_each_code_point(std::u16string_view text, Each each) {
  bool mark = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c == kWordStart) {
      mark = true;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    each(c, mark);
    mark = false;
  }
}

char upper(char letter) { return static_cast<char>(letter - 'a' + 'A'); }

// Terms are built from bytes directly: kind, then 3 bytes per code point.
TTerm code_point_term(char kind, char32_t first) {
  return (TTerm{static_cast<unsigned char>(kind)} << 56) | (TTerm{first & 0xFFFFFF} << 32) | 4;
}
TTerm two_code_point_term(char kind, char32_t first, char32_t second) {
  return (TTerm{static_cast<unsigned char>(kind)} << 56) | (TTerm{first & 0xFFFFFF} << 32) |
         (TTerm{second & 0xFFFFFF} << 8) | 7;
}

}  // namespace

const std::vector<TIndexGroup>& index_groups() {
  // The letters are those of the keyword kinds that search text fields.
  static const std::vector<TIndexGroup> groups = {
      {'t', {"MS_SYOMEI", "MS_SYOKANA"}},
      {'a', {"MS_CHOSYA", "MS_CHOKANA"}},
      {'p', {"MS_SYUPAN"}},
      {'c', {"MS_KENMEI", "MS_NAIYO"}},
  };
  return groups;
}

int group_index(char letter) {
  const auto& groups = index_groups();
  for (size_t i = 0; i < groups.size(); ++i)
    if (groups[i].letter == letter) return static_cast<int>(i);
  return -1;
}

TTerm pack_term(std::string_view bytes) {
  if (bytes.size() > 7) throw std::length_error("index term longer than 7 bytes");
  TTerm term = 0;
  for (size_t i = 0; i < bytes.size(); ++i)
    term |= TTerm{static_cast<unsigned char>(bytes[i])} << (56 - 8 * i);
  return term | bytes.size();
}

std::string term_bytes(TTerm term) {
  std::string out;
  const size_t n = term & 0xFF;
  for (size_t i = 0; i < n && i < 7; ++i)
    out.push_back(static_cast<char>((term >> (56 - 8 * i)) & 0xFF));
  return out;
}

namespace {

// The terms of one column, the `column_number`-th of its group:
// `for_each(each)` calls `each(code_point, word_start)` in order.
template <typename ForEach>
void column_terms(char letter, uint32_t column_number, ForEach for_each,
                  std::vector<TTermAt>& out) {
  // Each column's positions start at its own base: a change of one column
  // leaves the positions of the others as they were.
  const char start = upper(letter);
  uint32_t pos = column_number << kColumnShift;
  const uint32_t limit = pos + kMaxColumnLength;
  // Each code point with the one after it (kEndOfColumn after the last),
  // never across two columns.
  char32_t previous = 0;
  bool previous_start = false, any = false;
  auto bigram = [&](char32_t next) {
    out.push_back({two_code_point_term(letter, previous, next), pos - 1});
    if (previous_start) out.push_back({two_code_point_term(start, previous, next), pos - 1});
  };
  for_each([&](char32_t c, bool word_start) {
    out.push_back({code_point_term(letter, c), 0});
    if (word_start) out.push_back({code_point_term(start, c), 0});
    if (any && pos <= limit) bigram(c);
    previous = c;
    previous_start = word_start;
    any = true;
    ++pos;
  });
  if (any && pos <= limit) bigram(kEndOfColumn);
}

}  // namespace

void add_group_terms(char letter, std::u16string_view text, std::vector<TTermAt>& out) {
  // (A group has two columns at most; a normalised text has no kColumnBreak.)
  for (uint32_t column_number = 0;; ++column_number) {
    const size_t end = text.find(kColumnBreak);
    const std::u16string_view column = text.substr(0, end);
    column_terms(letter, column_number,
                 [column](auto each) { for_each_code_point(column, each); }, out);
    if (end == std::u16string_view::npos) break;
    text.remove_prefix(end + 1);
  }
}

void add_column_terms(char letter, uint32_t column_number, std::u32string_view column,
                      std::vector<TTermAt>& out) {
  column_terms(letter, column_number,
               [column](auto each) {
                 for (char32_t c : column) each(c & ~kWordStartFlag, (c & kWordStartFlag) != 0);
               },
               out);
}

void add_isbn_terms(const std::string& key, std::vector<TTerm>& out) {
  auto add_form = [&out](const std::string& form) {
    // Padded at the end with 'z' so that every position starts a gram:
    // 'i' and kIsbnGramLength bytes, packed as pack_term packs them.
    for (size_t i = 0; i < form.size(); ++i) {
      TTerm term = TTerm{'i'} << 56 | (1 + kIsbnGramLength);
      for (size_t k = 0; k < kIsbnGramLength; ++k) {
        const char c = i + k < form.size() ? form[i + k] : 'z';
        term |= TTerm{static_cast<unsigned char>(c)} << (48 - 8 * k);
      }
      out.push_back(term);
    }
  };
  if (key.empty()) return;
  add_form(key);
  const std::string other = isbn_other_form(key);
  if (!other.empty()) add_form(other);
}

TWordTerms word_terms(char letter, std::u16string_view normalized_word) {
  std::vector<std::pair<char32_t, bool>> cps;
  for_each_code_point(normalized_word,
                      [&cps](char32_t c, bool word_start) { cps.emplace_back(c, word_start); });
  TWordTerms out;
  if (cps.empty()) return out;
  // Only the first code point's mark matters: the word must begin a word
  // of the text there; marks inside it are matched as plain code points.
  const char first_kind = cps[0].second ? upper(letter) : letter;
  if (cps.size() == 1) {
    out.terms.push_back(code_point_term(first_kind, cps[0].first));
    return out;
  }
  for (size_t i = 0; i + 1 < cps.size(); ++i)
    out.terms.push_back(two_code_point_term(i == 0 ? first_kind : letter, cps[i].first,
                                            cps[i + 1].first));
  if (cps.size() > 2) out.sequence = out.terms;
  std::sort(out.terms.begin(), out.terms.end());
  out.terms.erase(std::unique(out.terms.begin(), out.terms.end()), out.terms.end());
  out.exact = cps.size() == 2;
  return out;
}

TIsbnLookup isbn_lookup(const std::string& key) {
  TIsbnLookup out;
  if (key.empty()) return out;
  if (key.size() < kIsbnGramLength) {
    // Every gram that begins with the key: the key's bytes with any tail.
    out.low = pack_term("i" + key);
    std::string after = "i" + key;
    ++after.back();  // a digit or 'x': never the last byte value
    out.high = pack_term(after);
    return out;
  }
  // Grams that tile the key from its end: the field is checked against the
  // whole key afterwards, so the grams need only be few and selective.
  // None overlaps the 978/979 that begins nearly every ISBN-13 (its list of
  // records would be the whole catalogue), and at most two are taken: those
  // nearest the end, where the title number and check digit vary most (the
  // group and publisher codes at the start are shared by many books).
  const bool isbn13 = key.size() >= 3 + kIsbnGramLength &&
                      (key.compare(0, 3, "978") == 0 || key.compare(0, 3, "979") == 0);
  const size_t lowest = isbn13 ? 3 : 0;
  std::vector<size_t> starts;
  for (size_t p = key.size() - kIsbnGramLength; p > lowest;
       p = p >= kIsbnGramLength ? p - kIsbnGramLength : 0) {
    starts.push_back(p);
    if (p < lowest + kIsbnGramLength) break;
  }
  if (starts.empty() || starts.back() != lowest) starts.push_back(lowest);
  if (starts.size() > 2) starts.resize(2);
  for (size_t p : starts) out.grams.push_back(pack_term("i" + key.substr(p, kIsbnGramLength)));
  return out;
}

void append_varint(std::string& out, uint64_t value) {
  uint8_t bytes[10];
  const uint8_t* end = put_varint(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(end - bytes));
}

std::string encode_ids(const std::vector<int64_t>& ids) {
  std::string out;
  out.reserve(ids.size() * 2);
  int64_t previous = 0;
  for (int64_t id : ids) {
    append_varint(out, static_cast<uint64_t>(id - previous));
    previous = id;
  }
  return out;
}

namespace {

// Reads the varint at `at` in `blob`, moving `at` past it.
uint64_t read_varint(std::string_view blob, size_t& at) {
  uint64_t value = 0;
  for (int shift = 0; shift <= 63; shift += 7) {
    if (at >= blob.size()) throw EMirelSearch(u"検索索引の記録番号が途中で切れています");
    const auto byte = static_cast<unsigned char>(blob[at++]);
    value |= uint64_t{byte & 0x7Fu} << shift;
    if ((byte & 0x80) == 0) return value;
  }
  throw EMirelSearch(u"検索索引の記録番号が壊れています");
}

}  // namespace

void decode_ids(std::string_view blob, std::vector<int64_t>& out, bool positions,
                std::vector<TSpan>* spans) {
  int64_t previous = 0;
  size_t at = 0;
  while (at < blob.size()) {
    previous += static_cast<int64_t>(read_varint(blob, at));
    out.push_back(previous);
    if (!positions) continue;
    const size_t begin = at;
    // The positions are skipped: each varint ends in a byte below 0x80.
    uint64_t count = read_varint(blob, at);
    for (; count > 0; ++at) {
      if (at >= blob.size()) throw EMirelSearch(u"検索索引の位置が途中で切れています");
      if ((static_cast<unsigned char>(blob[at]) & 0x80) == 0) --count;
    }
    if (spans != nullptr) spans->push_back({static_cast<uint32_t>(begin), static_cast<uint32_t>(at)});
  }
}

uint8_t* put_positions(uint8_t* out, const uint32_t* positions, size_t count) {
  if (count == 1 && positions[0] <= ((uint32_t{1} << kColumnShift) | kColumnMask)) {
    // The common case, a bigram once in the record, in the first column or
    // the second.
    *out++ = 1;
    const uint32_t p = positions[0];
    return put_varint(out, p < (uint32_t{1} << kColumnShift) ? uint64_t{p} << 1
                                                              : (uint64_t{p & kColumnMask} + 1) << 1 | 1);
  }
  // The count of coded values first (a column passed over adds one), so
  // that decode_ids can step over them by their last bytes alone.
  size_t values = count;
  uint32_t column = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t c = positions[i] >> kColumnShift;
    if (c > column + 1) values += c - column - 1;
    column = c;
  }
  out = put_varint(out, values);
  column = 0;
  uint32_t previous = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint32_t p = positions[i];
    const uint32_t c = p >> kColumnShift;
    if (c == column) {
      out = put_varint(out, uint64_t{p - previous} << 1);
    } else {
      for (; column + 1 < c; ++column) *out++ = 1;  // a column without any
      column = c;
      out = put_varint(out, (uint64_t{p & kColumnMask} + 1) << 1 | 1);
    }
    previous = p;
  }
  return out;
}

void append_positions(std::string& out, const uint32_t* positions, size_t count) {
  uint8_t small[64];
  std::vector<uint8_t> large;
  const size_t most = max_positions_bytes(count);
  uint8_t* buffer = small;
  if (most > sizeof small) {
    large.resize(most);
    buffer = large.data();
  }
  const uint8_t* end = put_positions(buffer, positions, count);
  out.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(end - buffer));
}

void decode_positions(std::string_view bytes, std::vector<uint32_t>& out) {
  out.clear();
  size_t at = 0;
  uint64_t count = bytes.empty() ? 0 : read_varint(bytes, at);
  if (count > bytes.size()) throw EMirelSearch(u"検索索引の位置が壊れています");
  uint64_t pos = 0, column = 0;
  for (; count > 0; --count) {
    const uint64_t value = read_varint(bytes, at);
    if ((value & 1) == 0) {
      pos += value >> 1;
    } else {
      ++column;
      pos = column << kColumnShift;
      if (value == 1) continue;
      pos += (value >> 1) - 1;
    }
    if (pos > UINT32_MAX) throw EMirelSearch(u"検索索引の位置が壊れています");
    out.push_back(static_cast<uint32_t>(pos));
  }
}

bool positions_chain(const std::vector<const std::vector<uint32_t>*>& positions) {
  if (positions.empty()) return false;
  for (uint32_t p : *positions[0]) {
    bool all = true;
    for (size_t i = 1; i < positions.size() && all; ++i)
      all = std::binary_search(positions[i]->begin(), positions[i]->end(),
                               p + static_cast<uint32_t>(i));
    if (all) return true;
  }
  return false;
}

std::vector<int64_t> apply_changes(const std::vector<int64_t>& base,
                                   const std::vector<int64_t>& removed,
                                   const std::vector<int64_t>& added) {
  std::vector<int64_t> kept;
  if (removed.empty()) {
    kept = base;
  } else {
    kept.reserve(base.size());
    std::set_difference(base.begin(), base.end(), removed.begin(), removed.end(),
                        std::back_inserter(kept));
  }
  if (added.empty()) return kept;
  std::vector<int64_t> out;
  out.reserve(kept.size() + added.size());
  std::merge(kept.begin(), kept.end(), added.begin(), added.end(), std::back_inserter(out));
  return out;
}

}  // namespace Mirelsearch_tlb::detail
