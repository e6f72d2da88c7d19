// The named mutex as a flock(2) lock, shared or exclusive, on a file in the
// temporary-files directory. A busy lock is waited for with a blocking flock
// that the kernel wakes the moment the holder lets go; the deadline
// interrupts it with a timer signal, so the wait never runs past the wait
// time. Waiters are let in in the order they came (see join_queue).
#include "library/named_mutex.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "config/mw_settings.h"
#include "platform/exception.h"
#include "platform/integer.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

namespace {

// What an administrator does about a lock file the program may not use.
constexpr const char16_t* kRemedy =
    u"。このファイルを削除するか、Web サーバーのユーザーだけが書き込めるディレクトリを "
    u"TMPDIR に指定してください";

[[noreturn]] void refuse(const std::string& path, const UnicodeString& reason,
                         const char16_t* remedy = kRemedy) {
  throw Exception(u"排他制御用のファイル'" + from_ansi(path) + u"'を使えません(" + reason + u")" +
                  remedy);
}

[[noreturn]] void refuse_errno(const std::string& path, int error) {
  if (error == ENOENT) {
    refuse(path, from_ansi(std::strerror(error)),
           u"。ディレクトリを作成してください(所有者は Web サーバーのユーザー、モード 0700)");
  }
  refuse(path, from_ansi(std::strerror(error)));
}

std::string octal(unsigned mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", mode & 07777);
  return text;
}

// Another user must not be able to put a file of their own at the path: the
// directory is writable only by its owner (and group), or sticky like /tmp,
// where a file can be removed or renamed only by its owner.
// Returns the directory's owner.
uid_t check_directory(const std::string& dir, const std::string& path) {
  struct stat st{};
  if (::stat(dir.c_str(), &st) != 0) refuse_errno(path, errno);
  if ((st.st_mode & S_IWOTH) != 0 && (st.st_mode & S_ISVTX) == 0) {
    refuse(path, u"ディレクトリ'" + from_ansi(dir) + u"'は誰でも書き込めます(モード " +
                     from_ansi(octal(st.st_mode)) + u")",
           u"。chmod +t でスティッキービットを付けるか、Web サーバーのユーザーだけが書き込める"
           u"ディレクトリを TMPDIR に指定してください");
  }
  return st.st_uid;
}

// A file found at the path is used only when no other user can hold its
// lock, rewrite it or have it stand for another file; a file of this user
// that others may open (as older versions made it) is narrowed first.
// Root (a maintenance hold run from cron) also takes the file of the lock
// directory's owner, the web server's user, which made it on a request.
void check_existing(int fd, const std::string& path, uid_t directory_owner) {
  struct stat st{};
  if (::fstat(fd, &st) != 0) refuse_errno(path, errno);
  if (!S_ISREG(st.st_mode)) refuse(path, u"通常のファイルではありません");
  if (st.st_nlink != 1) refuse(path, u"ハードリンクされたファイルです");
  const uid_t me = ::geteuid();
  const bool trusted = st.st_uid == me || st.st_uid == 0 || (me == 0 && st.st_uid == directory_owner);
  if (!trusted)
    refuse(path, u"他のユーザー(uid " + from_ansi(std::to_string(st.st_uid)) + u")のファイルです");
  if ((st.st_mode & 0007) != 0) {
    if (st.st_uid != me || ::fchmod(fd, st.st_mode & 0770) != 0)
      refuse(path, u"他のユーザーが開けるモード " + from_ansi(octal(st.st_mode)) + u" です");
  }
}

// Creates the file (mode 0600 whatever the umask) or opens the one that is
// there and checks it. O_EXCL and O_NOFOLLOW keep a symbolic link at the
// path from being followed; O_NONBLOCK keeps a FIFO planted there from
// blocking the open (it is then refused as not a regular file).
int open_lock_file(const std::string& dir, const std::string& path) {
  const uid_t directory_owner = check_directory(dir, path);
  for (int attempt = 0; attempt < 16; ++attempt) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK,
                    0600);
    if (fd >= 0) {
      (void)::fchmod(fd, 0600);  // a umask such as 0277 must not lock out the next process
      return fd;
    }
    if (errno == EINTR) continue;
    if (errno != EEXIST) refuse_errno(path, errno);
    fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      try {
        check_existing(fd, path, directory_owner);
      } catch (...) {
        ::close(fd);
        throw;
      }
      return fd;
    }
    // Removed between the two calls: create it again.
    if (errno == ENOENT || errno == EINTR) continue;
    if (errno == ELOOP) refuse(path, u"シンボリックリンクです");
    refuse_errno(path, errno);
  }
  refuse_errno(path, ENOENT);
}

}  // namespace

