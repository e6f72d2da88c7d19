// Condition and sort objects of the catalogue search component.
//
// A search is narrowed by keyword conditions (one per catalogue field kind),
// by range conditions (book id, accession date) and ordered by one sort
// object. These classes only hold what the caller set; the search object
// (search/mirel_search.h) reads them when it is opened, so a condition that
// is changed after add_keyword/add_range still counts with its last value.
// All objects are held through std::shared_ptr. Nothing here throws.
//
// Matching rules, applied by the search object:
//   * Mode 0 (the only mode; any other value behaves as 0): the keyword is
//     split into words at runs of U+0020 and U+3000; a book matches when
//     every word is a substring of at least one of the kind's columns. No
//     word at all matches every book. Both sides are compared normalised:
//     NFKC, lower case, katakana folded to hiragana.
//   * Columns per kind: book id MS_BOOKID; title MS_SYOMEI, MS_SYOKANA;
//     author MS_CHOSYA, MS_CHOKANA; publisher MS_SYUPAN; content MS_KENMEI,
//     MS_NAIYO; ISBN MS_ISBN compared on its digits and X only, where a
//     complete ISBN-10 also finds its ISBN-13 form and the reverse.
//   * Match 3 (book-id keyword): the whole keyword equals MS_BOOKID exactly
//     once trailing blanks are removed from both. Any other match value is
//     the word rule above.
//   * Keywords are literal text: '%', '_', quotes and backslashes match
//     themselves.
//   * A range keeps the books whose MS_BOOKID / MS_UKEIRE text lies between
//     the bounds, both included, by plain text comparison; an empty bound
//     leaves that side open.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/exception.h"
#include "platform/unicode_string.h"

namespace Mirelsearch_tlb {

using Mirel::Exception;
using Mirel::UnicodeString;

// Failures of the search component; the message names the failed call.
MIREL_DECLARE_EXCEPTION(EMirelSearch, Exception);
// A search stopped because it ran past its time budget (Tmirel_search::
// set_budget). Not a failure of the program: the visitor is asked to
// narrow the search.
MIREL_DECLARE_EXCEPTION(ESearchTimeout, EMirelSearch);

// ---------------------------------------------------------------- keywords

// Which catalogue field a keyword condition searches.
enum class Tkeyword_kind { bookid, syomei, chosya, syupan, isbn, content };

class Istring_keyword {
 public:
  virtual ~Istring_keyword() = default;
  virtual void set_mode(int32_t mode) = 0;
  virtual void set_match(int32_t match) = 0;
  virtual void set_keyword(const UnicodeString& text) = 0;
  // The text last given to set_keyword (empty before the first call).
  virtual UnicodeString get_keyword() const = 0;
  virtual int32_t get_mode() const = 0;
  virtual int32_t get_match() const = 0;
  virtual Tkeyword_kind get_kind() const = 0;
};

// The common holder behind the keyword classes; use the named kinds below.
class Tstring_keyword : public Istring_keyword {
 public:
  void set_mode(int32_t mode) override { mode_ = mode; }
  void set_match(int32_t match) override { match_ = match; }
  void set_keyword(const UnicodeString& text) override { keyword_ = text; }
  UnicodeString get_keyword() const override { return keyword_; }
  int32_t get_mode() const override { return mode_; }
  int32_t get_match() const override { return match_; }
  Tkeyword_kind get_kind() const override { return kind_; }

 protected:
  explicit Tstring_keyword(Tkeyword_kind kind) : kind_(kind) {}

 private:
  Tkeyword_kind kind_;
  int32_t mode_ = 0;
  int32_t match_ = 0;
  UnicodeString keyword_;
};

class Tkw_bookid : public Tstring_keyword {
 public:
  Tkw_bookid() : Tstring_keyword(Tkeyword_kind::bookid) {}
};
class Tkw_syomei_ex : public Tstring_keyword {
 public:
  Tkw_syomei_ex() : Tstring_keyword(Tkeyword_kind::syomei) {}
};
class Tkw_chosya_ex : public Tstring_keyword {
 public:
  Tkw_chosya_ex() : Tstring_keyword(Tkeyword_kind::chosya) {}
};
class Tkw_syupan : public Tstring_keyword {
 public:
  Tkw_syupan() : Tstring_keyword(Tkeyword_kind::syupan) {}
};
class Tkw_isbn : public Tstring_keyword {
 public:
  Tkw_isbn() : Tstring_keyword(Tkeyword_kind::isbn) {}
};
class Tkw_content : public Tstring_keyword {
 public:
  Tkw_content() : Tstring_keyword(Tkeyword_kind::content) {}
};

// ------------------------------------------------------------------ ranges

// Which column a range condition bounds.
enum class Trange_kind { bookid, ukeire };

class Istring_range {
 public:
  virtual ~Istring_range() = default;
  virtual void set_mode(int32_t mode) = 0;
  // Both bounds included; an empty bound leaves that side open.
  virtual void set_range(const UnicodeString& lower, const UnicodeString& upper) = 0;
  virtual UnicodeString get_lower() const = 0;
  virtual UnicodeString get_upper() const = 0;
  virtual int32_t get_mode() const = 0;
  virtual Trange_kind get_kind() const = 0;
};

class Tstring_range : public Istring_range {
 public:
  void set_mode(int32_t mode) override { mode_ = mode; }
  void set_range(const UnicodeString& lower, const UnicodeString& upper) override {
    lower_ = lower;
    upper_ = upper;
  }
  UnicodeString get_lower() const override { return lower_; }
  UnicodeString get_upper() const override { return upper_; }
  int32_t get_mode() const override { return mode_; }
  Trange_kind get_kind() const override { return kind_; }

 protected:
  explicit Tstring_range(Trange_kind kind) : kind_(kind) {}

 private:
  Trange_kind kind_;
  int32_t mode_ = 0;
  UnicodeString lower_, upper_;
};

class Trange_bookid : public Tstring_range {
 public:
  Trange_bookid() : Tstring_range(Trange_kind::bookid) {}
};
class Trange_ukeire : public Tstring_range {
 public:
  Trange_ukeire() : Tstring_range(Trange_kind::ukeire) {}
};

// -------------------------------------------------------------------- sort

// A sort order: a column name of master.dbf (letter case ignored; any other
// name is ignored by the search) and option 0 ascending, 1 descending (any
// value but 1 ascends). Ties are always broken by ascending book id.
class Isql_order {
 public:
  virtual ~Isql_order() = default;
  virtual void set_field_name(const UnicodeString& name) = 0;
  virtual void set_option(int32_t option) = 0;
  virtual UnicodeString get_field_name() const = 0;
  virtual int32_t get_option() const = 0;
};

class Tsql_order : public Isql_order {
 public:
  void set_field_name(const UnicodeString& name) override { field_name_ = name; }
  void set_option(int32_t option) override { option_ = option; }
  UnicodeString get_field_name() const override { return field_name_; }
  int32_t get_option() const override { return option_; }

 private:
  UnicodeString field_name_;
  int32_t option_ = 0;
};

}  // namespace Mirelsearch_tlb
