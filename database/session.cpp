// Private sessions and the process-wide list in which queries find their
// session by name. A session holds no connection of its own: every query
// opens its own connection when it is prepared, and closing a session closes
// the queries attached to it.

#include <algorithm>
#include <mutex>

#include "database/session_impl.h"

namespace Mirel::Database {
namespace detail {

std::mutex& session_mutex() {
  static std::mutex m;
  return m;
}

std::vector<TSession::Impl*>& session_registry() {
  static std::vector<TSession::Impl*> sessions;
  return sessions;
}

TSession::Impl* find_session(const UnicodeString& name) {
  std::lock_guard lock(session_mutex());
  TSession::Impl* found = nullptr;
  // The newest session of that name wins, an open one before a closed one.
  for (TSession::Impl* s : session_registry())
    if (same_text_ascii_ci(s->session_name, name) && (!found || s->open || !found->open))
      found = s;
  return found;
}

}  // namespace detail

TSession::TSession() : impl_(std::make_unique<Impl>()) {
  std::lock_guard lock(detail::session_mutex());
  detail::session_registry().push_back(impl_.get());
}

TSession::~TSession() {
  close();
  std::lock_guard lock(detail::session_mutex());
  auto& reg = detail::session_registry();
  reg.erase(std::remove(reg.begin(), reg.end(), impl_.get()), reg.end());
}

void TSession::set_component_name(const UnicodeString& name) { impl_->component_name = name; }
void TSession::set_private_dir(const UnicodeString& dir) { impl_->private_dir = dir; }
void TSession::set_session_name(const UnicodeString& name) { impl_->session_name = name; }
void TSession::set_auto_session_name(bool on) { impl_->auto_session_name = on; }
const UnicodeString& TSession::session_name() const { return impl_->session_name; }
const UnicodeString& TSession::private_dir() const { return impl_->private_dir; }
bool TSession::is_open() const { return impl_->open; }

bool TSession::open(const UnicodeString& private_dir) {
  if (!private_dir.empty()) impl_->private_dir = private_dir;
  if (impl_->auto_session_name && impl_->session_name.empty()) {
    static int counter = 0;
    impl_->session_name = u"Session_" + int_to_text(++counter);
  }
  const bool was_open = impl_->open;
  impl_->open = true;
  return was_open;
}

bool TSession::close() {
  const bool was_open = impl_->open;
  // Closing a session closes its queries (and lets them go of it).
  const auto queries = impl_->queries;
  for (auto* q : queries) q->detach_session();
  impl_->queries.clear();
  impl_->open = false;
  return was_open;
}

}  // namespace Mirel::Database
