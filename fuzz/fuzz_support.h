// Helpers shared by the fuzz targets: a private scratch directory for the
// parsers that read files, whole-file writes, and the check that turns a
// broken invariant into a crash the fuzzer (or the replay runner) reports.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace mwfuzz {

// The scratch directory's path while it exists, for its removal at exit.
inline std::string& scratch_path() {
  static std::string path;
  return path;
}

// Removes the scratch directory and the files in it (the targets make no
// subdirectories). A run that ends by a crash leaves it behind, with the
// files of the input that crashed, which helps to look into it.
inline void remove_scratch_dir() {
  const std::string& dir = scratch_path();
  if (dir.empty()) return;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* entry = ::readdir(d)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((dir + name).c_str());
    }
    ::closedir(d);
  }
  ::rmdir(dir.c_str());
}

// A directory of this process's own under TMPDIR (else /tmp), with a
// trailing '/', made on first use and removed when the process exits.
inline const std::string& scratch_dir() {
  static const std::string dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/mwfuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
      std::perror("mkdtemp");
      std::abort();
    }
    scratch_path() = pattern + "/";
    std::atexit(remove_scratch_dir);
    return pattern + "/";
  }();
  return dir;
}

// Replaces the file `path` by `bytes`; aborts when that fails, since every
// later step would then test the wrong input.
inline void write_file(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::perror(path.c_str());
    std::abort();
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (w <= 0) {
      std::perror(path.c_str());
      std::abort();
    }
    done += static_cast<size_t>(w);
  }
  ::close(fd);
}

inline void remove_file(const std::string& path) { ::unlink(path.c_str()); }

[[noreturn]] inline void check_failed(const char* what, const char* file, int line) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace mwfuzz

// Unlike assert(), stays active in release builds.
#define MWFUZZ_CHECK(cond) \
  ((cond) ? (void)0 : ::mwfuzz::check_failed(#cond, __FILE__, __LINE__))
