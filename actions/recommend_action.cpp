// The recommend action ("/recommend"): the books the librarians marked as
// recommended, read from the library tables through the recommended-books
// source and shown with the list template. The whole read, from creating
// the source to the end of page production, runs under the database mutex.
#include "app/web_main.h"
#include "error/mwerror.h"
#include "library/mwrecommenddb.h"
#include "library/named_mutex.h"

namespace Mirel::MirelWeb {

void TWebMain::WebMainRequestRecommendAction(TWebRequest&, TWebResponse& response, bool&) {
  run_guarded(kActionFailureMessage, [&] {
    if (answer_request_past_limits()) return;
    TNamedMutex mutex(kMirelWebMutexName);
    if (!mutex.wait(mutex_timeout, TLockMode::shared)) {
      // A busy database is an expected condition: a page, no log line, and
      // no database access.
      set_busy_error(*error);
      produce_error_page();
      mutex.close();
      return;
    }
    // From here every path closes the source, then gives the mutex back
    // (the mutex's destructor does that last part when a close throws).
    // The page is sent only after that: a web server may end the process
    // as soon as it has the whole response.
    bool not_found = false;
    try {
      recommenddb = std::make_shared<Tmwrecommenddb>();
      recommenddb->open_database(u"");
      recommenddb->open_query(path->db_alias);
      if (recommenddb->record_count() == 0) {
        set_not_found_error(*error);
        prepare_error_page();
        not_found = true;
      } else {
        // The tags read the source while its query is open.
        PageProducer.SetHTMLFile(path->html_path + u"list.html");
        response.SetContent(PageProducer.Content());
      }
    } catch (...) {
      if (recommenddb) {
        // The failure on its way out is the one to report; a second one
        // while closing would only hide it.
        try {
          recommenddb->close_query();
          recommenddb->close_database();
        } catch (...) {
        }
      }
      mutex.release();
      mutex.close();
      throw;
    }
    recommenddb->close_query();
    recommenddb->close_database();
    mutex.release();
    mutex.close();
    if (not_found) response.SendResponse();
  });
}

}  // namespace Mirel::MirelWeb
