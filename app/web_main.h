// TWebMain, the web module: the one object that lives for the whole of a
// request. It owns the configuration, the three page producers, the error
// pair and log, and, once an action has created them, the search object, the
// recommended-books source and the new-arrivals driver. The actions
// (actions/) and the tag handlers (render/) are functions over what they
// use; the module's handlers forward to them, each inside the failure
// boundary, and this is the one place that brings every folder together.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "cgi/web_module.h"
#include "config/mw_settings.h"
#include "platform/strings.h"
#include "render/page_tags.h"
#include "template/page_producer.h"

namespace Mirelsearch_tlb {
class Tmirel_search;
}

namespace Mirel::MirelWeb {

class Tmwerror;
class Tmwrecommenddb;
class Tmwnewbook;
class TErrorLog;
class TPageContext;
class Ibook_holdings;
struct Taction_services;

// Messages of the exceptions that replace a thrown object outside the family.
inline constexpr const char16_t* kActionFailureMessage = u"サーバー管理者に問い合わせてください";
inline constexpr const char16_t* kTagFailureMessage = u"タグ置換処理に失敗しました";

// What the module needs from the process, behind a seam for tests.
struct TWebMainEnvironment {
  std::string program_dir;  // directory of the program file, with trailing '/'
  std::string remote_addr;  // REMOTE_ADDR, for log lines written during construction
  std::string log_path = "Error.txt";  // relative to the current directory
  Tmw_limits limits;        // section "Limits" of mirelweb.ini, read with the request
};

class TWebMain : public TWebModule {
 public:
  explicit TWebMain(const TWebMainEnvironment& environment);
  ~TWebMain() override;
  TWebMain(const TWebMain&) = delete;
  TWebMain& operator=(const TWebMain&) = delete;

  // Fields, in the order of their lifetime rules.
  TPageProducer PageProducer;
  TPageProducer ListRowProducer;
  TPageProducer NewBookProducer;
  std::unique_ptr<TErrorLog> error_log;
  std::shared_ptr<Tmw_path> path;
  std::shared_ptr<Tmw_setup> setup;
  std::shared_ptr<Mirelsearch_tlb::Tmirel_search> search;
  std::shared_ptr<Tmwrecommenddb> recommenddb;
  std::shared_ptr<Tmwerror> error;
  int32_t row_number = 0;
  UnicodeString recommend_caption;
  std::shared_ptr<Tmwnewbook> newbook;
  uint32_t mutex_timeout = 60000;

  // Error page and log. produce_error_page sends the page at once;
  // prepare_error_page only makes it the response's content, for a holder
  // of the database mutex that sends it after letting the mutex go.
  void produce_error_page();
  void prepare_error_page();
  void write_error_log(const UnicodeString& message);
  // The boundary of every action and tag handler: runs `work`; an Exception
  // is logged, its message becomes the reason phrase, and it is thrown on;
  // anything else thrown is first replaced by Exception(fallback_message).
  void run_guarded(const char16_t* fallback_message, const std::function<void()>& work);

  // The search page service: runs the prepared search under the mutex and
  // produces `template_name` (empty: redirect to the top page). A search
  // that runs past its time budget ends in the narrow-your-search page.
  void produce_page(const UnicodeString& template_name);
  // Called by every action that takes the database mutex, before it does:
  // when the request is past the limits of mirelweb.ini, sends the
  // narrow-your-search page (status 200, no log line) and returns true.
  bool answer_request_past_limits();

  // Actions.
  void WebMainDefaultActionAction(TWebRequest& request, TWebResponse& response, bool& handled);
  void WebMainRequestListAction(TWebRequest& request, TWebResponse& response, bool& handled);
  void WebMainRequestRecommendAction(TWebRequest& request, TWebResponse& response, bool& handled);
  void WebMainRequestNewBookAction(TWebRequest& request, TWebResponse& response, bool& handled);
  void WebMainRequestFeedAction(TWebRequest& request, TWebResponse& response, bool& handled);

  // Tag handlers of the three producers.
  void PageProducerHTMLTag(TPageProducer& sender, TTag tag, const UnicodeString& tag_string,
                           TStrings& tag_params, UnicodeString& replace_text);
  void ListRowProducerHTMLTag(TPageProducer& sender, TTag tag, const UnicodeString& tag_string,
                              TStrings& tag_params, UnicodeString& replace_text);
  void NewBookProducerHTMLTag(TPageProducer& sender, TTag tag, const UnicodeString& tag_string,
                              TStrings& tag_params, UnicodeString& replace_text);

 private:
  // What the actions use of the module, for the attached request.
  Taction_services services();
  // The page context of the request, made at the first tag; its book
  // cursor follows the module's current search or recommended-books source.
  TPageContext& context();
  std::unique_ptr<TPageContext> context_;
  // The loans, reservations and kinds of material of the page's books,
  // opened by the first tag that needs them and closed with the page.
  std::unique_ptr<Ibook_holdings> holdings_;

  TWebMainEnvironment environment_;
};

}  // namespace Mirel::MirelWeb
