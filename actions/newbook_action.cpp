// The new-arrivals action ("/newbook") and the handler of its settings pass.
// The library sets the kind and width of the new-arrivals range in the list
// template's SETUP tag; the action reads them with a pass of its own over
// list.html, fetches the range's bounds from the library tables and then
// searches the catalogue for the books inside it, newest first, through the
// search page service.
#include "actions/actions.h"
#include "error/mwerror.h"
#include "library/mwnewbook.h"
#include "library/named_mutex.h"
#include "platform/integer.h"
#include "search/mirel_search.h"

namespace Mirel::MirelWeb {

bool prepare_newbook_search(Taction_services& services) {
  std::shared_ptr<Tmwnewbook>& newbook = services.newbook;
  newbook = std::make_shared<Tmwnewbook>();

  // The settings pass: only the SETUP handler's work counts, the produced
  // text is dropped.
  const UnicodeString list_file = services.path.html_path + u"list.html";
  services.read_settings(list_file);
  if (!newbook->has_range()) {
    // Searching without a range would list the whole catalogue; tell the
    // librarian what the template lacks instead.
    throw Exception(list_file +
                    u" に SETUP タグ（newbook_typeid と newbook_range）がありません。"
                    u"新着案内の範囲を決めるには、例えば newbook_typeid=1 newbook_range=3 を"
                    u"持つ SETUP タグを書き加えてください");
  }

  try {
    newbook->fetch(database_wait_ms(services.mutex_timeout), u"", services.path.db_alias);
  } catch (const EMutexTimeout&) {
    set_busy_error(services.error);
    services.produce_error_page();
    return false;
  }

  auto search = std::make_shared<Mirelsearch_tlb::Tmirel_search>();
  services.search = search;
  const bool by_bookid = newbook->range_type() == 3;
  std::shared_ptr<Mirelsearch_tlb::Tstring_range> range;
  if (by_bookid)
    range = std::make_shared<Mirelsearch_tlb::Trange_bookid>();
  else
    range = std::make_shared<Mirelsearch_tlb::Trange_ukeire>();
  range->set_mode(0);
  range->set_range(newbook->lower(), newbook->upper());
  auto order = std::make_shared<Mirelsearch_tlb::Tsql_order>();
  order->set_field_name(by_bookid ? u"MS_BOOKID" : u"MS_UKEIRE");
  order->set_option(1);  // newest first
  search->add_range(range);
  search->set_sort(order);
  search->set_flag(true);
  return true;
}

void newbook_action(Taction_services& services) {
  // The mutex of the range fetch is released by now; the service takes it
  // again for the search and the page.
  if (prepare_newbook_search(services)) produce_search_page(services, u"list.html");
}

void newbook_settings_tag(std::shared_ptr<Tmwnewbook>& newbook, TTag tag, const UnicodeString& name,
                          const TStrings& params, UnicodeString& replace_text) {
  // Every tag of the settings pass, SETUP included, becomes nothing.
  replace_text.clear();
  if (tag != TTag::tgCustom || name != u"SETUP") return;
  if (!newbook) newbook = std::make_shared<Tmwnewbook>();
  // Each SETUP tag replaces the range; the last one decides.
  newbook->set_type(text_to_int_def(value_of(params, u"newbook_typeid"), 0));
  newbook->set_range_size(text_to_int_def(value_of(params, u"newbook_range"), -1));
}

}  // namespace Mirel::MirelWeb
