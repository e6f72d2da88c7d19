// The system-wide named mutex through which every running copy of the
// program, and the library's maintenance, take their turns at the library
// data.
//
// A named mutex is a flock(2) lock on one file of that name in
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
// Shared and exclusive. Visitors' requests only read the library data and
// take the lock shared (LOCK_SH): any number of them hold it at once. The
// library's maintenance (`mirelweb-db hold`) takes it exclusively (LOCK_EX)
// while it rewrites tables, so no visitor reads a table half-written.
//
// Contract:
//   * The constructor creates or opens the lock file; it never takes the
//     lock. It throws Mirel::Exception as described above.
//   * wait(timeout_ms, mode) returns true when the lock is obtained in that
//     mode, false when the wait time passed (or the lock call failed). It
//     returns the moment the lock can be had (it blocks in the kernel; a
//     timer signal, SIGALRM, ends it at the deadline). Waiters are let in
//     in the order they began to wait: each draws a number from a counter
//     kept in the file's first bytes and holds a byte-range lock (an open
//     file description lock) on its own place in the file, and goes on
//     only when no one who came earlier still holds a place. A shared
//     holder gives its place up as soon as it holds the lock, so readers in
//     a row overlap; an exclusive waiter keeps its place while it waits for
//     the readers before it to finish and while it holds, so readers that
//     come after it wait behind it and a stream of readers cannot starve
//     it. wait(0) only tries: exclusive out of turn, shared only when no one
//     is in line.
//   * A build configured with MIRELWEB_TEST_HOOKS lets the environment
//     variable MIRELWEB_TEST_MUTEX_WAIT_MS shorten every wait longer than
//     it, so tests see the busy page of any holder without a minute's wait.
//   * The lock belongs to this object's open file: a second TNamedMutex of
//     the same name, even in the same process, is another holder. A holder
//     that asks again in the mode it holds gets true; in the other mode,
//     false (it must release first).
//   * release() gives the lock up (no effect when not held); close() also
//     closes the file. The destructor does both. Not copyable.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/exception.h"

namespace Mirel::MirelWeb {

// Raised by a holder that did not obtain the mutex within its wait time
// (Tmwrange::fetch); the message is empty.
MIREL_DECLARE_EXCEPTION(EMutexTimeout, Exception);

// The mutex that guards every access to the library data.
inline constexpr const char* kMirelWebMutexName = "MirelWebMutex";

// How a holder takes the mutex: alone (to rewrite the data) or beside other
// readers.
enum class TLockMode { exclusive, shared };

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
  bool wait(uint32_t timeout_ms, TLockMode mode = TLockMode::exclusive);
  void release();
  void close();

  bool is_held() const { return held_; }
  const std::string& path() const { return path_; }

  // Gives the lock file to `uid`/`gid` when this process may (root): a
  // lock file that root created for a maintenance hold must stay usable by
  // the web server's user. Returns false when the change failed.
  bool give_to(uid_t uid, gid_t gid);

 private:
  void leave_queue();

  std::string path_;
  int fd_ = -1;
  int64_t place_ = -1;  // this waiter's number in the queue, while it waits or holds
  bool held_ = false;
  TLockMode mode_ = TLockMode::exclusive;  // of the lock held
};

}  // namespace Mirel::MirelWeb
