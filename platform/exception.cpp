#include "platform/exception.h"

namespace Mirel {

Exception::Exception(UnicodeString message) : message_(std::move(message)) {
  // UTF-16 -> UTF-8 cannot fail for valid text; a lone surrogate becomes '?'.
  what_ = to_utf8(message_);
}

}  // namespace Mirel
