// The tags of a result list: the rows of the current page (FIND_VALUE_LIST),
// the number of hits, and the paging links (next, previous, the page
// numbers). All read the active source and produce nothing without one; all
// paging links carry the request's parameters with a changed PAGENUM.
#include "html/html_tag.h"
#include "html/link.h"
#include "render/page_tags.h"
#include "platform/exception.h"
#include "render/paging.h"

namespace Mirel::MirelWeb {

namespace {

// Leaves `flag` false again however the rows end.
class Tflag_guard {
 public:
  explicit Tflag_guard(bool& flag) : flag_(flag) { flag_ = true; }
  ~Tflag_guard() { flag_ = false; }
  Tflag_guard(const Tflag_guard&) = delete;
  Tflag_guard& operator=(const Tflag_guard&) = delete;

 private:
  bool& flag_;
};

// The list page `requests` describes (its STATUS picks the list).
UnicodeString list_url(const TWebRequest& request, const Tmwrequests& requests) {
  return script_url(request, list_path(requests.status())) + u'?' + requests.encode();
}

UnicodeString paging_link(const TWebRequest& request, const Tmwrequests& requests,
                          const UnicodeString& text, const char16_t* css_class) {
  Tlink link(list_url(request, requests), text);
  link.set_attribute(u"class", css_class);
  return link.to_html();
}

// The row template FIND_VALUE_LIST names with row= (a feed's entries are no
// HTML rows), else listrow.html. Only a bare file name of the template
// directory is taken.
UnicodeString row_template_of(const TStrings& params) {
  const UnicodeString file = value_of(params, u"row");
  if (file.empty()) return u"listrow.html";
  bool bare = file.front() != u'.';
  for (const char16_t c : file)
    bare = bare && ((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
                    c == u'.' || c == u'_' || c == u'-');
  if (!bare)
    throw Exception(u"FIND_VALUE_LIST の row=" + file +
                    u" は使えません。テンプレートと同じディレクトリのファイル名だけを書いてください");
  return file;
}

}  // namespace

bool list_tag(TPageContext& context, const UnicodeString& name, const TStrings& params,
              UnicodeString& replace_text) {
  enum class Kind { rows, count, next, prior, pages };
  Kind kind;
  if (name == u"FIND_VALUE_LIST") kind = Kind::rows;
  else if (name == u"TOTAL_FIND_COUNT") kind = Kind::count;
  else if (name == u"NEXT_PAGE") kind = Kind::next;
  else if (name == u"PRIOR_PAGE") kind = Kind::prior;
  else if (name == u"PAGE_LIST") kind = Kind::pages;
  else return false;

  Mirelsearch_tlb::Ibook_cursor* const cursor = context.cursor;
  if (cursor == nullptr) return true;
  TWebRequest& request = context.request;

  switch (kind) {
    case Kind::rows: {
      // A row template that starts the list again would stand on the same
      // record forever and exhaust the stack.
      if (context.producing_rows)
        throw Exception(u"FIND_VALUE_LIST は listrow.html の中では使えません");
      context.row_template = row_template_of(params);
      const Tmwrequests& requests = context.requests();
      const int32_t rows = context.setup.rows;
      context.row_number = cursor->skip_books(page_start(rows, requests.pagenum()));
      const Tflag_guard guard(context.producing_rows);
      UnicodeString text;
      for (int32_t i = 0; i < rows && !cursor->past_last_book(); ++i) {
        ++context.row_number;
        text += context.produce_row();
        text += u"\r\n";
        cursor->next_book();
      }
      replace_text = text;
      break;
    }
    case Kind::count:
      replace_text = int_to_text(cursor->book_count());
      break;
    case Kind::next: {
      Tmwrequests requests = context.requests();
      const uint32_t pagenum = requests.pagenum();
      if (!has_next_page(context.setup.rows, pagenum, cursor->book_count())) break;
      requests.set_pagenum(pagenum + 1u);
      replace_text = paging_link(request, requests, value_of(params, u"caption"), u"next_page");
      break;
    }
    case Kind::prior: {
      // The number of hits plays no part: page 0 has no previous page, every
      // other page has one.
      Tmwrequests requests = context.requests();
      const uint32_t pagenum = requests.pagenum();
      if (pagenum == 0) break;
      requests.set_pagenum(pagenum - 1u);
      replace_text = paging_link(request, requests, value_of(params, u"caption"), u"prior_page");
      break;
    }
    case Kind::pages: {
      const Tmwrequests& requests = context.requests();
      const Tpage_range range =
          page_list_range(context.setup.rows, requests.pagenum(), cursor->book_count());
      Tmwrequests link_requests(requests);
      UnicodeString text;
      for (int64_t i = range.first; i <= range.last; ++i) {
        if (!text.empty()) text += u' ';
        const UnicodeString number = int_to_text(i);
        if (i == range.cur) {
          Thtml_tag current(u"span", number);
          current.set_attribute(u"class", u"cur_page");
          text += current.to_html();
        } else {
          link_requests.set_pagenum(static_cast<uint32_t>(i - 1));
          text += paging_link(request, link_requests, number, u"page_list");
        }
      }
      replace_text = text;
      break;
    }
  }
  return true;
}

}  // namespace Mirel::MirelWeb
