// Progress lines of `mirelweb-db refresh` on a terminal (see
// refresh_progress.h): each rewritten in place with a carriage return and
// an erase to the end of the line.
#include "tools/refresh_progress.h"

#include <unistd.h>

namespace Mirel::Tools {

TRefreshProgress::TRefreshProgress(std::FILE* out)
    : out_(out), terminal_(::isatty(::fileno(out)) == 1) {}

void TRefreshProgress::started(const std::string& table) {
  if (!terminal_) return;
  std::fprintf(out_, "\r\033[K%s\t...", table.c_str());
  std::fflush(out_);
  pending_ = true;
}

void TRefreshProgress::building(const std::string& table, int percent) {
  if (!terminal_) return;
  std::fprintf(out_, "\r\033[K%s\t%d%%", table.c_str(), percent);
  std::fflush(out_);
  pending_ = true;
}

void TRefreshProgress::done(const std::string& line) {
  if (pending_) std::fputs("\r\033[K", out_);
  pending_ = false;
  std::fprintf(out_, "%s\n", line.c_str());
  std::fflush(out_);
}

}  // namespace Mirel::Tools
