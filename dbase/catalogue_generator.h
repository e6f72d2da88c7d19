// A synthetic library catalogue: all ten tables of library_schema.h with N
// books of realistic Japanese contents, for the sample site, manual testing
// and benchmarks. The output depends only on the options: the same options
// give the same bytes (every table header carries `today` as its date).
//
// What it contains, so that searches and pages have something to find:
//   * titles, readings (katakana), authors and their readings, publishers,
//     subjects and NDC call numbers ("913.6/ナ", picture books "E/ア",
//     local history "K210/ヤ"), page counts, sizes, prices, editions;
//   * ISBNs with valid check digits: ISBN-13 with hyphens for books
//     published from 2007, ISBN-10 before, about one book in twenty none;
//   * accession dates from 30 years before `today` up to `today` itself, in
//     batches (many books share a day), rising with the book id;
//   * contents (MS_NAIYO memo) for about a fifth of the books, memo notes
//     for a few, duplicate copies (MS_FUKUID and fukuhon rows), about 1 %
//     deleted records, a few books missing at stocktaking (MS_TZENKAI blank,
//     MS_TFMSUU set), lending classes including 禁帯出 and 貸出禁止;
//   * loans (a few overdue, a few returned with a blank due date),
//     reservations (some books with two), and `features` recommended ids.
#pragma once

#include <cstdint>
#include <string>

namespace Mirel::Dbase {

struct TCatalogueOptions {
  long long books = 1000;
  uint64_t seed = 1;
  std::string today = "20250331";  // "yyyymmdd": the newest accession date
  int features = 10;
  bool upper_case = false;  // MASTER.DBF instead of master.dbf
};

struct TCatalogueSummary {
  long long books = 0;  // master records written (deleted ones included)
  long long deleted = 0;
  long long loans = 0;         // kasidasi rows
  long long reservations = 0;  // yoyaku rows
  long long features = 0;
};

// Writes the ten tables into `dir` (which must exist). Throws EDbaseError
// for bad options (a `today` that is not a date, a negative count) or a file
// that cannot be written.
TCatalogueSummary generate_catalogue(const std::string& dir, const TCatalogueOptions& options);

// ISBN helpers (digits only, no hyphens): the check character of the first
// 12 digits of an ISBN-13 / 9 digits of an ISBN-10 ('X' for 10).
char isbn13_check(std::string_view first12);
char isbn10_check(std::string_view first9);

}  // namespace Mirel::Dbase
