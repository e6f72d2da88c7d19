// What the library system knows of one book beyond its catalogue record:
// the due date of its loan (kasidasi.dbf), the number of its reservations
// (yoyaku.dbf) and the name of its kind of material (MS_SKUBUN of
// master.dbf through skubun.dbf). Looked up by book id, so the same for
// every source of books; read only while the caller holds the database
// mutex, as every read of the library data is.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

class Ibook_holdings {
 public:
  virtual ~Ibook_holdings() = default;
  // The earliest KA_HDATE ("yyyymmdd") of the book's loans; empty when it
  // is not on loan.
  virtual UnicodeString due_date(const UnicodeString& bookid) = 0;
  // The number of the book's rows in yoyaku.dbf.
  virtual int32_t reservation_count(const UnicodeString& bookid) = 0;
  // SK_SKNAME of the book's MS_SKUBUN; empty when the book or the code is
  // unknown.
  virtual UnicodeString material_type(const UnicodeString& bookid) = 0;
};

// The lookups over the tables of a database alias. The tables are made
// current and attached at the first lookup; engine failures (unknown alias,
// missing table) are EDatabaseError and reach the caller.
class Tmwbook_holdings : public Ibook_holdings {
 public:
  explicit Tmwbook_holdings(const UnicodeString& alias);
  ~Tmwbook_holdings() override;
  Tmwbook_holdings(const Tmwbook_holdings&) = delete;
  Tmwbook_holdings& operator=(const Tmwbook_holdings&) = delete;

  UnicodeString due_date(const UnicodeString& bookid) override;
  int32_t reservation_count(const UnicodeString& bookid) override;
  UnicodeString material_type(const UnicodeString& bookid) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Mirel::MirelWeb
