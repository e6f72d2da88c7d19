#include "platform/strings.h"

namespace Mirel {

UnicodeString value_of(const TStrings& list, std::u16string_view name) {
  for (const auto& entry : list) {
    size_t eq = entry.find(u'=');
    if (eq == UnicodeString::npos) continue;
    if (same_text_ascii_ci(std::u16string_view(entry).substr(0, eq), name))
      return entry.substr(eq + 1);
  }
  return {};
}

std::u16string_view trim_blanks(std::u16string_view text) {
  size_t begin = 0, end = text.size();
  while (begin < end && text[begin] <= u' ') ++begin;
  while (end > begin && text[end - 1] <= u' ') --end;
  return text.substr(begin, end - begin);
}

}  // namespace Mirel
