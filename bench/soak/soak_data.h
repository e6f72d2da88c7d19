// The catalogue of the soak test, shared by its driver (mirelweb-soak) and
// its writer (mirelweb-soak-writer): what book number N looks like and which
// books are on loan in each generation of the loans table, so that either
// side can tell what a page must show.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "dbase/library_builder.h"

namespace soak {

// Book N: title "Soak book 000N" (six digits), so that the title search
// "soak" finds every book and a row's title names its own id.
inline std::string soak_title(long long id) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "Soak book %06lld", id);
  return buf;
}

inline Mirel::Dbase::TBook soak_book(long long id) {
  Mirel::Dbase::TBook b;
  b.bookid = Mirel::Dbase::book_id(id);
  b.syomei = soak_title(id);
  b.chosya = "Author " + std::to_string(id % 50);
  b.syupan = "Publisher " + std::to_string(id % 7);
  b.ukeire = "20240401";
  b.naiyo = "Contents of book " + std::to_string(id);
  return b;
}

// The loans of generation g: among the first 300 books (and no more than
// `books`), those whose id leaves the remainder g mod 11.
inline std::vector<long long> loans_of_generation(int g, long long books) {
  std::vector<long long> ids;
  for (long long id = 1; id <= books && id <= 300; ++id)
    if (id % 11 == g % 11) ids.push_back(id);
  return ids;
}

}  // namespace soak
