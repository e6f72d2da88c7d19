// Turns the sample titles into the library's records: accession dates and
// book identifiers, call numbers, ISBNs, lending classes and locations, the
// state of the last stocktaking, loans, reservations and recommendations.
// Whatever varies between books without being worth writing down (the day
// of accession of an old book, a borrower's number) comes from a hash of
// the title, so the catalogue depends on `today` alone.
#include "dbase/sample_catalogue.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "dbase/catalogue_generator.h"
#include "dbase/sample_books.h"

namespace Mirel::Dbase {
namespace {

using Sample::TTitle;

// Days back from today of the new arrivals, in the order of the table.
constexpr int kNewArrivalDays[] = {0, 0, 0, 1, 1, 3, 3, 6, 8, 10, 13, 17, 24, 31, 38};
// Older books are accessioned at least this many days ago.
constexpr int kOldestNewArrival = 40;
// The last stocktaking, this many days ago.
constexpr int kStocktakingDaysAgo = 150;
// The library opened its doors this many days ago with its first collection.
constexpr int kLibraryAgeDays = 27 * 365;

// Days since 1970-01-01 and back (proleptic Gregorian calendar).
long long days_from_civil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

struct TCivil {
  long long year;
  unsigned month, day;
};

TCivil civil_from_days(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {static_cast<long long>(yoe) + era * 400 + (m <= 2), m, d};
}

std::string day_text(long long z) {
  const TCivil c = civil_from_days(z);
  char buf[48];
  std::snprintf(buf, sizeof(buf), "%04lld%02u%02u", c.year, c.month, c.day);
  return buf;
}

long long parse_today(const std::string& text) {
  const bool digits = text.size() == 8 && std::all_of(text.begin(), text.end(), [](char c) {
                        return c >= '0' && c <= '9';
                      });
  if (digits) {
    const long long z = days_from_civil(std::stoll(text.substr(0, 4)),
                                        static_cast<unsigned>(std::stoi(text.substr(4, 2))),
                                        static_cast<unsigned>(std::stoi(text.substr(6, 2))));
    if (day_text(z) == text) return z;
  }
  throw EDbaseError(u"日付 " + from_utf8(text) + u" は yyyymmdd 形式の日付ではありません");
}

// FNV-1a over the title and a salt, so that two facts of one book differ.
uint64_t hash_of(const TTitle& t, uint64_t salt) {
  uint64_t h = 1469598103934665603ull ^ salt;
  for (const char* p = t.syomei; *p; ++p) {
    h ^= static_cast<unsigned char>(*p);
    h *= 1099511628211ull;
  }
  h ^= static_cast<uint64_t>(t.year);
  h *= 1099511628211ull;
  return h ^ (h >> 29);
}

bool has(const TTitle& t, char flag) { return std::strchr(t.flags, flag) != nullptr; }

// First character (UTF-8) of a reading: the author mark of a call number.
std::string initial(const char* kana) {
  const std::string_view s(kana);
  if (s.empty()) return {};
  const unsigned char b = static_cast<unsigned char>(s[0]);
  const size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  return std::string(s.substr(0, std::min(len, s.size())));
}

// ISBN-13 with hyphens for the publisher's registrant element, or "" when
// the publisher has none or the book predates ISBNs in Japan (1981).
std::string isbn_for(const TTitle& t) {
  if (t.year < 1981) return {};
  const char* registrant = nullptr;
  for (size_t i = 0; i < Sample::kPublisherCodeCount; ++i)
    if (std::strcmp(Sample::kPublisherCodes[i].name, t.syupan) == 0)
      registrant = Sample::kPublisherCodes[i].registrant;
  if (!registrant) return {};
  const int item_digits = 8 - static_cast<int>(std::strlen(registrant));
  uint64_t modulus = 1;
  for (int i = 0; i < item_digits; ++i) modulus *= 10;
  char item[32];
  std::snprintf(item, sizeof(item), "%0*llu", std::clamp(item_digits, 1, 8),
                static_cast<unsigned long long>(hash_of(t, 1) % modulus));
  const std::string digits = std::string("9784") + registrant + item;
  return "978-4-" + std::string(registrant) + "-" + item + "-" + isbn13_check(digits);
}

struct TEntry {
  const TTitle* title;
  long long day;         // accession day
  bool second_copy;
  size_t original = 0;   // index in the entries of the first copy
  std::string bookid;
};

// Accession day of a book that is not a new arrival: a library that opened
// kLibraryAgeDays ago bought older books in its first years and newer ones
// within a year or so of publication.
long long accession_day(const TTitle& t, long long today) {
  const uint64_t h = hash_of(t, 2);
  const long long opening = today - kLibraryAgeDays + static_cast<long long>(h % 200);
  const long long published = days_from_civil(t.year, 4, 1);
  long long day = std::max(opening, published + 20 + static_cast<long long>((h >> 8) % 400));
  day = std::min(day, today - kOldestNewArrival - static_cast<long long>((h >> 16) % 30));
  // The missing book must have been on the shelves before the stocktaking.
  if (has(t, 'F')) day = std::min(day, today - kStocktakingDaysAgo - 30);
  return day;
}

TBook describe(const TEntry& e, long long today) {
  const TTitle& t = *e.title;
  TBook b;
  b.bookid = e.bookid;
  b.syomei = t.syomei;
  b.syokana = t.syokana;
  b.chosya = t.chosya;
  b.chokana = t.chokana;
  b.syupan = t.syupan;
  b.syunen = std::to_string(t.year);
  b.isbn = isbn_for(t);
  b.seikyu = std::string(t.ndc) + "/" + initial(t.chokana);
  b.kenmei = t.kenmei;
  if (t.pages > 0) b.page = std::to_string(t.pages) + (has(t, 'P') ? "枚" : "p");
  b.ookisa = t.ookisa;
  b.kingaku = std::to_string(t.price);
  if (!e.second_copy) {
    if (t.naiyo) b.naiyo = t.naiyo;
    if (t.memo) b.memo = t.memo;
  }
  b.skubun = has(t, 'V') ? "03" : has(t, 'P') ? "04" : "01";
  b.himoku = has(t, 'V') ? "03" : "01";
  b.kounyu = has(t, 'G') ? "02" : "01";
  b.kkubun = has(t, 'Q') || has(t, 'K') ? "02" : has(t, 'Z') ? "04" : has(t, 'S') ? "03" : "01";
  const std::string_view ndc(t.ndc);
  b.syozai = ndc.front() == 'K'                                        ? "004"
             : has(t, 'Q')                                             ? "003"
             : ndc == "E" || ndc == "紙" || has(t, 'J') || has(t, 'P') ? "002"
             : has(t, 'H')                                             ? "005"
                                                                       : "001";
  b.ukeire = day_text(e.day);
  b.toroku = b.ukeire;
  b.kosin = b.ukeire;
  const long long stocktaking = today - kStocktakingDaysAgo;
  if (e.day < stocktaking) {
    if (has(t, 'F') && !e.second_copy) {
      b.tfmsuu = "1";  // not found at the last stocktaking
    } else {
      b.tzenkai = day_text(stocktaking);
      b.tfmsuu = "0";
    }
  }
  return b;
}

}  // namespace

TLibraryBuilder sample_library(const std::string& today_text, TSampleSummary* summary) {
  const long long today = parse_today(today_text);
  TSampleSummary counts;

  std::vector<TEntry> entries;
  size_t new_arrivals = 0;
  for (size_t i = 0; i < Sample::kTitleCount; ++i) {
    const TTitle& t = Sample::kTitles[i];
    long long day;
    if (has(t, 'N') && new_arrivals < std::size(kNewArrivalDays))
      day = today - kNewArrivalDays[new_arrivals++];
    else
      day = accession_day(t, today);
    entries.push_back({&t, day, false, 0, {}});
    if (has(t, 'C')) {
      // The second copy came later, when the first one was much in demand.
      const long long later = day + 30 + static_cast<long long>(hash_of(t, 3) % 200);
      entries.push_back(
          {&t, std::min(later, today - kOldestNewArrival), true, entries.size() - 1, {}});
    }
  }
  // Identifiers rise with the accession day; books of one day keep the
  // order of the table.
  std::vector<size_t> order(entries.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return entries[a].day < entries[b].day; });
  for (size_t k = 0; k < order.size(); ++k)
    entries[order[k]].bookid = book_id(static_cast<long long>(k) + 1);

