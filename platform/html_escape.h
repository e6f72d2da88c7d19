// Escaping of text that goes into HTML.
//
// The one escaping function for text that came from outside (a request, an
// exception message) and is placed into an HTML page: the five characters
// that can change the markup become character references. Everything else,
// multi-byte characters included, passes unchanged.
#pragma once

#include <string>
#include <string_view>

#include "platform/unicode_string.h"

namespace Mirel {

// & -> &amp;  < -> &lt;  > -> &gt;  " -> &quot;  ' -> &#39;
UnicodeString html_escape(std::u16string_view text);

// The same for 8-bit text of any ASCII-compatible code page: every byte of
// the five characters is an ASCII byte, and no trail byte of code page 932
// or UTF-8 falls in that range, so multi-byte characters are never split.
std::string html_escape_bytes(std::string_view bytes);

}  // namespace Mirel
