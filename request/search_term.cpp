// Tmwsearch_term: builds the keyword and sort objects of one request and
// hands the non-empty ones to the search object. Every decision reads the
// texts back from the component's objects, never from a copy of its own.
#include "request/search_term.h"

#include "request/mwrequests.h"

namespace Mirel::MirelWeb {

using namespace Mirelsearch_tlb;

namespace {
constexpr int32_t kMatchExact = 3;
constexpr int32_t kModeWords = 0;
constexpr int32_t kAscending = 0;
constexpr int32_t kDescending = 1;
}  // namespace

Tmwsearch_term::Tmwsearch_term()
    : bookid_(std::make_shared<Tkw_bookid>()),
      syomei_(std::make_shared<Tkw_syomei_ex>()),
      chosya_(std::make_shared<Tkw_chosya_ex>()),
      syupan_(std::make_shared<Tkw_syupan>()),
      isbn_(std::make_shared<Tkw_isbn>()),
      content_(std::make_shared<Tkw_content>()),
      order_(std::make_shared<Tsql_order>()) {
  bookid_->set_match(kMatchExact);
  for (auto* keyword : {&bookid_, &syomei_, &chosya_, &syupan_, &isbn_, &content_})
    (*keyword)->set_mode(kModeWords);
}

bool Tmwsearch_term::load(TWebRequest* request) {
  if (request == nullptr) return false;
  const Tmwrequests params(*request);
  set_keyword_bookid(params.bookid());
  set_keyword_syomei(params.syomei());
  set_keyword_chosya(params.chosya());
  set_keyword_syupan(params.syupan());
  set_keyword_isbn(params.isbn());
  set_keyword_content(params.kenmei());
  // Only the exact upper-case word sorts descending; "desc" ascends.
  set_order(params.order(), params.order_kind() == u"DESC");
  for (const auto* keyword : {&bookid_, &syomei_, &chosya_, &syupan_, &isbn_, &content_})
    if (!(*keyword)->get_keyword().empty()) return true;
  return false;
}

void Tmwsearch_term::apply(Imirel_search& search) const {
  for (const auto* keyword : {&bookid_, &syomei_, &chosya_, &syupan_, &isbn_, &content_})
    if (!(*keyword)->get_keyword().empty()) search.add_keyword(*keyword);
  if (!order_->get_field_name().empty()) search.set_sort(order_);
}

void Tmwsearch_term::set_keyword_bookid(const UnicodeString& text) { bookid_->set_keyword(text); }
void Tmwsearch_term::set_keyword_syomei(const UnicodeString& text) { syomei_->set_keyword(text); }
void Tmwsearch_term::set_keyword_chosya(const UnicodeString& text) { chosya_->set_keyword(text); }
void Tmwsearch_term::set_keyword_syupan(const UnicodeString& text) { syupan_->set_keyword(text); }
void Tmwsearch_term::set_keyword_isbn(const UnicodeString& text) { isbn_->set_keyword(text); }
void Tmwsearch_term::set_keyword_content(const UnicodeString& text) { content_->set_keyword(text); }

UnicodeString Tmwsearch_term::keyword_bookid() const { return bookid_->get_keyword(); }
UnicodeString Tmwsearch_term::keyword_syomei() const { return syomei_->get_keyword(); }
UnicodeString Tmwsearch_term::keyword_chosya() const { return chosya_->get_keyword(); }
UnicodeString Tmwsearch_term::keyword_syupan() const { return syupan_->get_keyword(); }
UnicodeString Tmwsearch_term::keyword_isbn() const { return isbn_->get_keyword(); }
UnicodeString Tmwsearch_term::keyword_content() const { return content_->get_keyword(); }

void Tmwsearch_term::set_order(const UnicodeString& field_name, bool descending) {
  order_->set_field_name(field_name);
  order_->set_option(descending ? kDescending : kAscending);
}

UnicodeString Tmwsearch_term::order_field() const { return order_->get_field_name(); }

}  // namespace Mirel::MirelWeb
