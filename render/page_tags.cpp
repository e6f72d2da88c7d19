// The page tag handler: the dispatch over the tag groups, and the two small
// helpers of the book and paging tags.
#include "render/page_tags.h"

#include "error/mwerror.h"

namespace Mirel::MirelWeb {

void page_tag(TPageContext& context, TTag tag, const UnicodeString& name, const TStrings& params,
              UnicodeString& replace_text) {
  context.guarded([&] {
    if (tag != TTag::tgCustom) return;
    if (navigation_tag(context, name, params, replace_text)) return;
    if (holding_tag(context, name, params, replace_text)) return;
    if (record_tag(context, name, replace_text)) {
      escape_record_field(name, params, replace_text);
      return;
    }
    if (list_tag(context, name, params, replace_text)) return;
    if (list_caption_tag(context, name, params, replace_text)) return;
    // The remaining names are decided with the request's parameters at
    // hand; a request whose fields cannot be decoded fails here.
    context.requests();
    if (query_tag(context, name, params, replace_text)) return;
    context.error.replace(name, params, replace_text);
  });
}

UnicodeString list_path(int32_t kind) {
  switch (kind) {
    case 0: return u"/list";
    case 1: return u"/recommend";
    case 2: return u"/newbook";
    default: return u"";
  }
}

UnicodeString dash_if_blank(const UnicodeString& value, const TWebRequest& request) {
  if (value.empty() && request.PathInfo() == "/data") return u"---";
  return value;
}

}  // namespace Mirel::MirelWeb
