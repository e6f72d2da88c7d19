// The link element and the program's own absolute URL (see link.h).

#include "html/link.h"

#include <string>

namespace Mirel::MirelWeb {

Tlink::Tlink(const UnicodeString& href, UnicodeString content, const UnicodeString& target)
    : Thtml_tag(u"a", std::move(content)) {
  set_attribute(u"href", href);
  if (!target.empty()) set_attribute(u"target", target);
}

namespace {

UnicodeString make_script_base(const TWebRequest& request) {
  if (!request.BaseUrl().empty()) return from_ansi(request.BaseUrl());
  UnicodeString url = request.Secure() ? u"https://" : u"http://";
  url += from_ansi(request.Host());
  url += from_ansi(request.ScriptName());
  return url;
}

}  // namespace

UnicodeString script_base(const TWebRequest& request) {
  // A page has dozens of links, all from the same request: its values are
  // converted once, and again only when they change.
  struct Tmemo {
    std::string base_url, host, script_name;
    bool secure = false;
    bool filled = false;
    UnicodeString text;
  };
  thread_local Tmemo memo;
  if (!memo.filled || memo.secure != request.Secure() || memo.base_url != request.BaseUrl() ||
      memo.host != request.Host() || memo.script_name != request.ScriptName()) {
    memo.base_url = request.BaseUrl();
    memo.host = request.Host();
    memo.script_name = request.ScriptName();
    memo.secure = request.Secure();
    memo.text = make_script_base(request);
    memo.filled = true;
  }
  return memo.text;
}

UnicodeString script_url(const TWebRequest& request, std::u16string_view path) {
  UnicodeString url = script_base(request);
  url += path;
  return url;
}

}  // namespace Mirel::MirelWeb
