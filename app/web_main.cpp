// Construction, destruction and the action table of the web module, and the
// one-line handlers that hand each action and each tag to its function.
#include "app/web_main.h"

#include "actions/actions.h"
#include "database/database.h"
#include "error/error_log.h"
#include "error/mwerror.h"
#include "library/book_holdings.h"
#include "library/mwrecommenddb.h"
#include "render/page_context.h"
#include "search/mirel_search.h"

namespace Mirel::MirelWeb {

TWebMain::TWebMain(const TWebMainEnvironment& environment) : environment_(environment) {
  using namespace std::placeholders;
  auto action = [this](auto method) -> TActionHandler {
    return [this, method](TWebRequest& rq, TWebResponse& rs, bool& h) { (this->*method)(rq, rs, h); };
  };
  Actions = {
      {"DefaultAction", "/", true, action(&TWebMain::WebMainDefaultActionAction)},
      {"RequestList", "/list", false, action(&TWebMain::WebMainRequestListAction)},
      {"RequestPage", "/data", false, action(&TWebMain::WebMainRequestListAction)},
      {"RequestRecommend", "/recommend", false, action(&TWebMain::WebMainRequestRecommendAction)},
      {"RequestNewBook", "/newbook", false, action(&TWebMain::WebMainRequestNewBookAction)},
      {"RequestFeed", "/feed", false, action(&TWebMain::WebMainRequestFeedAction)},
  };
  PageProducer.SetOnHTMLTag(std::bind(&TWebMain::PageProducerHTMLTag, this, _1, _2, _3, _4, _5));
  ListRowProducer.SetOnHTMLTag(std::bind(&TWebMain::ListRowProducerHTMLTag, this, _1, _2, _3, _4, _5));
  NewBookProducer.SetOnHTMLTag(std::bind(&TWebMain::NewBookProducerHTMLTag, this, _1, _2, _3, _4, _5));
  // The row template is produced once per row of a list: read it once.
  ListRowProducer.SetKeepParsed(true);

  error_log = std::make_unique<TErrorLog>(environment_.log_path);
  path = std::make_shared<Tmw_path>();
  setup = std::make_shared<Tmw_setup>();
  error = std::make_shared<Tmwerror>();
  // Every holder of the database mutex waits this long ([Web] LockWaitSeconds).
  mutex_timeout = environment_.limits.lock_wait_ms;
  // The configuration: mirelweb.ini beside the program, migrated from
  // mirelweb.conf when only that exists. A failure is logged and ends the
  // construction; a foreign exception becomes the administrator message.
  run_guarded(kActionFailureMessage,
              [this] { *path = read_configuration(environment_.program_dir); });
  BaseUrl = to_ansi(path->base_url);
  // What the database engine reports without failing (a cache directory it
  // cannot write, so that it reads the tables into memory) is something the
  // administrator must hear of: one log line per message and process.
  // Registered last, so that a construction that fails leaves no handler
  // behind; the destructor removes it.
  Mirel::Database::set_warning_handler(
      [this](const UnicodeString& message) { write_error_log(message); });
}

TWebMain::~TWebMain() {
  Mirel::Database::set_warning_handler(nullptr);
  context_.reset();
  holdings_.reset();
  newbook.reset();
  recommend_caption.clear();
  error.reset();
  recommenddb.reset();
  search.reset();
  setup.reset();
  path.reset();
  error_log.reset();
}

Taction_services TWebMain::services() {
  return Taction_services{
      *Request, *Response, *path, *error, mutex_timeout, environment_.limits, search, recommenddb,
      newbook,
      [this](const UnicodeString& file) {
        PageProducer.SetHTMLFile(file);
        UnicodeString page = PageProducer.Content();
        // Read under the same mutex as the page; not kept past it.
        holdings_.reset();
        return page;
      },
      [this](const UnicodeString& file) {
        NewBookProducer.SetHTMLFile(file);
        NewBookProducer.Content();
      },
      [this] { produce_error_page(); },
      [this] { prepare_error_page(); },
      false,
  };
}

TPageContext& TWebMain::context() {
  if (!context_) {
    context_ = std::make_unique<TPageContext>(*Request, *setup, recommend_caption, newbook, *error,
                                              row_number);
    context_->tag_boundary = [this](const std::function<void()>& work) {
      run_guarded(kTagFailureMessage, work);
    };
    context_->produce_row = [this] {
      ListRowProducer.SetHTMLFile(path->html_path + context_->row_template);
      return ListRowProducer.Content();
    };
    context_->holdings = [this]() -> Ibook_holdings& {
      if (!holdings_) holdings_ = std::make_unique<Tmwbook_holdings>(path->db_alias);
      return *holdings_;
    };
  }
  // The search when an action made one, else the recommended books.
  if (search)
    context_->cursor = search.get();
  else if (recommenddb)
    context_->cursor = recommenddb.get();
  else
    context_->cursor = nullptr;
  return *context_;
}

void TWebMain::produce_page(const UnicodeString& template_name) {
  auto s = services();
  produce_search_page(s, template_name);
}

void TWebMain::WebMainDefaultActionAction(TWebRequest&, TWebResponse&, bool&) {
  run_guarded(kActionFailureMessage, [this] { auto s = services(); default_action(s); });
}

void TWebMain::WebMainRequestListAction(TWebRequest&, TWebResponse&, bool&) {
  run_guarded(kActionFailureMessage, [this] {
    if (answer_request_past_limits()) return;
    auto s = services();
    list_action(s);
  });
}

void TWebMain::WebMainRequestRecommendAction(TWebRequest&, TWebResponse&, bool&) {
  run_guarded(kActionFailureMessage, [this] {
    if (answer_request_past_limits()) return;
    auto s = services();
    recommend_action(s);
  });
}

void TWebMain::WebMainRequestNewBookAction(TWebRequest&, TWebResponse&, bool&) {
  run_guarded(kActionFailureMessage, [this] {
    if (answer_request_past_limits()) return;
    auto s = services();
    newbook_action(s);
  });
}

void TWebMain::WebMainRequestFeedAction(TWebRequest&, TWebResponse&, bool&) {
  run_guarded(kActionFailureMessage, [this] {
    if (answer_request_past_limits()) return;
    auto s = services();
    feed_action(s);
  });
}

void TWebMain::PageProducerHTMLTag(TPageProducer&, TTag tag, const UnicodeString& tag_string,
                                   TStrings& tag_params, UnicodeString& replace_text) {
  page_tag(context(), tag, tag_string, tag_params, replace_text);
}

void TWebMain::ListRowProducerHTMLTag(TPageProducer&, TTag tag, const UnicodeString& tag_string,
                                      TStrings& tag_params, UnicodeString& replace_text) {
  row_tag(context(), tag, tag_string, tag_params, replace_text);
}

void TWebMain::NewBookProducerHTMLTag(TPageProducer&, TTag tag, const UnicodeString& tag_string,
                                      TStrings& tag_params, UnicodeString& replace_text) {
  run_guarded(kTagFailureMessage,
              [&] { newbook_settings_tag(newbook, tag, tag_string, tag_params, replace_text); });
}

}  // namespace Mirel::MirelWeb
