#include "error/error_log.h"

#include <fcntl.h>
#include <unistd.h>

namespace Mirel::MirelWeb {

TErrorLog::TErrorLog(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
}

TErrorLog::~TErrorLog() {
  if (fd_ >= 0) ::close(fd_);
}

void TErrorLog::write_line(const std::string& line) {
  if (fd_ < 0) return;
  // O_APPEND with one write per line keeps lines of concurrent processes whole.
  ssize_t r = ::write(fd_, line.data(), line.size());
  (void)r;  // logging never adds a failure of its own
}

}  // namespace Mirel::MirelWeb
