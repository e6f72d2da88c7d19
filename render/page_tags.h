// The tag handlers of the page templates and of the row template, as
// functions over the request's page context.
//
// page_tag: every whole page (top, list, detail, error). Each custom tag
// goes to the first group that knows its name (exact letter case), in this
// order: navigation and settings, the book record, the result list, the
// query echo; a name nobody knows goes to the error pair (ERR_NAME,
// ERR_MSG; anything else becomes the empty text). Tags of the predefined
// kinds (LINK, IMAGE ...) become the empty text.
//
// row_tag: the row template listrow.html. SEQUENCE, GOTO_DETAIL_BEGIN,
// GOTO_DETAIL_END and CHOSYA are its own; every other tag goes to page_tag.
//
// Both run their work inside the context's failure boundary, so a failure
// in a row passes every boundary it crosses. Each group function returns
// true when it knew the name (and then filled `replace_text`).
#pragma once

#include "platform/strings.h"
#include "platform/unicode_string.h"
#include "render/page_context.h"
#include "template/page_producer.h"

namespace Mirel::MirelWeb {

void page_tag(TPageContext& context, TTag tag, const UnicodeString& name, const TStrings& params,
              UnicodeString& replace_text);
void row_tag(TPageContext& context, TTag tag, const UnicodeString& name, const TStrings& params,
             UnicodeString& replace_text);

// SETUP, BACK_TO_HOME, MIRELWEB, RECOMMEND, NEWBOOK (navigation_tags.cpp).
bool navigation_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
                    UnicodeString& replace_text);
// KASIDASI, KASIDASI_MARK, BOOKID … MEMO, KINGAKU, SYOZAI, NDC (record_tags.cpp).
bool record_tag(TPageContext& context, const UnicodeString& name, UnicodeString& replace_text);
// FIND_VALUE_LIST, TOTAL_FIND_COUNT, NEXT_PAGE, PRIOR_PAGE, PAGE_LIST (list_tags.cpp).
bool list_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
              UnicodeString& replace_text);
// QUERY_KEY_LIST, QUERY_*, BACK_TO_LIST (query_tags.cpp).
bool query_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
               UnicodeString& replace_text);

// ISBN13, ISBN10, KASIDASI_DUE, YOYAKU_COUNT, SKUBUN, DETAIL_URL, and
// UKEIRE with format= (holding_tags.cpp).
bool holding_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
                 UnicodeString& replace_text);
// The escape= parameter of a record field tag applied to its text; the
// status tags are left as they are (holding_tags.cpp).
void escape_record_field(const UnicodeString& name, const TStrings& params,
                         UnicodeString& replace_text);
// FIRST_HIT, LAST_HIT, LIST_KIND, ORDER_CAPTION, SITE_URL (list_caption_tags.cpp).
bool list_caption_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
                      UnicodeString& replace_text);

// "/list", "/recommend", "/newbook" for the list kinds 0, 1, 2; else empty.
UnicodeString list_path(int32_t kind);
// "---" when the path info is exactly "/data" and `value` is empty; else `value`.
UnicodeString dash_if_blank(const UnicodeString& value, const TWebRequest& request);

}  // namespace Mirel::MirelWeb
