// The recommend action ("/recommend"): the books the librarians marked as
// recommended, read from the library tables through the recommended-books
// source and shown with the list template. The source is created, opened,
// read and closed inside the list-page routine, under the database mutex.
#include "actions/actions.h"
#include "library/mwrecommenddb.h"

namespace Mirel::MirelWeb {

namespace {

// The recommended-books source, made afresh in its slot once the mutex is
// held (a busy database leaves the slot empty).
class Trecommend_source : public Tlisted_source {
 public:
  Trecommend_source(std::shared_ptr<Tmwrecommenddb>& slot, const UnicodeString& alias)
      : slot_(slot), alias_(alias) {}

  Mirelsearch_tlb::Ibook_cursor& open() override {
    try {
      slot_ = std::make_shared<Tmwrecommenddb>();
      slot_->open_database(u"");
      slot_->open_query(alias_);
    } catch (...) {
      close_after_failure();
      throw;
    }
    return *slot_;
  }
  void close() override {
    slot_->close_query();
    slot_->close_database();
  }
  void close_after_failure() override {
    if (!slot_) return;
    // The failure on its way out is the one to report; a second one while
    // closing would only hide it.
    try {
      close();
    } catch (...) {
    }
  }

 private:
  std::shared_ptr<Tmwrecommenddb>& slot_;
  const UnicodeString& alias_;
};

}  // namespace

void recommend_action(Taction_services& services) {
  Trecommend_source source(services.recommenddb, services.path.db_alias);
  produce_list_page(services, source, u"list.html");
}

}  // namespace Mirel::MirelWeb
