// The search page service: the catalogue search that an action has prepared
// is opened, read and closed while this process holds the database mutex
// (shared with other requests, never with the library's maintenance), and
// the named template is produced in between, so its tags read the hits
// while no one rewrites the library data. A busy database and a search
// without hits end in the error page; an empty template name in a redirect.
#include <cstdlib>

#include "app/web_main.h"
#include "error/mwerror.h"
#include "html/link.h"
#include "library/named_mutex.h"
#include "platform/integer.h"
#include "search/mirel_search.h"

namespace Mirel::MirelWeb {

namespace {

// How long this request waits for the mutex. A build configured with
// MIRELWEB_TEST_HOOKS lets the environment variable
// MIRELWEB_TEST_MUTEX_WAIT_MS replace the wait, so that the busy page can be
// tested without a full minute's wait; any other build always waits the
// module's fixed time.
uint32_t mutex_wait_ms(uint32_t configured) {
#ifdef MIRELWEB_TEST_HOOKS
  if (const char* text = std::getenv("MIRELWEB_TEST_MUTEX_WAIT_MS"))
    if (const auto ms = text_to_int(std::string_view(text)); ms && *ms >= 0)
      return static_cast<uint32_t>(*ms);
#endif
  return configured;
}

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

}  // namespace

void TWebMain::produce_page(const UnicodeString& template_name) {
  if (template_name.empty()) {
    Response->SendRedirect(to_ansi(script_url(*Request, u"")));
    return;
  }
  if (!search) throw Exception(u"検索が準備されていません");

  // The time budget starts inside open, once the catalogue is current.
  install_test_clock();
  search->set_budget({environment_.limits.search_ms, environment_.limits.cpu_seconds});
  // A search stopped by its budget has given the mutex back by now.
  auto narrow = [this] {
    set_narrow_error(*error);
    produce_error_page();
  };

  TNamedMutex mutex(kMirelWebMutexName);
  if (!mutex.wait(mutex_wait_ms(mutex_timeout), TLockMode::shared)) {
    // Busy is an expected condition: a page, not a failure, and no log line.
    set_busy_error(*error);
    produce_error_page();
    mutex.close();
    return;
  }

  try {
    search->connect(u"");
    search->open(path->db_alias);
  } catch (const Mirelsearch_tlb::ESearchTimeout&) {
    mutex.release();
    mutex.close();
    narrow();
    return;
  } catch (...) {
    // Nothing was opened that could be closed; only the mutex is given back.
    mutex.release();
    mutex.close();
    throw;
  }

  auto finish = [&] {
    search->close();
    search->disconnect();
    mutex.release();
    mutex.close();
  };
  // No page byte is written while the mutex is held: a web server may end
  // the process as soon as it has the whole response.
  bool not_found = false;
  try {
    if (search->get_record_count() != 0) {
      PageProducer.SetHTMLFile(path->html_path + template_name);
      Response->SetContent(PageProducer.Content());
    } else {
      set_not_found_error(*error);
      prepare_error_page();
      not_found = true;
    }
  } catch (const Mirelsearch_tlb::ESearchTimeout&) {
    finish();
    narrow();
    return;
  } catch (...) {
    finish();
    throw;
  }
  finish();
  if (not_found) Response->SendResponse();
}

}  // namespace Mirel::MirelWeb
