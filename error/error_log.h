// The error log: one line per logged failure, appended to a file that every
// running process shares ("Error.txt" in the current directory).
//
// Line format (code page 932 text, CR LF line end):
//   "[" yyyy/mm/dd " " H:MM:SS "] [error] [client " address "] " message
// The time is local, hours without a leading zero; at exactly 0:00:00 the
// space and the time are left out. Control characters (C0 and DEL, CR and LF
// among them) inside the address or the message become spaces, so one
// failure is always exactly one plain line. A new file is mode 0640.
//
// Each line is written with a single write() on a descriptor opened with
// O_APPEND, so lines of concurrent processes never interleave. Logging never
// fails on its own: a log that could not be opened, or a write that fails,
// loses the line and nothing else.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// A local date and time, as the log writes it.
struct TLocalTime {
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0, second = 0;
};

// Where the log takes the current local time from; tests pin it.
using TClock = std::function<TLocalTime()>;
TLocalTime system_local_time();

// One whole log line, line end included, as the bytes that go to the file.
std::string format_log_line(const TLocalTime& when, std::string_view client_address,
                            std::u16string_view message);

class TErrorLog {
 public:
  // Opens (creates) `path` for appending. A file that cannot be opened
  // leaves the log failed: every later write does nothing.
  explicit TErrorLog(const std::string& path, TClock clock = system_local_time);
  ~TErrorLog();
  TErrorLog(const TErrorLog&) = delete;
  TErrorLog& operator=(const TErrorLog&) = delete;

  bool is_open() const { return fd_ >= 0; }
  void set_clock(TClock clock) { clock_ = std::move(clock); }

  // Formats one line with the current time and appends it. Never throws.
  void write(std::string_view client_address, std::u16string_view message) noexcept;
  // Appends one whole line (bytes, line end included) with a single write.
  void write_line(const std::string& line) noexcept;

 private:
  int fd_ = -1;
  TClock clock_;
};

}  // namespace Mirel::MirelWeb
