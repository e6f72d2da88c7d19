// The link element and the program's own absolute URL (see link.h).

#include "html/link.h"

namespace Mirel::MirelWeb {

Tlink::Tlink(const UnicodeString& href, UnicodeString content, const UnicodeString& target)
    : Thtml_tag(u"a", std::move(content)) {
  set_attribute(u"href", href);
  if (!target.empty()) set_attribute(u"target", target);
}

UnicodeString script_base(const TWebRequest& request) {
  if (!request.BaseUrl().empty()) return from_ansi(request.BaseUrl());
  UnicodeString url = request.Secure() ? u"https://" : u"http://";
  url += from_ansi(request.Host());
  url += from_ansi(request.ScriptName());
  return url;
}

UnicodeString script_url(const TWebRequest& request, std::u16string_view path) {
  UnicodeString url = script_base(request);
  url += path;
  return url;
}

}  // namespace Mirel::MirelWeb
