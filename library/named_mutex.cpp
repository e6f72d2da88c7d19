// The named mutex as a flock(2) lock on a file in the temporary-files
// directory. A busy lock is waited for with a blocking flock that the kernel
// wakes the moment the holder lets go; the deadline interrupts it with a
// timer signal, so the wait never runs past the wait time.
#include "library/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <csignal>
#include <sys/time.h>

#include "config/mw_settings.h"
#include "platform/exception.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

namespace {

[[noreturn]] void fail_open(const std::string& path, int error) {
  throw Exception(u"排他制御用のファイル'" + from_ansi(path) + u"'を開けません(" +
                  from_ansi(std::strerror(error)) + u")");
}

// Creates the file with mode 0666 or opens the one that is there. O_EXCL
// and O_NOFOLLOW keep a symbolic link at the path from being followed;
// O_NONBLOCK keeps a FIFO planted there from blocking the open. Read access
// is enough for flock, so a lock file of another user with mode 0644 works.
int open_lock_file(const std::string& path) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0) {
      // The umask narrowed the mode; every user of the program must be able
      // to open the file. A failure here does not stop this process.
      (void)::fchmod(fd, 0666);
      return fd;
    }
    if (errno == EINTR) continue;
    if (errno != EEXIST) fail_open(path, errno);
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) return fd;
    // Removed between the two calls: create it again.
    if (errno == ENOENT || errno == EINTR) continue;
    fail_open(path, errno);
  }
  fail_open(path, ENOENT);
}

}  // namespace

TNamedMutex::TNamedMutex(const std::string& name, const std::string& directory) {
  std::string dir = directory.empty() ? to_ansi(temp_path()) : directory;
  if (dir.back() != '/') dir += '/';
  path_ = dir + name;
  fd_ = open_lock_file(path_);
  struct stat st{};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd_);
    fd_ = -1;
    fail_open(path_, error);
  }
}

TNamedMutex::~TNamedMutex() { close(); }

bool TNamedMutex::wait(uint32_t timeout_ms) {
  if (fd_ < 0) return false;
  if (held_) return true;
  for (;;) {
    if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
      held_ = true;
      return true;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return false;
    break;
  }
  if (timeout_ms == 0) return false;

  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  // SIGALRM without SA_RESTART makes the blocking flock return EINTR. The
  // timer repeats after its first expiry, so a signal that arrives just
  // before flock blocks is followed by another one.
  struct sigaction interrupt {}, saved {};
  interrupt.sa_handler = [](int) {};
  sigemptyset(&interrupt.sa_mask);
  ::sigaction(SIGALRM, &interrupt, &saved);
  sigset_t alarm_only, saved_mask;
  sigemptyset(&alarm_only);
  sigaddset(&alarm_only, SIGALRM);
  ::sigprocmask(SIG_UNBLOCK, &alarm_only, &saved_mask);
  itimerval timer{}, saved_timer{};
  timer.it_value.tv_sec = timeout_ms / 1000;
  timer.it_value.tv_usec = static_cast<suseconds_t>(timeout_ms % 1000) * 1000;
  timer.it_interval.tv_usec = 5000;
  ::setitimer(ITIMER_REAL, &timer, &saved_timer);

  bool obtained = false;
  for (;;) {
    if (::flock(fd_, LOCK_EX) == 0) {
      obtained = true;
      break;
    }
    if (errno != EINTR || Clock::now() >= deadline) break;
  }

  const itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  ::sigaction(SIGALRM, &saved, nullptr);
  ::sigprocmask(SIG_SETMASK, &saved_mask, nullptr);
  held_ = obtained;
  return obtained;
}

void TNamedMutex::release() {
  if (!held_) return;
  held_ = false;
  (void)::flock(fd_, LOCK_UN);
}

void TNamedMutex::close() {
  release();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace Mirel::MirelWeb
