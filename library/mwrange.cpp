// The value ranges of the new-arrivals search: the two table-based kinds,
// read under the named mutex, and the calendar kind.
#include "library/mwrange.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "database/database.h"
#include "library/db_reader.h"
#include "library/named_mutex.h"
#include "platform/exception.h"

namespace Mirel::MirelWeb {

namespace {

namespace chr = std::chrono;

UnicodeString format_yyyymmdd(const chr::year_month_day& date) {
  const int y = static_cast<int>(date.year());
  const unsigned m = static_cast<unsigned>(date.month());
  const unsigned d = static_cast<unsigned>(date.day());
  UnicodeString out(8, u'0');
  for (int i = 3, v = y; i >= 0; --i, v /= 10) out[i] = static_cast<char16_t>(u'0' + v % 10);
  out[4] = static_cast<char16_t>(u'0' + m / 10);
  out[5] = static_cast<char16_t>(u'0' + m % 10);
  out[6] = static_cast<char16_t>(u'0' + d / 10);
  out[7] = static_cast<char16_t>(u'0' + d % 10);
  return out;
}

}  // namespace

// ----------------------------------------------------------------- Tmwrange

Tmwrange::Tmwrange(int32_t count, const UnicodeString& field_name, const UnicodeString& sql)
    : count_(count),
      field_name_(field_name),
      session_(detail::make_session(kNewBookSessionName)),
      query_(detail::make_query(kNewBookSessionName, sql)) {}

Tmwrange::~Tmwrange() {
  try {
    close_database();
  } catch (...) {
    // Closing is best effort here; the request has its answer already.
  }
}

void Tmwrange::set_bounds(const UnicodeString& a, const UnicodeString& b) {
  lower_ = a;
  upper_ = b;
  // std::u16string compares code unit by code unit, unsigned.
  if (upper_ < lower_) std::swap(lower_, upper_);
}

void Tmwrange::close_database() {
  try {
    detail::close_query(*query_);
  } catch (...) {
    session_->close();
    throw;
  }
  session_->close();
}

void Tmwrange::fetch(uint32_t wait_ms, const UnicodeString& private_dir,
                     const UnicodeString& database_name) {
  TNamedMutex mutex(kMirelWebMutexName, mutex_directory_);
  if (!mutex.wait(wait_ms, TLockMode::shared)) {
    mutex.close();
    throw EMutexTimeout();
  }
  // From here the mutex is held; it is released by `mutex` on every path,
  // after the query and the session are closed.
  try {
    session_->open(private_dir);
    detail::open_query(*query_, database_name);
    if (field_name_.empty()) throw Exception(u"範囲取得対象のフィールド名が空文字列です");
    if (!query_->has_field(field_name_))
      throw Exception(u"範囲取得対象のフィールド'" + field_name_ + u"'がみつかりません");
    // An empty result has no current row: its columns read as empty text.
    // A move past the end leaves the cursor on the last row.
    const UnicodeString newest = query_->field_as_string(field_name_);
    if (count_ >= 2) query_->move_by(count_ - 1);
    const UnicodeString oldest = query_->field_as_string(field_name_);
    set_bounds(oldest, newest);
  } catch (...) {
    try {
      close_database();
    } catch (...) {
      // The first failure is the one to report.
    }
    throw;
  }
  close_database();
}

Tmwrange_ukeire::Tmwrange_ukeire(int32_t count)
    : Tmwrange(count, u"MS_UKEIRE",
               u"select MS_UKEIRE from 'master.dbf' group by MS_UKEIRE order by MS_UKEIRE DESC") {}

Tmwrange_bookid::Tmwrange_bookid(int32_t count)
    : Tmwrange(count, u"MS_BOOKID",
               u"select MS_BOOKID from 'master.dbf' group by MS_BOOKID order by MS_BOOKID DESC") {}

// ------------------------------------------------------- the calendar kind

TLocalDate local_today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) return {};
  return {local.tm_year + 1900, static_cast<unsigned>(local.tm_mon + 1),
          static_cast<unsigned>(local.tm_mday)};
}

Tmwrange_ukeire_day::Tmwrange_ukeire_day(int32_t count, std::function<TLocalDate()> today)
    : Tmwrange(count, {}, {}), today_(today ? std::move(today) : local_today) {}

void Tmwrange_ukeire_day::fetch(uint32_t, const UnicodeString&, const UnicodeString&) {
  const TLocalDate t = today_();
  const chr::sys_days today{chr::year{t.year} / chr::month{t.month} / chr::day{t.day}};
  // The first bound is count - 1 days back (for a negative count that is
  // forward). Computed in 64 bits and kept within the years 0000 to 9999
  // so that every count, however large, gives an eight-digit date.
  const int64_t back = count() == 0 ? 0 : int64_t{count()} - 1;
  const int64_t lowest = chr::sys_days{chr::year{0} / 1 / 1}.time_since_epoch().count();
  const int64_t highest = chr::sys_days{chr::year{9999} / 12 / 31}.time_since_epoch().count();
  const int64_t first_day =
      std::clamp<int64_t>(today.time_since_epoch().count() - back, lowest, highest);
  const chr::sys_days first{chr::days{first_day}};
  set_bounds(format_yyyymmdd(chr::year_month_day{first}),
             format_yyyymmdd(chr::year_month_day{today}));
}

}  // namespace Mirel::MirelWeb
