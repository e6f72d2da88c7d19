// Tmwini_path: the installation record in section "Path" of mirelweb.ini.
#include "config/mw_settings.h"

namespace Mirel::MirelWeb {

Tmwini_path::Tmwini_path()
    : html_(u"Path", u"Html", u""), db_(u"Path", u"Db", u""), base_url_(u"Path", u"BaseUrl", u"") {}

Tmw_path Tmwini_path::read_path(const std::string& ini_file) {
  const Tini_document doc = Tini_document::load(ini_file);
  UnicodeString base_url = base_url_.read(doc);
  // Links append "/list" and the like; "…/mirelweb/" would give "//list".
  while (!base_url.empty() && base_url.back() == u'/') base_url.pop_back();
  return Tmw_path{html_.read(doc), db_.read(doc), base_url};
}

void Tmwini_path::write_path(const std::string& ini_file, const Tmw_path& path) {
  std::vector<Tini_value> values;
  if (!path.html_path.empty()) values.push_back({html_.get_section(), html_.get_key(), path.html_path});
  if (!path.db_alias.empty()) values.push_back({db_.get_section(), db_.get_key(), path.db_alias});
  write_ini_values(ini_file, values);
}

}  // namespace Mirel::MirelWeb
