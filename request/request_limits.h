// Whether a request asks no more of the catalogue than the installation
// allows: a body small enough to have been read, no parameter value longer
// than a number of bytes, no search field of more than a number of words.
// The check runs before the database lock is taken, so a request past the
// limits never holds the lock; it is answered with the narrow-your-search
// page (error/mwerror.h) and writes no log line.
#pragma once

#include <cstdint>

#include "cgi/web_request.h"

namespace Mirel::MirelWeb {

struct Trequest_limits {
  int64_t max_value_bytes = 1024;  // of each request parameter, in the default code page
  int64_t max_words = 16;          // in each of SYOMEI, CHOSYA, SYUPAN, KENMEI
};

// False when the body was too large to read or a parameter is past the
// limits. Reads the parameters as Tmwrequests does (and throws as it does
// on a bad percent escape).
bool request_within_limits(TWebRequest& request, const Trequest_limits& limits);

}  // namespace Mirel::MirelWeb
