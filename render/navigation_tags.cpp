// Page settings (SETUP) and the links to the main entry points of the site:
// the top page, the recommended books and the new arrivals. The link texts
// are captions the library wrote into its templates, so they go into the
// page as they are.
#include "html/link.h"
#include "library/mwnewbook.h"
#include "platform/integer.h"
#include "render/page_tags.h"

namespace Mirel::MirelWeb {

namespace {

// A link to `href` showing `text`, with its class set after the href.
UnicodeString site_link(const UnicodeString& href, const UnicodeString& text,
                        std::u16string_view css_class) {
  Tlink link(href, text);
  link.set_attribute(u"class", css_class);
  return link.to_html();
}

}  // namespace

bool navigation_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
                    UnicodeString& replace_text) {
  const TWebRequest& request = context.request;
  std::shared_ptr<Tmwnewbook>& newbook = context.newbook;
  if (name == u"SETUP") {
    // Every SETUP tag sets all four values: a parameter it lacks puts its
    // value back to the default, so the last tag before a use decides.
    context.setup.rows = text_to_int_def(value_of(params, u"rows"), 20);
    // The member keeps the low eight bits: 300 becomes 44, -1 becomes 255.
    context.setup.author_link_chars =
        static_cast<uint8_t>(text_to_int_def(value_of(params, u"author_link_chars"), 6));
    context.recommend_caption = value_of(params, u"recommend_caption");
    const UnicodeString newbook_caption = value_of(params, u"newbook_caption");
    if (!newbook_caption.empty()) {
      if (!newbook) newbook = std::make_shared<Tmwnewbook>();
      newbook->set_caption(newbook_caption);
    }
    // newbook_typeid and newbook_range belong to the new-arrivals action's
    // own pass over the template.
    return true;
  }
  if (name == u"BACK_TO_HOME") {
    replace_text = site_link(script_url(request, u""), value_of(params, u"caption"), u"back_to_home");
    return true;
  }
  if (name == u"MIRELWEB") {
    replace_text = site_link(script_url(request, u""), u"MIREL WEB", u"mirelweb_title");
    return true;
  }
  if (name == u"RECOMMEND") {
    replace_text = site_link(script_url(request, u"/recommend") + u"?PAGENUM=0&STATUS=1",
                             context.recommend_caption, u"recommend");
    return true;
  }
  if (name == u"NEWBOOK") {
    // Without a holder (no new-arrivals action and no SETUP with a caption
    // so far) the link is written with an empty text.
    replace_text = site_link(script_url(request, u"/newbook") + u"?PAGENUM=0&STATUS=2",
                             newbook ? newbook->caption() : UnicodeString(), u"newbook");
    return true;
  }
  return false;
}

}  // namespace Mirel::MirelWeb
