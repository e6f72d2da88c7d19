// The active data source of the book tags: the catalogue search when an
// action has put one into the web module, otherwise the recommended-books
// source, otherwise none. A Trecord_source is made afresh for each tag, so
// the choice always follows the module's current members.
//
// It owns nothing: it reads through the module's shared pointers, which
// outlive it. Without a source every reading call must not be made (test
// with operator bool first). Failures of the sources (a read from a closed
// search, an engine error) pass through unchanged.
#pragma once

#include <cstdint>

#include "platform/unicode_string.h"

namespace Mirelsearch_tlb {
class Imirel_search;
}

namespace Mirel::MirelWeb {

class TWebMain;
class Tmwrecommenddb;

// The text fields of a record that both sources offer.
enum class Trecord_field {
  bookid, syomei, syokana, chosya, chokana, syupan, syunen, isbn,
  page, ookisa, seikyu, kenmei, naiyo, ukeire, memo,
};

class Trecord_source {
 public:
  explicit Trecord_source(const TWebMain& module);

  explicit operator bool() const { return search_ != nullptr || recommend_ != nullptr; }

  int32_t record_count() const;
  bool is_eof() const;
  // Moves forward from the current record; returns the records passed.
  int32_t move_by(int32_t count);
  void next();

  UnicodeString text(Trecord_field field) const;
  int32_t kingaku() const;
  // The name of the location.
  UnicodeString syozai() const;
  bool is_kasidasi() const;
  bool is_fumei() const;
  // The lending class forbids lending.
  bool is_kinsi() const;

 private:
  Mirelsearch_tlb::Imirel_search* search_ = nullptr;
  Tmwrecommenddb* recommend_ = nullptr;
};

}  // namespace Mirel::MirelWeb
