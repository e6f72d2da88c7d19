// Warnings of the engine: conditions that let a request go on but that an
// administrator should hear of. Each message is reported once per process.

#include <mutex>
#include <set>

#include "database/engine.h"

namespace Mirel::Database {
namespace {

struct TWarnings {
  std::mutex mutex;
  std::function<void(const UnicodeString&)> handler;
  UnicodeString last;
  std::set<UnicodeString> seen;
};
TWarnings& warnings() {
  static TWarnings w;
  return w;
}

}  // namespace

void set_warning_handler(std::function<void(const UnicodeString&)> handler) {
  std::lock_guard lock(warnings().mutex);
  warnings().handler = std::move(handler);
}

UnicodeString last_warning() {
  std::lock_guard lock(warnings().mutex);
  return warnings().last;
}

namespace detail {

void warn(const UnicodeString& message) {
  std::function<void(const UnicodeString&)> handler;
  {
    std::lock_guard lock(warnings().mutex);
    TWarnings& w = warnings();
    w.last = message;
    if (!w.seen.insert(message).second) return;
    handler = w.handler;
  }
  // Outside the lock: the handler may write a log, or even query again.
  if (handler) handler(message);
}

}  // namespace detail
}  // namespace Mirel::Database
