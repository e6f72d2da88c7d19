// ListRowProducerHTMLTag: the tag handler of the row template listrow.html.
// It knows the row number, the link to the hit's detail page and the author
// as a link that searches by the author's first characters; every other tag
// goes to the page tag handler, so a row shows any field of its record.
#include "app/web_main.h"
#include "html/link.h"
#include "render/record_source.h"
#include "render/record_text.h"
#include "request/mwrequests.h"

namespace Mirel::MirelWeb {

void TWebMain::ListRowProducerHTMLTag(TPageProducer& sender, TTag tag, const UnicodeString& tag_string,
                                      TStrings& tag_params, UnicodeString& replace_text) {
  run_guarded(kTagFailureMessage, [&] {
    if (tag != TTag::tgCustom) return;

    if (tag_string == u"SEQUENCE") {
      replace_text = int_to_text(row_number);
      return;
    }

    if (tag_string == u"GOTO_DETAIL_BEGIN") {
      const Trecord_source source(*this);
      if (!source) return;
      // The book first, then the whole query of the list: the detail page
      // can lead back to the same list page. The query never has a BOOKID.
      const Tmwreq_bookid bookid(source.text(Trecord_field::bookid));
      const Tmwrequests requests(*Request);
      Tlink link(script_url(*Request, u"/data") + u'?' + bookid.encode() + u'&' + requests.encode());
      link.set_attribute(u"class", u"goto_detail");
      replace_text = link.start_tag();
      return;
    }

    if (tag_string == u"GOTO_DETAIL_END") {
      replace_text = u"</a>";
      return;
    }

    if (tag_string == u"CHOSYA") {
      const Trecord_source source(*this);
      if (!source) return;
      // A new search by author from its first page; the link shows the
      // whole author, the search uses only its first characters.
      const UnicodeString author = source.text(Trecord_field::chosya);
      const Tmwreq_page first_page(0);
      const Tmwreq_chosya key(author_key(author, setup->author_link_chars));
      Tlink link(script_url(*Request, u"/list") + u'?' + first_page.encode() + u'&' + key.encode(),
                 author);
      link.set_attribute(u"class", u"chosya");
      replace_text = link.to_html();
      return;
    }

    PageProducerHTMLTag(sender, tag, tag_string, tag_params, replace_text);
  });
}

}  // namespace Mirel::MirelWeb
