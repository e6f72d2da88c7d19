// The one routine through which every page of books is produced: the
// database mutex is held, as a scoped guard and shared with other requests
// (never with the library's maintenance), from before the source is opened
// until it is closed again, so the tags read the books while no one
// rewrites the library data, and every way out gives it back.
// No page byte is sent while the mutex is held.
#include <cstdlib>

#include "actions/actions.h"
#include "error/mwerror.h"
#include "library/named_mutex.h"
#include "platform/integer.h"
#include "search/conditions.h"

namespace Mirel::MirelWeb {

uint32_t database_wait_ms(uint32_t configured) {
#ifdef MIRELWEB_TEST_HOOKS
  if (const char* text = std::getenv("MIRELWEB_TEST_MUTEX_WAIT_MS"))
    if (const auto ms = text_to_int(std::string_view(text)); ms && *ms >= 0)
      return static_cast<uint32_t>(*ms);
#endif
  return configured;
}

namespace {

// What the work under the mutex left to send once the mutex is given back.
enum class Tlist_outcome { page, busy, not_found, narrow };

Tlist_outcome produce_under_mutex(Taction_services& services, Tlisted_source& source,
                                  const UnicodeString& template_name) {
  // The destructor releases the mutex and closes its handle.
  TNamedMutex mutex(kMirelWebMutexName);
  if (!mutex.wait(database_wait_ms(services.mutex_timeout), TLockMode::shared))
    return Tlist_outcome::busy;
  Mirelsearch_tlb::Ibook_cursor* books = nullptr;
  try {
    books = &source.open();
  } catch (const Mirelsearch_tlb::ESearchTimeout&) {
    // Nothing was opened that could be closed.
    return Tlist_outcome::narrow;
  }
  Tlist_outcome outcome = Tlist_outcome::page;
  try {
    if (books->book_count() != 0 || services.produce_without_books) {
      services.response.SetContent(services.produce(services.path.html_path + template_name));
    } else {
      set_not_found_error(services.error);
      services.prepare_error_page();
      outcome = Tlist_outcome::not_found;
    }
  } catch (const Mirelsearch_tlb::ESearchTimeout&) {
    source.close();
    return Tlist_outcome::narrow;
  } catch (...) {
    source.close_after_failure();
    throw;
  }
  source.close();
  return outcome;
}

}  // namespace

void produce_list_page(Taction_services& services, Tlisted_source& source,
                       const UnicodeString& template_name) {
  switch (produce_under_mutex(services, source, template_name)) {
    case Tlist_outcome::page:
      break;
    case Tlist_outcome::busy:
      // Busy is an expected condition: a page, not a failure, and no log line.
      set_busy_error(services.error);
      services.produce_error_page();
      break;
    case Tlist_outcome::not_found:
      services.response.SendResponse();
      break;
    case Tlist_outcome::narrow:
      set_narrow_error(services.error);
      services.produce_error_page();
      break;
  }
}

}  // namespace Mirel::MirelWeb
