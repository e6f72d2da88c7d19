// Ibook_cursor: the one way the pages read books, whichever source holds
// them. The catalogue search component (its hits) and the recommended-books
// source (its rows) both implement it, so the list tags, the row tags and
// the record tags never ask which source they read.
//
// Contract:
//   * book_count: the number of books of the open result.
//   * skip_books(n): moves forward from the current book (never backwards;
//     the search component refuses a negative count, the recommended-books
//     source advances by its absolute value); returns the books passed.
//   * past_last_book: true once the cursor has moved past the last book.
//   * next_book: one book on; at the end it stays there.
//   * book_text(field): the text of a field of the current book, empty when
//     blank; book_price the price (0 when blank); book_location the name of
//     the location.
//   * on_loan, missing, not_for_loan: the three lending tests, asked one by
//     one so that callers decide their order (each may fail on its own, and
//     the first failure is the one reported).
// Every call fails as the source's own call fails (a closed search, a
// cursor past the end, an engine error); nothing is translated.
#pragma once

#include <cstdint>

#include "platform/unicode_string.h"

namespace Mirelsearch_tlb {

using Mirel::UnicodeString;

// The text fields every source offers.
enum class Tbook_field {
  bookid, syomei, syokana, chosya, chokana, syupan, syunen, isbn,
  page, ookisa, seikyu, kenmei, naiyo, ukeire, memo,
};

class Ibook_cursor {
 public:
  virtual ~Ibook_cursor() = default;

  virtual int32_t book_count() = 0;
  virtual int32_t skip_books(int32_t count) = 0;
  virtual bool past_last_book() = 0;
  virtual void next_book() = 0;

  virtual UnicodeString book_text(Tbook_field field) = 0;
  virtual int32_t book_price() = 0;
  virtual UnicodeString book_location() = 0;
  virtual bool on_loan() = 0;
  virtual bool missing() = 0;
  virtual bool not_for_loan() = 0;
};

}  // namespace Mirelsearch_tlb
