#include "error/mwerror.h"

namespace Mirel::MirelWeb {

void Tmwerror::replace(const UnicodeString& tag_name, const TStrings&,
                       UnicodeString& replace_text) {
  if (tag_name == u"ERR_NAME")
    replace_text = name_;
  else if (tag_name == u"ERR_MSG")
    replace_text = message_;
}

void set_busy_error(Tmwerror& error) {
  error.set_name(u"データベースアクセスが混雑しています");
  error.set_message(
      u"アクセスの集中によって、データベースアクセスでタイムアウトが発生しました。<br>"
      u"しばらく時間をおいて、再度アクセスを試してください。");
}

void set_not_found_error(Tmwerror& error) {
  error.set_name(u"該当書籍は見付かりませんでした");
  error.set_message(u"検索項目を減らしたり、検索キーワードを短くする事で見付かる確率が高くなります");
}

}  // namespace Mirel::MirelWeb
