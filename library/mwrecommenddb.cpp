// The recommended-books source over the database engine: one query joins
// feature.dbf to the master table and its companions, and the accessors
// read the current row by column name.
#include "library/mwrecommenddb.h"

#include <array>
#include <cstdlib>
#include <limits>

#include "library/db_reader.h"

namespace Mirel::MirelWeb {

Tmwrecommenddb::Tmwrecommenddb()
    : session_(detail::make_session(kRecommendSessionName)),
      query_(detail::make_query(kRecommendSessionName, kRecommendSql)),
      kkubun_(std::make_shared<Mirelsearch_tlb::Tkkubun>()),
      syozai_(std::make_shared<Mirelsearch_tlb::Tkubun>()) {}

Tmwrecommenddb::~Tmwrecommenddb() {
  try {
    close_database();
  } catch (...) {
    // Best effort: the page has been produced or the failure reported.
  }
}

bool Tmwrecommenddb::open_database(const UnicodeString& private_dir) {
  const bool was_open = session_->is_open();
  session_->open(private_dir);
  return was_open;
}

bool Tmwrecommenddb::close_database() {
  const bool was_open = session_->is_open();
  try {
    close_query();
  } catch (...) {
    session_->close();
    throw;
  }
  session_->close();
  return was_open;
}

bool Tmwrecommenddb::open_query(const UnicodeString& database_name) {
  return detail::open_query(*query_, database_name);
}

bool Tmwrecommenddb::close_query() { return detail::close_query(*query_); }

bool Tmwrecommenddb::is_eof() const { return query_->eof(); }

void Tmwrecommenddb::next() { query_->next(); }

int32_t Tmwrecommenddb::record_count() const { return query_->record_count(); }

int32_t Tmwrecommenddb::move_by(int32_t n) {
  // The cursor only goes forward: a negative count moves as far forward.
  // Taken in 64 bits so that the most negative count has a magnitude too.
  const int64_t magnitude = std::llabs(int64_t{n});
  const int64_t limit = std::numeric_limits<int32_t>::max();
  return query_->move_by(static_cast<int32_t>(magnitude > limit ? limit : magnitude));
}

UnicodeString Tmwrecommenddb::text(const char16_t* column) const {
  return query_->field_as_string(column);
}

UnicodeString Tmwrecommenddb::bookid() const { return text(u"FT_BOOKID"); }
UnicodeString Tmwrecommenddb::seikyu() const { return text(u"MS_SEIKYU"); }
UnicodeString Tmwrecommenddb::syomei() const { return text(u"MS_SYOMEI"); }
UnicodeString Tmwrecommenddb::chosya() const { return text(u"MS_CHOSYA"); }
UnicodeString Tmwrecommenddb::syokana() const { return text(u"MS_SYOKANA"); }
UnicodeString Tmwrecommenddb::chokana() const { return text(u"MS_CHOKANA"); }
UnicodeString Tmwrecommenddb::syupan() const { return text(u"MS_SYUPAN"); }
UnicodeString Tmwrecommenddb::syunen() const { return text(u"MS_SYUNEN"); }
UnicodeString Tmwrecommenddb::isbn() const { return text(u"MS_ISBN"); }
UnicodeString Tmwrecommenddb::page() const { return text(u"MS_PAGE"); }
UnicodeString Tmwrecommenddb::ookisa() const { return text(u"MS_OOKISA"); }
UnicodeString Tmwrecommenddb::kenmei() const { return text(u"MS_KENMEI"); }
UnicodeString Tmwrecommenddb::naiyo() const { return text(u"MS_NAIYO"); }
UnicodeString Tmwrecommenddb::ukeire() const { return text(u"MS_UKEIRE"); }
UnicodeString Tmwrecommenddb::memo() const { return text(u"MS_MEMO"); }

int32_t Tmwrecommenddb::kingaku() const {
  return query_->field_is_null(u"MS_KINGAKU") ? 0 : query_->field_as_integer(u"MS_KINGAKU");
}

std::shared_ptr<Mirelsearch_tlb::Ikubun> Tmwrecommenddb::syozai() {
  syozai_->set_code(text(u"MS_SYOZAI"), text(u"SY_SYOZAI"));
  return syozai_;
}

std::shared_ptr<Mirelsearch_tlb::Ikkubun> Tmwrecommenddb::kkubun() {
  kkubun_->set_code(text(u"MS_KKUBUN"), text(u"KK_KKNAME"));
  return kkubun_;
}

bool Tmwrecommenddb::is_kasidasi() const { return !query_->field_is_null(u"KA_HDATE"); }

bool Tmwrecommenddb::is_fumei() const {
  return query_->field_is_null(u"MS_TZENKAI") && !query_->field_is_null(u"MS_TFMSUU");
}

}  // namespace Mirel::MirelWeb

namespace Mirel::MirelWeb {

namespace {

// Indexed by Mirelsearch_tlb::Tbook_field.
constexpr std::array<UnicodeString (Tmwrecommenddb::*)() const, 15> kAccessors = {
    &Tmwrecommenddb::bookid, &Tmwrecommenddb::syomei, &Tmwrecommenddb::syokana,
    &Tmwrecommenddb::chosya, &Tmwrecommenddb::chokana, &Tmwrecommenddb::syupan,
    &Tmwrecommenddb::syunen, &Tmwrecommenddb::isbn,   &Tmwrecommenddb::page,
    &Tmwrecommenddb::ookisa, &Tmwrecommenddb::seikyu, &Tmwrecommenddb::kenmei,
    &Tmwrecommenddb::naiyo,  &Tmwrecommenddb::ukeire, &Tmwrecommenddb::memo,
};
static_assert(kAccessors.size() == static_cast<size_t>(Mirelsearch_tlb::Tbook_field::memo) + 1);

}  // namespace

UnicodeString Tmwrecommenddb::book_text(Mirelsearch_tlb::Tbook_field field) {
  return (this->*kAccessors[static_cast<size_t>(field)])();
}

UnicodeString Tmwrecommenddb::book_location() {
  const auto location = syozai();
  return location ? location->get_Value() : UnicodeString();
}

bool Tmwrecommenddb::not_for_loan() {
  const auto lending_class = kkubun();
  return lending_class && lending_class->get_is_kinsi();
}

}  // namespace Mirel::MirelWeb
