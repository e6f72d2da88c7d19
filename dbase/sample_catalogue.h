// The sample catalogue of the demonstration site: about two hundred
// well-known books of a small public library (the fictional 緑川市立図書館),
// written as the ten dBASE tables the web catalogue reads.
//
//   Mirel::Dbase::write_sample_catalogue(dir, "20250331");
//
// Unlike the synthetic generator (catalogue_generator.h), every title here
// is a real book with its reading, authors, publisher, year, NDC call
// number and subject; ISBNs are ISBN-13 with valid check digits. The
// library holds them in five locations under four lending classes (禁帯出
// and 貸出禁止 forbid lending), lends some (a few overdue, a few reserved),
// misses one at stocktaking (MS_TZENKAI blank, MS_TFMSUU set) and
// recommends about ten (feature.dbf).
//
// Dates are relative to `today` ("yyyymmdd"), so that the new-arrivals
// page has something to show whichever kind of range a template asks for:
// books were accessioned today, yesterday, 3, 6, 8, 10 and 13 days ago and
// a few weeks back (kTodayNewArrivals and friends below); everything else
// at least 40 days before. Book identifiers rise with the accession date.
// The same `today` always gives the same files.
#pragma once

#include <string>

#include "dbase/library_builder.h"

namespace Mirel::Dbase {

// How many books were accessioned on `today` itself, within the last 14
// days (today included) and within the three newest accession dates.
inline constexpr int kSampleAccessionedToday = 3;
inline constexpr int kSampleAccessionedIn14Days = 11;
inline constexpr int kSampleInNewestThreeDates = 7;

struct TSampleSummary {
  int books = 0;         // master records (second copies included)
  int copies = 0;        // second copies (MS_FUKUID set)
  int loans = 0;         // books on loan
  int overdue = 0;       // of which past their due date
  int reservations = 0;  // yoyaku rows
  int missing = 0;       // missing at stocktaking
  int recommended = 0;   // feature rows
};

// The sample library in a builder, for callers that add to it. Throws
// EDbaseError when `today` is not a date "yyyymmdd".
TLibraryBuilder sample_library(const std::string& today, TSampleSummary* summary = nullptr);

// Writes the ten tables into `dir` (which must exist), every table header
// dated `today`. Throws EDbaseError for a bad date or a file that cannot be
// written.
TSampleSummary write_sample_catalogue(const std::string& dir, const std::string& today);

}  // namespace Mirel::Dbase
