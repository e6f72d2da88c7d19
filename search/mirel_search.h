// The catalogue search component: Imirel_search and its implementation
// Tmirel_search (built in mirelsearch/, library mw_mirelsearch).
//
// Call order: add_keyword / add_range per condition, set_sort, set_flag;
// then, under the shared mutex: connect, open(alias), get_record_count,
// move_by, and per hit get_is_eof, the record getters, move_next; last
// close and disconnect. One hit is one live (not deleted) record of
// master.dbf; every condition narrows the result (conditions:
// search/conditions.h). Hits come in the order of the sort object, ties and
// the default order by ascending book id.
//
// Failures: a value-returning call (get_record_count, get_is_eof, move_by,
// the record getters) made when the search is not open throws EMirelSearch
// naming the call; so does a record getter, or a move_by by a positive
// count, once the cursor has passed the last hit, a move_by with a
// negative count (the cursor never moves back), and a status getter of a
// search opened with set_flag(false). open throws the database
// engine's error (unknown alias, missing table). All other calls never
// throw: calling them out of order does nothing harmful.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/unicode_string.h"
#include "search/book_cursor.h"
#include "search/conditions.h"
#include "search/kubun.h"

namespace Mirelsearch_tlb {

class Imirel_search {
 public:
  virtual ~Imirel_search() = default;

  // Conditions, before open. The objects are shared, and read at open.
  virtual void add_keyword(std::shared_ptr<Istring_keyword> keyword) = 0;
  virtual void add_range(std::shared_ptr<Istring_range> range) = 0;
  virtual void set_sort(std::shared_ptr<Isql_order> order) = 0;
  // Whether the hits carry their lending status and code names. true (the
  // start value, and what the web catalogue passes): open also reads
  // kasidasi.dbf, syozai.dbf and kkubun.dbf. false: open reads master.dbf
  // alone, and get_is_kasidasi, get_SYOZAI and get_kkubun throw. The flag
  // never changes which books are hits.
  virtual void set_flag(bool flag) = 0;

  // Running the search.
  virtual void connect(const UnicodeString& text) = 0;
  virtual void open(const UnicodeString& alias) = 0;
  virtual void close() = 0;
  virtual void disconnect() = 0;

  // The cursor. After open the current hit is the first.
  virtual int32_t get_record_count() = 0;
  // Moves forward by `count` hits, at most to just past the last one;
  // `moved` is the number of hits actually passed.
  virtual void move_by(int32_t count, int32_t& moved) = 0;
  virtual bool get_is_eof() = 0;
  // Steps one hit; at the end it stays there.
  virtual void move_next() = 0;

  // Fields of the current hit: the column's text, trailing blanks removed,
  // empty when blank. UKEIRE is a date as "yyyymmdd".
  virtual UnicodeString get_BOOKID() = 0;
  virtual UnicodeString get_SYOMEI() = 0;
  virtual UnicodeString get_SYOKANA() = 0;
  virtual UnicodeString get_CHOSYA() = 0;
  virtual UnicodeString get_CHOKANA() = 0;
  virtual UnicodeString get_SYUPAN() = 0;
  virtual UnicodeString get_SYUNEN() = 0;
  virtual UnicodeString get_ISBN() = 0;
  virtual UnicodeString get_PAGE() = 0;
  virtual UnicodeString get_OOKISA() = 0;
  virtual UnicodeString get_SEIKYU() = 0;
  virtual UnicodeString get_KENMEI() = 0;
  virtual UnicodeString get_NAIYO() = 0;
  virtual UnicodeString get_UKEIRE() = 0;
  virtual UnicodeString get_MEMO() = 0;
  // The price; 0 when blank.
  virtual int32_t get_KINGAKU() = 0;
  // On loan: kasidasi.dbf has a row for the book with a KA_HDATE.
  virtual bool get_is_kasidasi() = 0;
  // Missing: MS_TZENKAI blank and MS_TFMSUU not blank.
  virtual bool get_is_fumei() = 0;
  // The location (MS_SYOZAI with its name from syozai.dbf) and the lending
  // class (MS_KKUBUN with its name from kkubun.dbf); a new object per call.
  virtual std::shared_ptr<Ikubun> get_SYOZAI() = 0;
  virtual std::shared_ptr<Ikkubun> get_kkubun() = 0;
};

// Limits of the work of one search once the catalogue is current (bringing
// a cache up to date is not limited). 0 leaves a limit off.
struct TSearchBudget {
  // Wall-clock milliseconds from the start of the search: the SQL running
  // past them is interrupted and the call throws ESearchTimeout.
  int64_t wall_ms = 0;
  // CPU seconds the process may use from the start of the search on
  // (RLIMIT_CPU): the kernel ends a process that spins past them.
  int64_t cpu_seconds = 0;
};

class Tmirel_search;
namespace detail {
// The record numbers the search has read since it was last opened: from
// the index, from its set of hits, and walking the table. For tests that
// check what a search costs.
int64_t records_visited(const Tmirel_search& search);
// Replaces the clock of the time budget (nullptr: the steady clock again),
// so that tests can let a budget run out without waiting for it.
void set_search_clock_for_tests(std::function<std::chrono::steady_clock::time_point()> clock);
}  // namespace detail

// The search over the library's tables through the database engine. Its
// hits are also a book cursor (mirelsearch/book_cursor.cpp), read through
// the getters above.
class Tmirel_search : public Imirel_search, public Ibook_cursor {
 public:
  Tmirel_search();
  ~Tmirel_search() override;
  Tmirel_search(const Tmirel_search&) = delete;
  Tmirel_search& operator=(const Tmirel_search&) = delete;

  void add_keyword(std::shared_ptr<Istring_keyword> keyword) override;
  void add_range(std::shared_ptr<Istring_range> range) override;
  void set_sort(std::shared_ptr<Isql_order> order) override;
  void set_flag(bool flag) override;
  // The limits of the next open and of reading its hits.
  void set_budget(const TSearchBudget& budget);

  void connect(const UnicodeString& text) override;
  void open(const UnicodeString& alias) override;
  void close() override;
  void disconnect() override;

  int32_t get_record_count() override;
  void move_by(int32_t count, int32_t& moved) override;
  bool get_is_eof() override;
  void move_next() override;

  UnicodeString get_BOOKID() override;
  UnicodeString get_SYOMEI() override;
  UnicodeString get_SYOKANA() override;
  UnicodeString get_CHOSYA() override;
  UnicodeString get_CHOKANA() override;
  UnicodeString get_SYUPAN() override;
  UnicodeString get_SYUNEN() override;
  UnicodeString get_ISBN() override;
  UnicodeString get_PAGE() override;
  UnicodeString get_OOKISA() override;
  UnicodeString get_SEIKYU() override;
  UnicodeString get_KENMEI() override;
  UnicodeString get_NAIYO() override;
  UnicodeString get_UKEIRE() override;
  UnicodeString get_MEMO() override;
  int32_t get_KINGAKU() override;
  bool get_is_kasidasi() override;
  bool get_is_fumei() override;
  std::shared_ptr<Ikubun> get_SYOZAI() override;
  std::shared_ptr<Ikkubun> get_kkubun() override;

  int32_t book_count() override;
  int32_t skip_books(int32_t count) override;
  bool past_last_book() override;
  void next_book() override;
  UnicodeString book_text(Tbook_field field) override;
  int32_t book_price() override;
  UnicodeString book_location() override;
  bool on_loan() override;
  bool missing() override;
  bool not_for_loan() override;

 private:
  friend int64_t detail::records_visited(const Tmirel_search& search);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace Mirelsearch_tlb