  TLibraryBuilder lib;
  int borrower = 0;
  auto next_borrower = [&] {
    char buf[16];
    std::snprintf(buf, sizeof(buf), "U%07d", 1203 + 37 * ++borrower);
    return std::string(buf);
  };
  for (size_t k : order) {
    const TEntry& e = entries[k];
    const TTitle& t = *e.title;
    TBook b = describe(e, today);
    if (e.second_copy) {
      b.fukuid = entries[e.original].bookid;
      ++counts.copies;
    }
    lib.add_book(b);
    ++counts.books;
    if (b.tzenkai.empty() && !b.tfmsuu.empty()) ++counts.missing;
    if (e.second_copy) continue;  // loans and lists concern the first copy

    const uint64_t h = hash_of(t, 4);
    const bool overdue = has(t, 'O');
    if (has(t, 'L') || overdue || has(t, 'Y') || has(t, 'W')) {
      const int loan_days = has(t, 'S') ? 7 : 14;
      long long lent = overdue ? today - loan_days - 3 - static_cast<long long>(h % 12)
                               : today - 1 - static_cast<long long>(h % 10);
      lent = std::max(lent, e.day);
      lib.add_loan(b.bookid, day_text(lent + loan_days), day_text(lent), next_borrower());
      ++counts.loans;
      counts.overdue += overdue;
      const int reservations = has(t, 'W') ? 2 : has(t, 'Y') ? 1 : 0;
      for (int r = 1; r <= reservations; ++r) {
        lib.add_reservation(b.bookid, day_text(std::min(today, lent + r + static_cast<long long>(h % 3))),
                            next_borrower(), r);
        ++counts.reservations;
      }
    } else if (has(t, 'T')) {
      // Returned a while ago; the loans table keeps the row without a due date.
      lib.add_loan(b.bookid, "", day_text(std::max(e.day, today - 45)), next_borrower());
    }
    if (has(t, 'C')) lib.add_copies(b.bookid, 2, has(t, 'L') || overdue ? 1 : 0);
    if (has(t, 'R')) {
      const long long chosen = std::max(e.day, today - static_cast<long long>(h % 30));
      lib.add_feature(b.bookid, day_text(chosen), "司書のおすすめ");
      ++counts.recommended;
    }
  }
  if (summary) *summary = counts;
  return lib;
}

TSampleSummary write_sample_catalogue(const std::string& dir, const std::string& today) {
  TSampleSummary summary;
  const TLibraryBuilder lib = sample_library(today, &summary);
  TWriteOptions dated;
  dated.year = std::stoi(today.substr(0, 4));
  dated.month = std::stoi(today.substr(4, 2));
  dated.day = std::stoi(today.substr(6, 2));
  lib.write(dir, false, dated);
  return summary;
}

}  // namespace Mirel::Dbase
