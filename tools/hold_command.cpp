// The maintenance hold of mirelweb-db: the database mutex taken exclusively
// around a command or for a time (see hold_command.h).
#include "tools/hold_command.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

#include "config/mw_settings.h"
#include "library/named_mutex.h"
#include "platform/exception.h"
#include "platform/integer.h"
#include "platform/unicode_string.h"

namespace Mirel::Tools {

namespace {

using MirelWeb::TLockMode;
using MirelWeb::TNamedMutex;

constexpr int kNotObtained = 75;  // EX_TEMPFAIL: try again later
constexpr uint32_t kDefaultWaitSeconds = 60;

int usage() {
  std::fputs(
      "usage: mirelweb-db hold [--wait SECONDS] -- COMMAND [ARG...]\n"
      "       mirelweb-db hold [--wait SECONDS] --for SECONDS\n",
      stderr);
  return 2;
}

std::optional<uint32_t> seconds_of(const char* text) {
  const auto n = text_to_int(std::string_view(text));
  if (!n || *n < 0) return std::nullopt;
  return static_cast<uint32_t>(*n);
}

// Milliseconds for a wait of `seconds`, at most what the timer can hold.
uint32_t wait_ms(uint32_t seconds) {
  const uint64_t ms = uint64_t{seconds} * 1000;
  return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}

// Root would create a lock file that only root may open, and every request
// of the web server would fail on it: the file goes to the owner of its
// directory, and in a directory of root's (such as /tmp) root creates none.
void check_before_opening(const std::string& dir, const std::string& path) {
  if (::geteuid() != 0) return;
  struct stat st{};
  if (::lstat(path.c_str(), &st) == 0 || errno != ENOENT) return;
  if (::stat(dir.c_str(), &st) == 0 && st.st_uid == 0)
    throw Exception(from_ansi("the lock file " + path +
                              " does not exist and root would create it where the web server "
                              "could not open it; run the hold with the TMPDIR the web server "
                              "gives the program, or as the web server's user"));
}

void give_to_directory_owner(TNamedMutex& mutex, const std::string& dir) {
  if (::geteuid() != 0) return;
  struct stat file{}, directory{};
  if (::stat(mutex.path().c_str(), &file) != 0 || file.st_uid != 0) return;
  if (::stat(dir.c_str(), &directory) != 0 || directory.st_uid == 0) return;
  if (!mutex.give_to(directory.st_uid, directory.st_gid))
    throw Exception(from_ansi("cannot give the lock file " + mutex.path() +
                              " to the owner of its directory: " + std::strerror(errno)));
}

volatile sig_atomic_t g_command = 0;

void pass_on(int signal) {
  if (g_command > 0) ::kill(static_cast<pid_t>(g_command), signal);
}

constexpr int kPassedOn[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// Starts `argv` and waits for it; its exit status as a shell gives it.
int run_command(char** argv) {
  sigset_t passed, saved;
  sigemptyset(&passed);
  for (int s : kPassedOn) sigaddset(&passed, s);
  // Held back until the handlers know the command's pid.
  ::sigprocmask(SIG_BLOCK, &passed, &saved);
  const pid_t pid = ::fork();
  if (pid < 0) {
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
    throw Exception(from_ansi(std::string("cannot start a process: ") + std::strerror(errno)));
  }
  if (pid == 0) {
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
    ::execvp(argv[0], argv);
    const int error = errno;
    std::fprintf(stderr, "mirelweb-db: cannot run %s: %s\n", argv[0], std::strerror(error));
    ::_exit(error == ENOENT ? 127 : 126);
  }
  g_command = pid;
  struct sigaction forward{};
  forward.sa_handler = pass_on;
  sigemptyset(&forward.sa_mask);
  for (int s : kPassedOn) ::sigaction(s, &forward, nullptr);
  ::sigprocmask(SIG_SETMASK, &saved, nullptr);
  int status = 0;
  while (::waitpid(pid, &status, 0) != pid) {
    if (errno != EINTR) {
      status = -1;
      break;
    }
  }
  g_command = 0;
  if (status == -1) return 1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void hold_for(uint32_t seconds) {
  timespec left{static_cast<time_t>(seconds), 0};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

int run_hold(int argc, char** argv) {
  uint32_t wait_seconds = kDefaultWaitSeconds;
  std::optional<uint32_t> hold_seconds;
  int i = 0;
  for (; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--") {
      ++i;
      break;
    }
    if ((a == "--wait" || a == "--for") && i + 1 < argc) {
      const auto s = seconds_of(argv[++i]);
      if (!s) return usage();
      (a == "--wait" ? wait_seconds : hold_seconds.emplace()) = *s;
    } else {
      return usage();
    }
  }
  // Exactly one of a command and a time.
  if (hold_seconds.has_value() == (i < argc)) return usage();

  std::string dir = to_ansi(MirelWeb::temp_path());
  const std::string path = dir + MirelWeb::kMirelWebMutexName;
  check_before_opening(dir, path);
  TNamedMutex mutex(MirelWeb::kMirelWebMutexName, dir);
  give_to_directory_owner(mutex, dir);
  if (!mutex.wait(wait_ms(wait_seconds), TLockMode::exclusive)) {
    std::fprintf(stderr,
                 "mirelweb-db: the lock %s was not free within %u seconds; nothing was run\n",
                 mutex.path().c_str(), static_cast<unsigned>(wait_seconds));
    return kNotObtained;
  }
  if (hold_seconds) {
    hold_for(*hold_seconds);
    return 0;
  }
  const int status = run_command(argv + i);
  mutex.release();
  return status;
}

}  // namespace Mirel::Tools
