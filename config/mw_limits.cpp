// The request limits of section "Limits" in mirelweb.ini, and the wait for
// the database lock of section "Web".
#include "config/mw_settings.h"
#include "platform/integer.h"

namespace Mirel::MirelWeb {

Tmw_limits read_limits(const std::string& program_dir) {
  Tmw_limits limits;
  const Tini_document doc = Tini_document::load(program_dir + "mirelweb.ini");
  auto read = [&doc](const char16_t* key, int64_t& value) {
    const auto text = doc.value(u"Limits", key);
    if (!text) return;
    const auto number = text_to_int(std::u16string_view(*text));
    if (number && *number >= 0) value = *number;
  };
  read(u"MaxBodyBytes", limits.max_body_bytes);
  read(u"MaxValueBytes", limits.max_value_bytes);
  read(u"MaxWords", limits.max_words);
  read(u"SearchMilliseconds", limits.search_ms);
  read(u"CpuSeconds", limits.cpu_seconds);
  // A site may show its busy page sooner than after the full minute; a
  // longer wait would only keep more processes queued behind the lock.
  if (const auto text = doc.value(u"Web", u"LockWaitSeconds")) {
    const auto seconds = text_to_int(std::u16string_view(*text));
    if (seconds && *seconds >= 0 && *seconds <= 60) limits.lock_wait_ms = static_cast<uint32_t>(*seconds) * 1000u;
  }
  return limits;
}

}  // namespace Mirel::MirelWeb
