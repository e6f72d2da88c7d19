// Character references for the five markup characters, for UTF-16 and for
// 8-bit text.
#include "platform/html_escape.h"

namespace Mirel {
namespace {

// The reference for `c`, or nullptr when `c` passes unchanged.
template <typename C>
const char* reference_for(C c) {
  switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    case '"': return "&quot;";
    case '\'': return "&#39;";
    default: return nullptr;
  }
}

template <typename S, typename V>
S escape(V text) {
  S out;
  out.reserve(text.size());
  for (auto c : text) {
    if (const char* ref = reference_for(c)) {
      for (const char* p = ref; *p; ++p) out.push_back(static_cast<typename S::value_type>(*p));
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace

UnicodeString html_escape(std::u16string_view text) { return escape<UnicodeString>(text); }

std::string html_escape_bytes(std::string_view bytes) { return escape<std::string>(bytes); }

}  // namespace Mirel
