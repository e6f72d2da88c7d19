// The progress of `mirelweb-db refresh` as a person at a terminal sees it:
// the line of the table being made current, with the percentage of a full
// build of its cache (master's takes minutes on a large catalogue), then
// that table's result line in its place. Without a terminal (cron, a pipe)
// only the result lines are written, as they always were.
#pragma once

#include <cstdio>
#include <string>

namespace Mirel::Tools {

class TRefreshProgress {
 public:
  // Progress is shown when `out` is a terminal.
  explicit TRefreshProgress(std::FILE* out);

  void started(const std::string& table);
  void building(const std::string& table, int percent);
  // The table's result line (without its line end).
  void done(const std::string& line);

 private:
  std::FILE* out_;
  bool terminal_;
  bool pending_ = false;  // a progress line stands unfinished
};

}  // namespace Mirel::Tools
