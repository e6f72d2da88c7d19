// Value ranges that end at the newest value in the library: the bounds of
// the new-arrivals search.
//
// Irange holds two bounds with lower <= upper (plain comparison of the
// 16-bit code units). Tmwrange fills them by fetch():
//   * Tmwrange_ukeire / Tmwrange_bookid read master.dbf through the
//     database engine, newest first: the upper bound is the newest distinct
//     MS_UKEIRE (MS_BOOKID), the lower bound the count-th newest, or the
//     oldest when the table has fewer; a count of 1 or less gives the
//     newest alone; an empty table gives two empty bounds. The read runs
//     under the named mutex "MirelWebMutex" (library/named_mutex.h).
//   * Tmwrange_ukeire_day is a calendar window of `count` days that ends
//     today ("yyyymmdd"): count 0 is today alone; a negative count -k runs
//     from today to the day k + 1 days later. Neither the mutex nor the
//     database is used.
//
// Failures of fetch: EMutexTimeout (named_mutex.h) when the mutex is not
// obtained within wait_ms, with nothing opened and the bounds unchanged;
// Mirel::Exception naming the lock file when that file cannot be opened;
// Mirel::Exception for an empty field name or a column the result lacks;
// the engine's EDatabaseError for an unknown alias, a missing table, bad
// SQL. On every failure after the mutex was obtained the query and session
// are closed and the mutex released before the exception leaves.
// A range owns its session and query (shared_ptr); destroying it closes
// both and ignores failures.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/unicode_string.h"

namespace Mirel::Database {
class TSession;
class TQuery;
}  // namespace Mirel::Database

namespace Mirel::MirelSearch {

template <class T>
class Irange {
 public:
  virtual T lower() const = 0;
  virtual T upper() const = 0;
  // Stores a as lower and b as upper, exchanged when b < a.
  virtual void set_bounds(const T& a, const T& b) = 0;
  // (lower, upper).
  virtual std::pair<T, T> bounds() const = 0;
  virtual ~Irange() = default;
};

}  // namespace Mirel::MirelSearch

namespace Mirel::MirelWeb {

// The session name under which the range queries run.
inline constexpr const char16_t* kNewBookSessionName = u"MirelWebNewBook";

class Tmwrange : public Mirel::MirelSearch::Irange<UnicodeString> {
 public:
  UnicodeString lower() const override { return lower_; }
  UnicodeString upper() const override { return upper_; }
  void set_bounds(const UnicodeString& a, const UnicodeString& b) override;
  std::pair<UnicodeString, UnicodeString> bounds() const override { return {lower_, upper_}; }
  ~Tmwrange() override;

  // Fills the bounds; see the file comment. `private_dir` (empty: keep the
  // temporary-files directory) and `database_name` (empty: keep "MirelWin")
  // go to the session and the query.
  virtual void fetch(uint32_t wait_ms, const UnicodeString& private_dir,
                     const UnicodeString& database_name);

  int32_t count() const { return count_; }
  void set_count(int32_t count) { count_ = count; }
  const UnicodeString& field_name() const { return field_name_; }
  // Where the lock file of the mutex lives; empty (the default) is the
  // temporary-files directory. For tests.
  void set_mutex_directory(const std::string& directory) { mutex_directory_ = directory; }

  Tmwrange(const Tmwrange&) = delete;
  Tmwrange& operator=(const Tmwrange&) = delete;

 protected:
  // Creates and configures the session and the query (nothing is opened);
  // an empty `sql` leaves the query without SQL text.
  Tmwrange(int32_t count, const UnicodeString& field_name, const UnicodeString& sql);

 private:
  void close_database();

  int32_t count_;
  UnicodeString field_name_;
  UnicodeString lower_;
  UnicodeString upper_;
  std::shared_ptr<Mirel::Database::TSession> session_;
  std::shared_ptr<Mirel::Database::TQuery> query_;
  std::string mutex_directory_;
};

// The newest `count` distinct accession dates.
class Tmwrange_ukeire : public Tmwrange {
 public:
  explicit Tmwrange_ukeire(int32_t count);
};

// The newest `count` distinct book identifiers.
class Tmwrange_bookid : public Tmwrange {
 public:
  explicit Tmwrange_bookid(int32_t count);
};

// A local calendar date.
struct TLocalDate {
  int year = 1970;
  unsigned month = 1;
  unsigned day = 1;
};
// Today's date in the local time zone.
TLocalDate local_today();

// The last `count` calendar days up to today.
class Tmwrange_ukeire_day : public Tmwrange {
 public:
  // `today` is the date source (tests pin a date); empty means local_today.
  explicit Tmwrange_ukeire_day(int32_t count, std::function<TLocalDate()> today = {});
  void fetch(uint32_t wait_ms, const UnicodeString& private_dir,
             const UnicodeString& database_name) override;

 private:
  std::function<TLocalDate()> today_;
};

}  // namespace Mirel::MirelWeb
