// The two records of settings that the web module holds for one request.
#pragma once

#include <cstdint>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

// The installation, read from mirelweb.ini: the template directory prefix
// (put directly in front of every template file name) and the database alias.
struct Tmw_path {
  UnicodeString html_path;
  UnicodeString db_alias;
};

// Page settings, changed only by the template tag SETUP.
struct Tmw_setup {
  int32_t rows = 20;
  uint8_t author_link_chars = 6;
};

}  // namespace Mirel::MirelWeb
