// Where temporary files go: TMPDIR when it is set, else /tmp. Read on every
// call, so a test that changes TMPDIR is seen at once.
#include "library/temp_dir.h"

#include <cstdlib>

namespace Mirel::MirelWeb::detail {

std::string temp_directory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env != nullptr && *env != '\0') ? env : "/tmp";
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace Mirel::MirelWeb::detail
