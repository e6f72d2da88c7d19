// Links back into the program: script_url makes the absolute URL of the
// running program followed by a path and query, and Tlink is the "a" element
// that carries it. Redirects to the top page use script_url alone.
//
// Attribute order of a link: href, then target when one was given, then what
// the caller sets afterwards (class). The href value is quoted like every
// attribute (html_tag.h): '&' between query parameters stays a bare '&'.
#pragma once

#include "cgi/web_request.h"
#include "html/html_tag.h"

namespace Mirel::MirelWeb {

class Tlink : public Thtml_tag {
 public:
  // Always sets href (href="" when empty); sets target only when not empty.
  explicit Tlink(const UnicodeString& href, UnicodeString content = {},
                 const UnicodeString& target = {});

  // Replaces the href value; href keeps its first position.
  void set_href(std::u16string_view url) { set_attribute(u"href", url); }
};

// The program's own absolute address, without a trailing path: the
// request's BaseUrl when the installation fixes one; else "http://" (or
// "https://" for a request that came over TLS) + Host + ScriptName. Host and
// ScriptName are the request's 8-bit variables read in the default code
// page; nothing is inserted between the pieces.
UnicodeString script_base(const TWebRequest& request);

// script_base + path; `path` (query included) is appended unchanged.
UnicodeString script_url(const TWebRequest& request, std::u16string_view path);

}  // namespace Mirel::MirelWeb
