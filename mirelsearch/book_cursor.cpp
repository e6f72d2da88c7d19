// The search's hits as a book cursor: every call goes through the getter
// of the same meaning, so a failure names the getter as it always has.
#include <array>

#include "search/mirel_search.h"

namespace Mirelsearch_tlb {

namespace {

// Indexed by Tbook_field.
constexpr std::array<UnicodeString (Tmirel_search::*)(), 15> kGetters = {
    &Tmirel_search::get_BOOKID, &Tmirel_search::get_SYOMEI, &Tmirel_search::get_SYOKANA,
    &Tmirel_search::get_CHOSYA, &Tmirel_search::get_CHOKANA, &Tmirel_search::get_SYUPAN,
    &Tmirel_search::get_SYUNEN, &Tmirel_search::get_ISBN,   &Tmirel_search::get_PAGE,
    &Tmirel_search::get_OOKISA, &Tmirel_search::get_SEIKYU, &Tmirel_search::get_KENMEI,
    &Tmirel_search::get_NAIYO,  &Tmirel_search::get_UKEIRE, &Tmirel_search::get_MEMO,
};
static_assert(kGetters.size() == static_cast<size_t>(Tbook_field::memo) + 1);

}  // namespace

int32_t Tmirel_search::book_count() { return get_record_count(); }

int32_t Tmirel_search::skip_books(int32_t count) {
  int32_t moved = 0;
  move_by(count, moved);
  return moved;
}

bool Tmirel_search::past_last_book() { return get_is_eof(); }
void Tmirel_search::next_book() { move_next(); }

UnicodeString Tmirel_search::book_text(Tbook_field field) {
  return (this->*kGetters[static_cast<size_t>(field)])();
}

int32_t Tmirel_search::book_price() { return get_KINGAKU(); }

UnicodeString Tmirel_search::book_location() {
  const auto location = get_SYOZAI();
  return location ? location->get_Value() : UnicodeString();
}

bool Tmirel_search::on_loan() { return get_is_kasidasi(); }
bool Tmirel_search::missing() { return get_is_fumei(); }

bool Tmirel_search::not_for_loan() {
  const auto lending_class = get_kkubun();
  return lending_class && lending_class->get_is_kinsi();
}

}  // namespace Mirelsearch_tlb
