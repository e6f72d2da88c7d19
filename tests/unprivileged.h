// Tests of what permission bits refuse must see them bind, and they do not
// bind root, which is how CI runs the suite. These helpers let such a test
// act as the unprivileged user nobody when the suite runs as root: the
// test's files are given to nobody, and the work runs in a child process
// that has dropped root for good. As any other user nothing changes: the
// permission bits already bind it.
#pragma once

#include <grp.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace mwtest {

inline constexpr uid_t kNobodyId = 65534;

inline bool running_as_root() { return ::geteuid() == 0; }

// Gives `dir` and everything under it to nobody, except the file `keep`
// (a hard link to a file outside the tree keeps its owner). lchown: a link
// is given away itself, never what it points to.
inline void give_tree_to_nobody(const std::string& dir, const std::string& keep = "") {
  namespace fs = std::filesystem;
  ::lchown(dir.c_str(), kNobodyId, kNobodyId);
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (!keep.empty() && fs::equivalent(entry.path(), keep)) continue;
    ::lchown(entry.path().c_str(), kNobodyId, kNobodyId);
  }
}

// In a child process: drops every group and becomes nobody. False when the
// kernel refused (the child must not go on as root).
inline bool become_nobody() {
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobodyId) == 0 && ::setuid(kNobodyId) == 0 &&
         ::geteuid() == kNobodyId;
}

// Runs `body` in a child process as nobody and returns its text (or a text
// saying that the child could not become nobody).
inline std::string text_as_nobody(const std::function<std::string()>& body) {
  int out[2];
  if (::pipe(out) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(out[0]);
    const std::string text = become_nobody() ? body() : "could not become nobody";
    (void)!::write(out[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (!WIFEXITED(status)) text += " (child ended by a signal)";
  return text;
}

}  // namespace mwtest
