// The named mutex as a flock(2) lock on a file in the temporary-files
// directory. A busy lock is waited for with a blocking flock that the kernel
// wakes the moment the holder lets go; the deadline interrupts it with a
// timer signal, so the wait never runs past the wait time. Waiters take
// their turns in the order they came (see join_queue).
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

namespace {

using Clock = std::chrono::steady_clock;

// While alive, a repeating SIGALRM (without SA_RESTART) makes a blocking
// flock return EINTR, so a wait can look at its deadline; the timer
// repeats after its first expiry, so a signal that arrives just before
// flock blocks is followed by another one.
class TDeadlineAlarm {
 public:
  explicit TDeadlineAlarm(uint32_t timeout_ms)
      : deadline_(Clock::now() + std::chrono::milliseconds(timeout_ms)) {
    struct sigaction interrupt {};
    interrupt.sa_handler = [](int) {};
    sigemptyset(&interrupt.sa_mask);
    ::sigaction(SIGALRM, &interrupt, &saved_action_);
    sigset_t alarm_only;
    sigemptyset(&alarm_only);
    sigaddset(&alarm_only, SIGALRM);
    ::sigprocmask(SIG_UNBLOCK, &alarm_only, &saved_mask_);
    itimerval timer{};
    timer.it_value.tv_sec = timeout_ms / 1000;
    timer.it_value.tv_usec = static_cast<suseconds_t>(timeout_ms % 1000) * 1000;
    timer.it_interval.tv_usec = 5000;
    ::setitimer(ITIMER_REAL, &timer, nullptr);
  }
  ~TDeadlineAlarm() {
    const itimerval off{};
    ::setitimer(ITIMER_REAL, &off, nullptr);
    ::sigaction(SIGALRM, &saved_action_, nullptr);
    ::sigprocmask(SIG_SETMASK, &saved_mask_, nullptr);
  }
  TDeadlineAlarm(const TDeadlineAlarm&) = delete;
  TDeadlineAlarm& operator=(const TDeadlineAlarm&) = delete;

  // Takes the exclusive lock of `fd`; false when the deadline passed first.
  bool lock(int fd) const {
    for (;;) {
      if (::flock(fd, LOCK_EX) == 0) return true;
      if (errno != EINTR || Clock::now() >= deadline_) return false;
    }
  }

 private:
  Clock::time_point deadline_;
  struct sigaction saved_action_ {};
  sigset_t saved_mask_{};
};

// Opens (or creates, mode 0666 whatever the umask) a file of the queue.
int open_queue_file(const std::string& path, int access) {
  const int fd = ::open(path.c_str(), access | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd >= 0) (void)::fchmod(fd, 0666);  // fails harmlessly on another user's file
  return fd;
}

}  // namespace

// Waiters queue up in arrival order. flock alone wakes every waiter when
// the lock is let go and the fastest one (often a request that has only
// just arrived) takes it, so under load an unlucky request could wait
// many turns. Each waiter draws a number from "<name>.ticket", holds the
// lock of its own file "<name>.<number>", and waits for the lock of its
// predecessor's file before it asks for the mutex itself: the holder lets
// go of the mutex, then of its file, and exactly the next in line wakes.
// A waiter that dies or gives up drops its file's lock like a holder (a
// file left by one that died is left behind, empty). The
// mutex alone keeps holders apart; the queue only orders them, and when
// its files cannot be used the mutex is waited for directly.
namespace {

// Draws the next number of the queue of the mutex at `path` and makes and
// locks the waiter's own file (`node_fd`, `node_path`); -1 when the queue
// cannot be used.
int64_t join_queue(const std::string& path, const TDeadlineAlarm& alarm, int& node_fd,
                   std::string& node_path) {
  const int ticket_fd = open_queue_file(path + ".ticket", O_RDWR);
  if (ticket_fd < 0) return -1;
  int64_t number = -1;
  if (alarm.lock(ticket_fd)) {
    unsigned char bytes[8] = {};
    uint64_t next = 0;
    if (::pread(ticket_fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes))
      for (int i = 7; i >= 0; --i) next = next << 8 | bytes[i];
    next &= INT64_MAX;
    uint64_t after = next + 1;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(after), after >>= 8;
    // The own file is made and locked before the number is given out, so a
    // successor always finds it.
    const std::string own = path + "." + std::to_string(next);
    const int node = open_queue_file(own, O_RDONLY);
    if (node >= 0 && ::flock(node, LOCK_EX | LOCK_NB) == 0 &&
        ::pwrite(ticket_fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes)) {
      node_fd = node;
      node_path = own;
      number = static_cast<int64_t>(next);
    } else if (node >= 0) {
      ::close(node);
    }
    (void)::flock(ticket_fd, LOCK_UN);
  }
  ::close(ticket_fd);
  return number;
}

// Waits until the waiter with `number` has had its turn (or given up).
bool wait_for_predecessor(const std::string& path, int64_t number, const TDeadlineAlarm& alarm) {
  const std::string node = path + "." + std::to_string(number);
  const int fd = ::open(node.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return true;  // removed: its waiter is done or letting go
  const bool turn = alarm.lock(fd);
  ::close(fd);
  return turn;
}

}  // namespace

// The own file is removed before its lock is dropped: a successor that has
// it open wakes on the unlock, one that has not yet opened it finds it
// gone; either way it goes on. (Its owner removes it, as the temporary
// directory lets only the owner of a file remove it.)
void TNamedMutex::leave_queue() {
  if (node_fd_ < 0) return;
  (void)::unlink(node_path_.c_str());
  (void)::flock(node_fd_, LOCK_UN);
  ::close(node_fd_);
  node_fd_ = -1;
}

bool TNamedMutex::wait(uint32_t timeout_ms) {
  if (fd_ < 0) return false;
  if (held_) return true;
  if (timeout_ms == 0) {
    for (;;) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return held_ = true;
      if (errno != EINTR) return false;
    }
  }
  const TDeadlineAlarm alarm(timeout_ms);
  const int64_t number = join_queue(path_, alarm, node_fd_, node_path_);
  if (number > 0 && !wait_for_predecessor(path_, number - 1, alarm)) {
    leave_queue();
    return false;
  }
  held_ = alarm.lock(fd_);
  if (!held_) leave_queue();
  return held_;
}

void TNamedMutex::release() {
  if (held_) {
    held_ = false;
    (void)::flock(fd_, LOCK_UN);
  }
  // After the mutex, so that the next in line finds it free.
  leave_queue();
}

void TNamedMutex::close() {
  release();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace Mirel::MirelWeb
