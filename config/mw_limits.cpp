// The request limits of section "Limits" in mirelweb.ini.
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
  return limits;
}

}  // namespace Mirel::MirelWeb