TNamedMutex::TNamedMutex(const std::string& name, const std::string& directory) {
  std::string dir = directory.empty() ? to_ansi(temp_path()) : directory;
  if (dir.empty()) dir = "/";
  if (dir.back() != '/') dir += '/';
  path_ = dir + name;
  fd_ = open_lock_file(dir, path_);
}

TNamedMutex::~TNamedMutex() { close(); }

namespace {

using Clock = std::chrono::steady_clock;

// While alive, a repeating SIGALRM (without SA_RESTART) makes a blocking
// lock call return EINTR, so a wait can look at its deadline; the timer
// repeats after its first expiry, so a signal that arrives just before
// the call blocks is followed by another one.
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

  // Repeats a blocking lock call interrupted by the timer until it succeeds
  // (true) or the deadline passes or it fails otherwise (false).
  template <typename Call>
  bool until_deadline(Call call) const {
    for (;;) {
      if (call() == 0) return true;
      if (errno != EINTR || Clock::now() >= deadline_) return false;
    }
  }

 private:
  Clock::time_point deadline_;
  struct sigaction saved_action_ {};
  sigset_t saved_mask_{};
};

// Waiters queue up in arrival order. flock alone wakes every waiter when
// the lock is let go and the fastest one (often a request that has only
// just arrived) takes it, and a new shared lock is granted beside the
// readers that hold it however long a writer has been waiting. So each
// waiter draws a number from the counter in the lock file's first 8 bytes
// (under a lock of byte 0), holds the lock of byte `kFirstPlace + number`,
// and waits until every place before its own is free before it asks for
// the mutex itself. A reader gives its place up once it holds the mutex, so
// the next one in line follows at once; a writer keeps its place until it
// has let go of the mutex, so everyone behind it waits, and it waits for the
// readers before it in flock. These are open file description locks
// (F_OFD_SETLK): like flock they belong to the open file, so they vanish
// with a process that dies or a waiter that gives up (the one behind it then
// looks at the places before it again), and no file is made per waiter. The
// mutex alone keeps writers and readers apart; the queue only orders them,
// and when it cannot be used the mutex is waited for directly.
constexpr off_t kCounterGuard = 0;
constexpr off_t kFirstPlace = 1;
// Numbers stay far below the largest offset.
constexpr uint64_t kNumberMask = (uint64_t{1} << 62) - 1;

// Locks (or unlocks) `count` places from `first`; count 0 means every place
// from `first` on.
int range_lock(int fd, short type, uint64_t first, uint64_t count, bool wait) {
  struct flock range{};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = kFirstPlace + static_cast<off_t>(first);
  range.l_len = static_cast<off_t>(count);
  return ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range);
}

int guard_lock(int fd, short type, bool wait) {
  struct flock guard{};
  guard.l_type = type;
  guard.l_whence = SEEK_SET;
  guard.l_start = kCounterGuard;
  guard.l_len = 1;
  return ::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &guard);
}

