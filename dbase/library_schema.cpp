// Column lists of the ten library tables (see library_schema.h).
#include "dbase/library_schema.h"

#include <cstdio>

namespace Mirel::Dbase {
namespace {

std::vector<TTableSchema> build() {
  return {
      {"master.dbf",
       {{"MS_BOOKID", 'C', kBookIdWidth},
        {"MS_FUKUID", 'C', kBookIdWidth},
        {"MS_SKUBUN", 'C', 2},
        {"MS_KKUBUN", 'C', 2},
        {"MS_SEIKYU", 'C', 20},
        {"MS_UKEIRE", 'D', 8},
        {"MS_ISBN", 'C', 20},
        {"MS_SYOMEI", 'C', 200},
        {"MS_SYOKANA", 'C', 200},
        {"MS_CHOSYA", 'C', 100},
        {"MS_CHOKANA", 'C', 100},
        {"MS_NAIYO", 'M', 10},
        {"MS_KENMEI", 'C', 60},
        {"MS_SYUNEN", 'C', 8},
        {"MS_SYUPAN", 'C', 60},
        {"MS_PAGE", 'C', 10},
        {"MS_OOKISA", 'C', 10},
        {"MS_KINGAKU", 'N', 8},
        {"MS_KOUNYU", 'C', 2},
        {"MS_HIMOKU", 'C', 2},
        {"MS_SYOZAI", 'C', 3},
        {"MS_MEMO", 'M', 10},
        {"MS_BLOB", 'M', 10},
        {"MS_KYUID", 'C', kBookIdWidth},
        {"MS_TZENKAI", 'D', 8},
        {"MS_TFMSUU", 'N', 3},
        {"MS_HANSU", 'C', 11},
        {"MS_TOROKU", 'D', 8},
        {"MS_KOSIN", 'D', 8}}},
      {"fukuhon.dbf",
       {{"FK_FUKUID", 'C', kBookIdWidth}, {"FK_SOUSU", 'N', 3}, {"FK_KASI", 'N', 3}}},
      {"skubun.dbf", {{"SK_SKUBUN", 'C', 2}, {"SK_SKNAME", 'C', 20}}},
      {"kkubun.dbf", {{"KK_KKUBUN", 'C', 2}, {"KK_KKNAME", 'C', 20}}},
      {"kounyu.dbf", {{"KO_CODE", 'C', 2}, {"KO_KOUNYU", 'C', 20}}},
      {"himoku.dbf", {{"HI_CODE", 'C', 2}, {"HI_HIMOKU", 'C', 20}}},
      {"syozai.dbf", {{"SY_CODE", 'C', 3}, {"SY_SYOZAI", 'C', 30}}},
      {"kasidasi.dbf",
       {{"KA_BOOKID", 'C', kBookIdWidth},
        {"KA_RIYOSYA", 'C', 10},
        {"KA_KDATE", 'D', 8},
        {"KA_HDATE", 'D', 8},
        {"KA_ENCHO", 'N', 2}}},
      {"yoyaku.dbf",
       {{"YO_BOOKID", 'C', kBookIdWidth},
        {"YO_RIYOSYA", 'C', 10},
        {"YO_YDATE", 'D', 8},
        {"YO_JYUNI", 'N', 3}}},
      {"feature.dbf",
       {{"FT_BOOKID", 'C', kBookIdWidth}, {"FT_DATE", 'D', 8}, {"FT_COMMENT", 'C', 100}}},
  };
}

}  // namespace

const std::vector<TTableSchema>& library_schema() {
  static const std::vector<TTableSchema> schema = build();
  return schema;
}

const TTableSchema& library_table(std::string_view file) {
  for (const TTableSchema& t : library_schema())
    if (same_text_ascii_ci(std::string_view(t.file), file)) return t;
  throw EDbaseError(u"テーブル " + from_utf8(file) + u" は図書館システムのテーブルではありません");
}

std::string book_id(long long number) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%0*lld", kBookIdWidth, number);
  return buf;
}

}  // namespace Mirel::Dbase
