// The error log: one line per logged failure, appended to a file shared by
// every running process.
#pragma once

#include <string>

namespace Mirel::MirelWeb {

class TErrorLog {
 public:
  // Opens (creates) `path` for appending. A file that cannot be opened
  // leaves the log failed: every later write does nothing.
  explicit TErrorLog(const std::string& path);
  ~TErrorLog();
  TErrorLog(const TErrorLog&) = delete;
  TErrorLog& operator=(const TErrorLog&) = delete;

  bool is_open() const { return fd_ >= 0; }
  // Appends one whole line (bytes, line end included) with a single write.
  void write_line(const std::string& line);

 private:
  int fd_ = -1;
};

}  // namespace Mirel::MirelWeb
