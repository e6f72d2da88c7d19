// The row tag handler of listrow.html. It knows the row number, the link to
// the hit's detail page and the author as a link that searches by the
// author's first characters; every other tag goes to the page tag handler,
// so a row shows any field of its record.
#include "html/link.h"
#include "render/page_tags.h"
#include "render/record_text.h"

namespace Mirel::MirelWeb {

using Mirelsearch_tlb::Tbook_field;

void row_tag(TPageContext& context, TTag tag, const UnicodeString& name, const TStrings& params,
             UnicodeString& replace_text) {
  context.guarded([&] {
    if (tag != TTag::tgCustom) return;
    const TWebRequest& request = context.request;

    if (name == u"SEQUENCE") {
      replace_text = int_to_text(context.row_number);
      return;
    }

    if (name == u"GOTO_DETAIL_BEGIN") {
      if (context.cursor == nullptr) return;
      // The book first, then the whole query of the list: the detail page
      // can lead back to the same list page. The query never has a BOOKID.
      const Tmwreq_bookid bookid(context.cursor->book_text(Tbook_field::bookid));
      const Tmwrequests& requests = context.requests();
      Tlink link(script_url(request, u"/data") + u'?' + bookid.encode() + u'&' + requests.encode());
      link.set_attribute(u"class", u"goto_detail");
      replace_text = link.start_tag();
      return;
    }

    if (name == u"GOTO_DETAIL_END") {
      replace_text = u"</a>";
      return;
    }

    // With escape= the author is the plain field in that form (for an
    // attribute or a script), not the link.
    if (name == u"CHOSYA" && value_of(params, u"escape").empty()) {
      if (context.cursor == nullptr) return;
      // A new search by author from its first page; the link shows the
      // whole author, the search uses only its first characters.
      const UnicodeString author = context.cursor->book_text(Tbook_field::chosya);
      const Tmwreq_page first_page(0);
      const Tmwreq_chosya key(author_key(author, context.setup.author_link_chars));
      Tlink link(script_url(request, u"/list") + u'?' + first_page.encode() + u'&' + key.encode(),
                 author);
      link.set_attribute(u"class", u"chosya");
      replace_text = link.to_html();
      return;
    }

    page_tag(context, tag, name, params, replace_text);
  });
}

}  // namespace Mirel::MirelWeb
