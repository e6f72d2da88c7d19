// The active data source of the book tags (see record_source.h): each call
// goes to the search component or to the recommended-books source.
#include "render/record_source.h"

#include <array>

#include "app/web_main.h"
#include "library/mwrecommenddb.h"
#include "search/mirel_search.h"

namespace Mirel::MirelWeb {

using Mirelsearch_tlb::Imirel_search;

namespace {

struct Tfield_readers {
  UnicodeString (Imirel_search::*search)();
  UnicodeString (Tmwrecommenddb::*recommend)() const;
};

// Indexed by Trecord_field.
constexpr std::array<Tfield_readers, 15> kReaders = {{
    {&Imirel_search::get_BOOKID, &Tmwrecommenddb::bookid},
    {&Imirel_search::get_SYOMEI, &Tmwrecommenddb::syomei},
    {&Imirel_search::get_SYOKANA, &Tmwrecommenddb::syokana},
    {&Imirel_search::get_CHOSYA, &Tmwrecommenddb::chosya},
    {&Imirel_search::get_CHOKANA, &Tmwrecommenddb::chokana},
    {&Imirel_search::get_SYUPAN, &Tmwrecommenddb::syupan},
    {&Imirel_search::get_SYUNEN, &Tmwrecommenddb::syunen},
    {&Imirel_search::get_ISBN, &Tmwrecommenddb::isbn},
    {&Imirel_search::get_PAGE, &Tmwrecommenddb::page},
    {&Imirel_search::get_OOKISA, &Tmwrecommenddb::ookisa},
    {&Imirel_search::get_SEIKYU, &Tmwrecommenddb::seikyu},
    {&Imirel_search::get_KENMEI, &Tmwrecommenddb::kenmei},
    {&Imirel_search::get_NAIYO, &Tmwrecommenddb::naiyo},
    {&Imirel_search::get_UKEIRE, &Tmwrecommenddb::ukeire},
    {&Imirel_search::get_MEMO, &Tmwrecommenddb::memo},
}};
static_assert(kReaders.size() == static_cast<size_t>(Trecord_field::memo) + 1);

}  // namespace

Trecord_source::Trecord_source(const TWebMain& module) {
  if (module.search)
    search_ = module.search.get();
  else if (module.recommenddb)
    recommend_ = module.recommenddb.get();
}

int32_t Trecord_source::record_count() const {
  return search_ ? search_->get_record_count() : recommend_->record_count();
}

bool Trecord_source::is_eof() const {
  return search_ ? search_->get_is_eof() : recommend_->is_eof();
}

int32_t Trecord_source::move_by(int32_t count) {
  if (!search_) return recommend_->move_by(count);
  int32_t moved = 0;
  search_->move_by(count, moved);
  return moved;
}

void Trecord_source::next() {
  if (search_)
    search_->move_next();
  else
    recommend_->next();
}

UnicodeString Trecord_source::text(Trecord_field field) const {
  const Tfield_readers& r = kReaders[static_cast<size_t>(field)];
  return search_ ? (search_->*r.search)() : (recommend_->*r.recommend)();
}

int32_t Trecord_source::kingaku() const {
  return search_ ? search_->get_KINGAKU() : recommend_->kingaku();
}

UnicodeString Trecord_source::syozai() const {
  const auto location = search_ ? search_->get_SYOZAI() : recommend_->syozai();
  return location ? location->get_Value() : UnicodeString();
}

bool Trecord_source::is_kasidasi() const {
  return search_ ? search_->get_is_kasidasi() : recommend_->is_kasidasi();
}

bool Trecord_source::is_fumei() const {
  return search_ ? search_->get_is_fumei() : recommend_->is_fumei();
}

bool Trecord_source::is_kinsi() const {
  const auto lending_class = search_ ? search_->get_kkubun() : recommend_->kkubun();
  return lending_class && lending_class->get_is_kinsi();
}

}  // namespace Mirel::MirelWeb
