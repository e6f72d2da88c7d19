// The limits of one request, checked on its parameters as the search will
// read them.
#include "request/request_limits.h"

#include "request/mwrequests.h"

namespace Mirel::MirelWeb {
namespace {

// Words as the search splits them: runs of U+0020 and U+3000 separate.
int64_t word_count(const UnicodeString& text) {
  int64_t words = 0;
  bool in_word = false;
  for (char16_t c : text) {
    const bool blank = c == u' ' || c == u'\u3000';
    if (!blank && !in_word) ++words;
    in_word = !blank;
  }
  return words;
}

}  // namespace

bool request_within_limits(TWebRequest& request, const Trequest_limits& limits) {
  if (request.ContentTooLarge()) return false;
  const Tmwrequests requests(request);
  for (const UnicodeString& value :
       {requests.bookid(), requests.syomei(), requests.chosya(), requests.syupan(),
        requests.isbn(), requests.kenmei(), requests.order(), requests.order_kind()}) {
    // A quick bound first: no character takes more than two bytes.
    if (static_cast<int64_t>(value.size()) * 2 <= limits.max_value_bytes) continue;
    if (static_cast<int64_t>(to_ansi(value).size()) > limits.max_value_bytes) return false;
  }
  for (const UnicodeString& words :
       {requests.syomei(), requests.chosya(), requests.syupan(), requests.kenmei()})
    if (word_count(words) > limits.max_words) return false;
  return true;
}

}  // namespace Mirel::MirelWeb
