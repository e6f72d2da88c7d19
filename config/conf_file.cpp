// The legacy configuration file mirelweb.conf: lines of name=value with "#"
// comments, in code page 932 or in the encoding its byte order mark names.
#include <string_view>

#include "config/file_bytes.h"
#include "config/mw_settings.h"
#include "platform/exception.h"
#include "platform/strings.h"

namespace Mirel::MirelWeb {
namespace {

UnicodeString decode_conf(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return from_utf8(bytes.substr(3));
  if (bytes.substr(0, 2) == "\xFF\xFE") return from_codepage(bytes.substr(2), "UTF-16LE");
  if (bytes.substr(0, 2) == "\xFE\xFF") return from_codepage(bytes.substr(2), "UTF-16BE");
  return from_ansi(bytes);
}

}  // namespace

void load_conf_lines(const std::string& path, TStrings& lines) {
  std::string bytes;
  if (int e = Config::read_file_bytes(path, bytes))
    throw Exception(u"ファイル " + from_utf8(path) + u" は開けません。 " +
                    from_utf8(Config::error_text(e)) + u" ");
  const UnicodeString text = decode_conf(bytes);

  lines.clear();
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(u"\r\n", pos);
    if (end == UnicodeString::npos) end = text.size();
    std::u16string_view line = std::u16string_view(text).substr(pos, end - pos);
    pos = end;
    if (pos < text.size()) pos += (text[pos] == u'\r' && pos + 1 < text.size() && text[pos + 1] == u'\n') ? 2 : 1;

    line = line.substr(0, line.find(u'#'));
    const size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos) continue;
    UnicodeString entry(trim_blanks(line.substr(0, eq)));
    entry += u'=';
    entry += trim_blanks(line.substr(eq + 1));
    lines.push_back(std::move(entry));
  }
}

}  // namespace Mirel::MirelWeb
