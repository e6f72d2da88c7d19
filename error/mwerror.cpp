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

namespace Mirel::MirelWeb {

void set_narrow_error(Tmwerror& error) {
  error.set_name(u"検索条件を絞り込んでください");
  error.set_message(
      u"検索キーワードが長すぎるか語が多すぎる、または検索に時間がかかりすぎたため、検索を中止しました。<br>"
      u"キーワードを短くする、語の数を減らす、一文字だけの語や ISBN の数桁だけの指定を避ける、"
      u"書名・著者名など他の項目と組み合わせる、などして検索を絞り込んでから、もう一度お試しください。");
}

}  // namespace Mirel::MirelWeb
