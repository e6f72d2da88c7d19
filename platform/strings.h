// Lists of name=value texts: request fields and template tag parameters.
#pragma once

#include <string_view>
#include <vector>

#include "platform/unicode_string.h"

namespace Mirel {

using TStrings = std::vector<UnicodeString>;

// The value of the first entry whose part before its first '=' equals `name`
// without regard to ASCII letter case; an entry without '=' is never found;
// a missing name gives the empty text.
UnicodeString value_of(const TStrings& list, std::u16string_view name);

}  // namespace Mirel
