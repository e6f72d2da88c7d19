// Tmwsearch_term: the search conditions of one request.
//
// Turns the request parameters BOOKID, SYOMEI, CHOSYA, SYUPAN, ISBN, KENMEI,
// ORDER and ORDERKIND into keyword and sort objects of the catalogue search
// component, tells whether the visitor asked for anything, and hands the
// non-empty conditions to a search object. The term keeps no copy of the
// texts: the keyword and sort objects hold them and every test reads them
// back from there. It holds no results and never runs the search.
#pragma once

#include <memory>

#include "platform/unicode_string.h"
#include "search/mirel_search.h"

namespace Mirel::MirelWeb {

class TWebRequest;

class Tmwsearch_term {
 public:
  // Creates the seven objects (book id, title, author, publisher, ISBN,
  // content keywords, sort); the book-id keyword matches exactly (match 3),
  // every keyword uses mode 0.
  Tmwsearch_term();

  // Fills every keyword from the request (empty values included) and the
  // sort from ORDER, descending exactly when ORDERKIND is "DESC". Returns
  // true when at least one keyword is non-empty; the sort plays no part.
  // A null request returns false and changes nothing. Throws Exception
  // when the request's fields cannot be decoded.
  bool load(TWebRequest* request);

  // Adds the non-empty keywords (book id, title, author, publisher, ISBN,
  // content, in this order) and, when the sort field name is not empty,
  // the sort object to `search`.
  void apply(Mirelsearch_tlb::Imirel_search& search) const;

  void set_keyword_bookid(const UnicodeString& text);
  void set_keyword_syomei(const UnicodeString& text);
  void set_keyword_chosya(const UnicodeString& text);
  void set_keyword_syupan(const UnicodeString& text);
  void set_keyword_isbn(const UnicodeString& text);
  void set_keyword_content(const UnicodeString& text);

  UnicodeString keyword_bookid() const;
  UnicodeString keyword_syomei() const;
  UnicodeString keyword_chosya() const;
  UnicodeString keyword_syupan() const;
  UnicodeString keyword_isbn() const;
  UnicodeString keyword_content() const;

  // The sort field name (kept as given, even empty) and direction.
  void set_order(const UnicodeString& field_name, bool descending);
  UnicodeString order_field() const;

 private:
  std::shared_ptr<Mirelsearch_tlb::Istring_keyword> bookid_;
  std::shared_ptr<Mirelsearch_tlb::Istring_keyword> syomei_;
  std::shared_ptr<Mirelsearch_tlb::Istring_keyword> chosya_;
  std::shared_ptr<Mirelsearch_tlb::Istring_keyword> syupan_;
  std::shared_ptr<Mirelsearch_tlb::Istring_keyword> isbn_;
  std::shared_ptr<Mirelsearch_tlb::Istring_keyword> content_;
  std::shared_ptr<Mirelsearch_tlb::Isql_order> order_;
};

}  // namespace Mirel::MirelWeb
