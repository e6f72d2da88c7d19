// Tmwnewbook, the new-arrivals holder of one request: the caption of the
// link to the new-arrivals list and the value range (accession dates or book
// identifiers ending at the newest value) that bounds the new-arrivals
// search. The template's SETUP tag fills it; the "/newbook" action fetches
// the range and hands its bounds to the catalogue search.
//
// Range kinds (set_type):
//   1  Tmwrange_ukeire      the newest `count` distinct accession dates
//   2  Tmwrange_ukeire_day  the last `count` calendar days up to today
//   3  Tmwrange_bookid      the newest `count` distinct book identifiers
//   any other value: kind 0, a Tmwrange_ukeire whose count stays 0 (the
//   newest accession date alone).
//
// A new holder has no range until set_type is called; has_range() tells.
// lower(), upper() and fetch() on a holder without a range throw
// Mirel::Exception; fetch lets the range's own failures through
// (EMutexTimeout, engine errors; library/mwrange.h). Held by the web module
// through a shared_ptr; owns its range through a shared_ptr.
#pragma once

#include <cstdint>
#include <memory>

#include "library/mwrange.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

class Tmwnewbook {
 public:
  Tmwnewbook() = default;

  void set_caption(const UnicodeString& text) { caption_ = text; }
  const UnicodeString& caption() const { return caption_; }

  // Replaces the range by a new one of kind `type` (see above) with count 0.
  void set_type(int32_t type);
  int32_t range_type() const { return range_type_; }

  // The range's count becomes `size`, or 0 for kind 0. No effect without a
  // range.
  void set_range_size(int32_t size);

  bool has_range() const { return static_cast<bool>(range_); }
  const std::shared_ptr<Tmwrange>& range() const { return range_; }

  UnicodeString lower() const;
  UnicodeString upper() const;
  // Fetches the range's bounds (library/mwrange.h): under the named mutex
  // with at most `wait_ms` of waiting, for the table-based kinds.
  void fetch(uint32_t wait_ms, const UnicodeString& private_dir,
             const UnicodeString& database_name);

 private:
  const Tmwrange& checked_range() const;

  UnicodeString caption_;
  int32_t range_type_ = 0;
  // The count every new range starts with.
  int32_t initial_count_ = 0;
  std::shared_ptr<Tmwrange> range_;
};

}  // namespace Mirel::MirelWeb
