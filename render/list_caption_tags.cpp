// Tags that say in words where the visitor is, for titles, headings and
// feeds: which hits this page shows (FIRST_HIT, LAST_HIT, for "17件中
// 11～17件目"), which list it is (LIST_KIND, by STATUS; format=id for a class name), how it is sorted
// (ORDER_CAPTION), and the program's own absolute address with a path
// (SITE_URL path=/feed). The texts are the program's own; SITE_URL holds
// the request's host and is escaped for markup.
#include <algorithm>
#include <string_view>

#include "html/link.h"
#include "platform/strings.h"
#include "render/field_forms.h"
#include "render/page_tags.h"
#include "render/paging.h"

namespace Mirel::MirelWeb {

namespace {

struct Torder_words {
  std::u16string_view field;
  const char16_t* ascending;
  const char16_t* descending;
};

// The sort fields a search form offers, in the words a visitor uses. The
// component's own order (no ORDER) is ascending book id.
constexpr Torder_words kOrderWords[] = {
    {u"", u"登録番号順", u"登録番号順"},
    {u"MS_BOOKID", u"登録番号順", u"登録番号の大きい順"},
    {u"MS_UKEIRE", u"古く入った順", u"新しく入った順"},
    {u"MS_SYOMEI", u"書名順", u"書名の逆順"},
    {u"MS_SYOKANA", u"書名順", u"書名の逆順"},
    {u"MS_CHOSYA", u"著者名順", u"著者名の逆順"},
    {u"MS_CHOKANA", u"著者名順", u"著者名の逆順"},
    {u"MS_SYUPAN", u"出版者順", u"出版者の逆順"},
    {u"MS_SYUNEN", u"出版年の古い順", u"出版年の新しい順"},
    {u"MS_SEIKYU", u"請求記号順", u"請求記号の逆順"},
};

UnicodeString order_caption(const Tmwrequests& requests) {
  switch (requests.status()) {
    case 1: return u"おすすめ順";
    case 2: return u"新しく入った順";
    default: break;
  }
  // The search keeps its own order when ORDER is empty, whatever ORDERKIND says.
  const UnicodeString field = requests.order();
  const bool descending = !field.empty() && requests.order_kind() == u"DESC";
  for (const Torder_words& words : kOrderWords)
    if (same_text_ascii_ci(field, words.field)) return descending ? words.descending : words.ascending;
  return descending ? u"指定の項目の逆順" : u"指定の項目の順";
}

// In words, or with format=id as a name for a class attribute, so that a
// style sheet can tell the lists apart.
UnicodeString list_kind(int32_t status, bool as_id) {
  switch (status) {
    case 1: return as_id ? u"recommend" : u"司書のおすすめ";
    case 2: return as_id ? u"newbook" : u"新着資料";
    default: return as_id ? u"search" : u"検索結果";
  }
}

}  // namespace

bool list_caption_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
                      UnicodeString& replace_text) {
  if (name == u"SITE_URL") {
    // The path is the template's own text; the host is the request's.
    replace_text = escape_field(script_url(context.request, value_of(params, u"path")), Tfield_escape::xml);
    return true;
  }
  if (name == u"LIST_KIND") {
    replace_text = list_kind(context.requests().status(), same_text_ascii_ci(value_of(params, u"format"), u"id"));
    return true;
  }
  if (name == u"ORDER_CAPTION") {
    replace_text = order_caption(context.requests());
    return true;
  }
  const bool first = name == u"FIRST_HIT";
  if (!first && name != u"LAST_HIT") return false;
  if (context.cursor == nullptr) return true;
  // The hits FIND_VALUE_LIST shows on this page, counted from 1; nothing
  // when the page shows none (past the last page, or a page size below 1).
  const int64_t rows = context.setup.rows;
  const int64_t start = page_start(context.setup.rows, context.requests().pagenum());
  const int64_t count = context.cursor->book_count();
  if (rows < 1 || start < 0 || start >= count) return true;
  replace_text = int_to_text(first ? start + 1 : std::min(start + rows, count));
  return true;
}

}  // namespace Mirel::MirelWeb
