// The temporary-files directory as this module uses it: the place of the
// lock file of the named mutex and the private directory of the database
// sessions. Internal to library/.
#pragma once

#include <string>

namespace Mirel::MirelWeb::detail {

// TMPDIR when set and not empty, else "/tmp"; always ends with '/'.
std::string temp_directory();

}  // namespace Mirel::MirelWeb::detail
