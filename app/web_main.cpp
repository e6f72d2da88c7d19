// Construction, destruction and the action table of the web module, the
// default action, and the two small helpers list_path and dash_if_blank.
#include "app/web_main.h"

#include "database/database.h"
#include "error/error_log.h"
#include "error/mwerror.h"

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
  };
  PageProducer.SetOnHTMLTag(std::bind(&TWebMain::PageProducerHTMLTag, this, _1, _2, _3, _4, _5));
  ListRowProducer.SetOnHTMLTag(std::bind(&TWebMain::ListRowProducerHTMLTag, this, _1, _2, _3, _4, _5));
  NewBookProducer.SetOnHTMLTag(std::bind(&TWebMain::NewBookProducerHTMLTag, this, _1, _2, _3, _4, _5));

  error_log = std::make_unique<TErrorLog>(environment_.log_path);
  path = std::make_shared<Tmw_path>();
  setup = std::make_shared<Tmw_setup>();
  error = std::make_shared<Tmwerror>();
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
  newbook.reset();
  recommend_caption.clear();
  error.reset();
  recommenddb.reset();
  search.reset();
  setup.reset();
  path.reset();
  error_log.reset();
}

void TWebMain::WebMainDefaultActionAction(TWebRequest&, TWebResponse& response, bool&) {
  run_guarded(kActionFailureMessage, [&] {
    const bool error_pending = error && !error->get_name().empty();
    PageProducer.SetHTMLFile(path->html_path + (error_pending ? u"error.html" : u"top.html"));
    response.SetContent(PageProducer.Content());
  });
}

UnicodeString list_path(int32_t kind) {
  switch (kind) {
    case 0: return u"/list";
    case 1: return u"/recommend";
    case 2: return u"/newbook";
    default: return u"";
  }
}

UnicodeString dash_if_blank(const UnicodeString& value, const TWebRequest& request) {
  if (value.empty() && request.PathInfo() == "/data") return u"---";
  return value;
}

}  // namespace Mirel::MirelWeb
