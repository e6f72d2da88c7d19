// The titles of the sample catalogue (private to sample_catalogue.cpp): one
// row per title as a cataloguer would describe it, with letters that say
// how the sample library holds it. Dates and identifiers are not here: the
// catalogue places them relative to the day it is written.
#pragma once

#include <cstddef>

namespace Mirel::Dbase::Sample {

// Letters of TTitle::flags:
//   N  new arrival (accessioned within the last weeks, newest first in the table)
//   R  recommended by the librarians (feature.dbf)
//   L  on loan, due in the coming days       O  on loan and overdue
//   Y  on loan with one reservation          W  on loan with two reservations
//   T  a returned loan still in the loans table (blank due date)
//   F  missing at the last stocktaking
//   K  禁帯出 (not for loan)   Z  貸出禁止   S  短期貸出 (short loan)
//   Q  reference corner (implies 禁帯出)    J  children's shelf
//   H  closed stacks                       G  donated
//   V  audio-visual material                P  紙芝居 (picture-story show)
//   C  the library holds a second copy
// The location follows from the letters and the class: picture books ("E")
// and J are on the children's shelf, local history ("K...") in the local
// history room, Q in the reference corner, H in the closed stacks.
struct TTitle {
  const char* syomei;   // title
  const char* syokana;  // its reading, katakana
  const char* chosya;   // author(s) as catalogued
  const char* chokana;  // reading: "family,given", several joined by "／"
  const char* syupan;   // publisher
  int year;             // year of publication
  const char* ndc;      // class part of the call number: "913.6", "E", "K210", "R813.1"
  const char* kenmei;   // subject heading ("" for most fiction)
  int pages;            // 0: not given
  const char* ookisa;   // size
  int price;            // yen
  const char* flags;
  const char* naiyo = nullptr;  // contents note
  const char* memo = nullptr;   // librarian's note
};

extern const TTitle kTitles[];
extern const size_t kTitleCount;

struct TPublisherCode {
  const char* name;
  const char* registrant;  // ISBN registrant element after 978-4
};

extern const TPublisherCode kPublisherCodes[];
extern const size_t kPublisherCodeCount;

}  // namespace Mirel::Dbase::Sample
