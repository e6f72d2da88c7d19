// The new-arrivals holder: the range kind chosen by the template's settings
// and the range object that goes with it.
#include "library/mwnewbook.h"

#include "platform/exception.h"

namespace Mirel::MirelWeb {

namespace {

const char16_t* const kNoRangeMessage = u"新着案内の範囲が設定されていません";

}  // namespace

void Tmwnewbook::set_type(int32_t type) {
  switch (type) {
    case 1:
      range_ = std::make_shared<Tmwrange_ukeire>(initial_count_);
      break;
    case 2:
      range_ = std::make_shared<Tmwrange_ukeire_day>(initial_count_);
      break;
    case 3:
      range_ = std::make_shared<Tmwrange_bookid>(initial_count_);
      break;
    default:
      type = 0;
      range_ = std::make_shared<Tmwrange_ukeire>(initial_count_);
      break;
  }
  range_type_ = type;
}

void Tmwnewbook::set_range_size(int32_t size) {
  if (!range_) return;
  // Kind 0 is the newest accession date alone, whatever the template says.
  range_->set_count(range_type_ != 0 ? size : 0);
}

const Tmwrange& Tmwnewbook::checked_range() const {
  if (!range_) throw Exception(kNoRangeMessage);
  return *range_;
}

UnicodeString Tmwnewbook::lower() const { return checked_range().lower(); }

UnicodeString Tmwnewbook::upper() const { return checked_range().upper(); }

void Tmwnewbook::fetch(uint32_t wait_ms, const UnicodeString& private_dir,
                       const UnicodeString& database_name) {
  checked_range();
  range_->fetch(wait_ms, private_dir, database_name);
}

}  // namespace Mirel::MirelWeb
