// Whole-file reading and the atomic replacement of a file, for the small
// text files of the configuration (ini files, the legacy conf file). Private
// to config/.
#pragma once

#include <string>

namespace Mirel::Config {

// Reads the whole file into `bytes`. Returns 0 on success, else the errno of
// the failure (ENOENT for a missing file); `bytes` is then empty.
int read_file_bytes(const std::string& path, std::string& bytes);

// Replaces the file `path` by `bytes`: the bytes go to a new file in the same
// directory, which is flushed and then renamed over `path`, so a reader (or a
// second writer) only ever sees the old or the new file whole. An existing
// file keeps its permission bits; a new one gets 0666 less the umask.
// Returns 0 on success, else the errno of the failure; nothing is changed then.
int replace_file_atomically(const std::string& path, const std::string& bytes);

// The operating system's text for an errno value.
std::string error_text(int error);

}  // namespace Mirel::Config