// Draws the next number of the queue and locks its place; -1 when the
// queue cannot be used.
int64_t join_queue(int fd, const TDeadlineAlarm& alarm) {
  if (!alarm.until_deadline([&] { return guard_lock(fd, F_WRLCK, true); })) return -1;
  unsigned char bytes[8] = {};
  uint64_t next = 0;
  if (::pread(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes))
    for (int i = 7; i >= 0; --i) next = next << 8 | bytes[i];
  next &= kNumberMask;
  uint64_t after = (next + 1) & kNumberMask;
  for (unsigned char& b : bytes) b = static_cast<unsigned char>(after), after >>= 8;
  int64_t number = -1;
  // The place is locked before the number is given out, so a successor
  // always finds it taken.
  if (range_lock(fd, F_WRLCK, next, 1, false) == 0) {
    if (::pwrite(fd, bytes, sizeof bytes, 0) == static_cast<ssize_t>(sizeof bytes))
      number = static_cast<int64_t>(next);
    else
      (void)range_lock(fd, F_UNLCK, next, 1, false);
  }
  (void)guard_lock(fd, F_UNLCK, false);
  return number;
}

// Waits until no one who drew a number before `number` still holds a
// place: they have all had their turn, or are readers already in, or gave
// up. A lock of all those places at once, taken and let go at once.
bool wait_for_predecessors(int fd, int64_t number, const TDeadlineAlarm& alarm) {
  if (number == 0) return true;
  const auto count = static_cast<uint64_t>(number);
  if (!alarm.until_deadline([&] { return range_lock(fd, F_WRLCK, 0, count, true); })) return false;
  (void)range_lock(fd, F_UNLCK, 0, count, false);
  return true;
}

// Whether someone holds a place in the queue: a writer waiting or holding,
// or a reader on its way in.
bool queue_taken(int fd) {
  struct flock probe{};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  probe.l_start = kFirstPlace;
  probe.l_len = 0;
  if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
  return probe.l_type != F_UNLCK;
}

// A test build lets MIRELWEB_TEST_MUTEX_WAIT_MS shorten every wait (see the
// header); any other build waits what it is asked to.
uint32_t wait_time(uint32_t asked) {
#ifdef MIRELWEB_TEST_HOOKS
  if (const char* text = std::getenv("MIRELWEB_TEST_MUTEX_WAIT_MS"))
    if (const auto ms = text_to_int(std::string_view(text)); ms && *ms >= 0)
      return std::min(asked, static_cast<uint32_t>(*ms));
#endif
  return asked;
}

}  // namespace

void TNamedMutex::leave_queue() {
  if (place_ < 0) return;
  (void)range_lock(fd_, F_UNLCK, static_cast<uint64_t>(place_), 1, false);
  place_ = -1;
}

bool TNamedMutex::wait(uint32_t timeout_ms, TLockMode mode) {
  if (fd_ < 0) return false;
  if (held_) return mode_ == mode;
  const int operation = mode == TLockMode::shared ? LOCK_SH : LOCK_EX;
  timeout_ms = wait_time(timeout_ms);
  if (timeout_ms == 0) {
    // A reader does not slip in ahead of a writer that waits in line.
    if (mode == TLockMode::shared && queue_taken(fd_)) return false;
    for (;;) {
      if (::flock(fd_, operation | LOCK_NB) == 0) {
        mode_ = mode;
        return held_ = true;
      }
      if (errno != EINTR) return false;
    }
  }
  const TDeadlineAlarm alarm(timeout_ms);
  place_ = join_queue(fd_, alarm);
  if (place_ > 0 && !wait_for_predecessors(fd_, place_, alarm)) {
    leave_queue();
    return false;
  }
  held_ = alarm.until_deadline([&] { return ::flock(fd_, operation); });
  mode_ = mode;
  // A writer keeps its place until it lets go; a reader lets the next one in.
  if (!held_ || mode == TLockMode::shared) leave_queue();
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

bool TNamedMutex::give_to(uid_t uid, gid_t gid) {
  return fd_ >= 0 && ::fchown(fd_, uid, gid) == 0;
}

void TNamedMutex::close() {
  release();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace Mirel::MirelWeb
