// The system-wide named mutex through which every running copy of the
// program takes its turn at the library data.
//
// A named mutex is an exclusive flock(2) lock on a file of that name in the
// temporary-files directory ("/tmp/MirelWebMutex" by default). Every process
// opens the same file, so they all share one lock. The file is created if
// missing, with mode 0666 whatever the umask (so that processes of different
// users can share it), it is never deleted, and a symbolic link at its path
// is refused rather than followed.
//
// Contract:
//   * The constructor creates or opens the lock file; it never takes the
//     lock. It throws Mirel::Exception naming the file when the file cannot
//     be created or opened (a symbolic link, a directory, no permission).
//   * wait(timeout_ms) returns true when the lock is obtained, false when
//     the wait time passed (or the lock call failed). It returns the
//     moment the lock becomes free (it blocks in
//     the kernel; a timer signal, SIGALRM, ends it at the deadline).
//     Waiters get the lock in the order they began to wait: each draws a
//     number from the file "<name>.ticket" and holds the lock of a file
//     "<name>.<number>" beside the lock file while it waits and holds
//     (removed when it lets go). wait(0) only tries, out of turn.
//   * The kernel drops the lock of a process that ends, however it ends, so
//     a holder that crashed never leaves the mutex unusable.
//   * The lock belongs to this object's open file: a second TNamedMutex of
//     the same name, even in the same process, waits for the first one.
//   * release() gives the lock up (no effect when not held); close() also
//     closes the file. The destructor does both. Not copyable.
#pragma once

#include <cstdint>
#include <string>

#include "platform/exception.h"

namespace Mirel::MirelWeb {

// Raised by a holder that did not obtain the mutex within its wait time
// (Tmwrange::fetch); the message is empty.
MIREL_DECLARE_EXCEPTION(EMutexTimeout, Exception);

// The mutex that guards every access to the library data.
inline constexpr const char* kMirelWebMutexName = "MirelWebMutex";

class TNamedMutex {
 public:
  // `directory` is where the lock file lives; empty means the
  // temporary-files directory (TMPDIR when set and not empty, else /tmp).
  explicit TNamedMutex(const std::string& name = kMirelWebMutexName,
                       const std::string& directory = {});
  ~TNamedMutex();
  TNamedMutex(const TNamedMutex&) = delete;
  TNamedMutex& operator=(const TNamedMutex&) = delete;

  // Waits at most `timeout_ms` milliseconds for the lock; 0 tries once.
  bool wait(uint32_t timeout_ms);
  void release();
  void close();

  bool is_held() const { return held_; }
  const std::string& path() const { return path_; }

 private:
  void leave_queue();

  std::string path_;
  int fd_ = -1;
  int node_fd_ = -1;  // this waiter's place in the queue, while it waits or holds
  std::string node_path_;
  bool held_ = false;
};

}  // namespace Mirel::MirelWeb
