// The search page service: the catalogue search that an action has prepared
// is opened, read and closed by the list-page routine while this process
// holds the database mutex. An empty template name ends in a redirect to
// the top page, without the mutex or the search.
#include <chrono>
#include <cstdlib>

#include "actions/actions.h"
#include "html/link.h"
#include "platform/integer.h"
#include "search/mirel_search.h"

namespace Mirel::MirelWeb {

namespace {

// A build with MIRELWEB_TEST_HOOKS lets MIRELWEB_TEST_SEARCH_CLOCK_STEP_MS
// make every reading of the search's budget clock advance by that many
// milliseconds, so that a test sees a budget run out without a slow search.
void install_test_clock() {
#ifdef MIRELWEB_TEST_HOOKS
  if (const char* text = std::getenv("MIRELWEB_TEST_SEARCH_CLOCK_STEP_MS")) {
    if (const auto ms = text_to_int(std::string_view(text)); ms && *ms > 0) {
      Mirelsearch_tlb::detail::set_search_clock_for_tests(
          [step = std::chrono::milliseconds(*ms), now = std::chrono::steady_clock::now()]() mutable {
            return now += step;
          });
    }
  }
#endif
}

// A prepared search: connect and open on the way in; close and disconnect
// on the way out, whether the page succeeded or not.
class Tsearch_source : public Tlisted_source {
 public:
  Tsearch_source(Mirelsearch_tlb::Tmirel_search& search, const UnicodeString& alias)
      : search_(search), alias_(alias) {}

  Mirelsearch_tlb::Ibook_cursor& open() override {
    search_.connect(u"");
    search_.open(alias_);
    return search_;
  }
  void close() override {
    search_.close();
    search_.disconnect();
  }
  void close_after_failure() override { close(); }

 private:
  Mirelsearch_tlb::Tmirel_search& search_;
  const UnicodeString& alias_;
};

}  // namespace

void produce_search_page(Taction_services& services, const UnicodeString& template_name) {
  if (template_name.empty()) {
    services.response.SendRedirect(to_ansi(script_url(services.request, u"")));
    return;
  }
  if (!services.search) throw Exception(u"検索が準備されていません");
  // The time budget starts inside open, once the catalogue is current.
  install_test_clock();
  services.search->set_budget({services.limits.search_ms, services.limits.cpu_seconds});
  Tsearch_source source(*services.search, services.path.db_alias);
  produce_list_page(services, source, template_name);
}

}  // namespace Mirel::MirelWeb
