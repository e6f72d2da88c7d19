// The error log file and the shape of its lines.
#include "error/error_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace Mirel::MirelWeb {

TLocalTime system_local_time() {
  std::time_t now = std::time(nullptr);
  std::tm tm {};
  ::localtime_r(&now, &tm);
  return TLocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string format_log_line(const TLocalTime& when, std::string_view client_address,
                            std::u16string_view message) {
  char stamp[64];
  if (when.hour == 0 && when.minute == 0 && when.second == 0)
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d", when.year, when.month, when.day);
  else
    std::snprintf(stamp, sizeof stamp, "%04d/%02d/%02d %d:%02d:%02d", when.year, when.month,
                  when.day, when.hour, when.minute, when.second);

  std::string line = "[";
  line += stamp;
  line += "] [error] [client ";
  line += client_address;
  line += "] ";
  line += to_ansi(message);
  // Text from a request can reach the message: it must not start a line nor
  // hide in the file as a control character (NUL, escape sequences for a
  // terminal, ...). Code page 932 never uses these bytes inside a character.
  for (char& c : line)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  line += "\r\n";
  return line;
}

TErrorLog::TErrorLog(const std::string& path, TClock clock) : clock_(std::move(clock)) {
  // Readable by the owner and the file's group (a librarians' group that
  // owns a setgid log directory), not by every local user: the lines hold
  // visitors' addresses and what they searched for.
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
}

TErrorLog::~TErrorLog() {
  if (fd_ >= 0) ::close(fd_);
}

void TErrorLog::write(std::string_view client_address, std::u16string_view message) noexcept {
  if (fd_ < 0) return;
  try {
    write_line(format_log_line(clock_ ? clock_() : system_local_time(), client_address, message));
  } catch (...) {
    // Logging never adds a failure of its own.
  }
}

void TErrorLog::write_line(const std::string& line) noexcept {
  if (fd_ < 0) return;
  // O_APPEND with one write per line keeps lines of concurrent processes
  // whole; a write interrupted before anything was written is repeated.
  ssize_t r;
  do {
    r = ::write(fd_, line.data(), line.size());
  } while (r < 0 && errno == EINTR);
}

}  // namespace Mirel::MirelWeb
