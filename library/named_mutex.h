// The system-wide named mutex through which every running copy of the
// program takes its turn at the library data.
//
// A named mutex is an exclusive flock(2) lock on one file of that name in
// the temporary-files directory ("/tmp/MirelWebMutex" by default). Every
// process opens the same file, so they all share one lock. The file is the
// only one: the queue of waiters (below) lives in byte-range locks on that
// same file, so no process ever leaves a file behind, however it ends, and
// the kernel drops every lock of a process that ends.
//
// The file belongs to the web server's user: it is created with
// O_CREAT|O_EXCL|O_NOFOLLOW and mode 0600, and a file already at its path is
// used only when it is a regular file with no other name (no hard link),
// owned by this process's user or by root, and openable by no one outside
// its owner and group (a file of this user that others may open is narrowed
// to 0600 first). The directory must not let other users replace the file
// (not writable by others, or sticky like /tmp). Anything else throws an
// Exception whose message names the file and what to do about it, so a local
// user without the web server's rights can neither hold the lock nor rewrite
// or replace the file.
//
// Contract:
//   * The constructor creates or opens the lock file; it never takes the
//     lock. It throws Mirel::Exception as described above.
//   * wait(timeout_ms) returns true when the lock is obtained, false when
//     the wait time passed (or the lock call failed). It returns the
//     moment the lock becomes free (it blocks in the kernel; a timer
//     signal, SIGALRM, ends it at the deadline). Waiters get the lock in
//     the order they began to wait: each draws a number from a counter kept
//     in the file's first bytes and holds a byte-range lock (an open file
//     description lock) on its own place in the file while it waits and
//     holds. wait(0) only tries, out of turn.
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
  int64_t place_ = -1;  // this waiter's number in the queue, while it waits or holds
  bool held_ = false;
};

}  // namespace Mirel::MirelWeb
