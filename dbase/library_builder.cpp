// Assembling a small library in memory and writing its ten tables; the
// column order always comes from library_schema(), so fixtures follow the
// schema when it grows.
#include "dbase/library_builder.h"

#include <algorithm>

namespace Mirel::Dbase {
namespace {

using TPairs = std::vector<std::pair<std::string, std::string>>;

std::string upper(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  });
  return s;
}

}  // namespace

const TPairs& standard_lookup(std::string_view table) {
  static const TPairs skubun = {
      {"01", "図書"}, {"02", "雑誌"}, {"03", "視聴覚資料"}, {"04", "紙芝居"}};
  static const TPairs kkubun = {
      {"01", "一般"}, {"02", "禁帯出"}, {"03", "短期貸出"}, {"04", "貸出禁止"}};
  static const TPairs kounyu = {{"01", "購入"}, {"02", "寄贈"}, {"03", "交換"}};
  static const TPairs himoku = {{"01", "図書費"}, {"02", "雑誌費"}, {"03", "視聴覚資料費"}};
  static const TPairs syozai = {{"001", "一般書架"},
                                {"002", "児童書架"},
                                {"003", "参考図書コーナー"},
                                {"004", "郷土資料室"},
                                {"005", "閉架書庫"}};
  static const TPairs none;
  if (same_text_ascii_ci(table, std::string_view("skubun"))) return skubun;
  if (same_text_ascii_ci(table, std::string_view("kkubun"))) return kkubun;
  if (same_text_ascii_ci(table, std::string_view("kounyu"))) return kounyu;
  if (same_text_ascii_ci(table, std::string_view("himoku"))) return himoku;
  if (same_text_ascii_ci(table, std::string_view("syozai"))) return syozai;
  return none;
}

std::vector<std::string> master_row(const TBook& b) {
  const TTableSchema& schema = library_table("master.dbf");
  std::vector<std::string> row(schema.fields.size());
  const std::pair<const char*, const std::string*> columns[] = {
      {"MS_BOOKID", &b.bookid},   {"MS_FUKUID", &b.fukuid},   {"MS_SKUBUN", &b.skubun},
      {"MS_KKUBUN", &b.kkubun},   {"MS_SEIKYU", &b.seikyu},   {"MS_UKEIRE", &b.ukeire},
      {"MS_ISBN", &b.isbn},       {"MS_SYOMEI", &b.syomei},   {"MS_SYOKANA", &b.syokana},
      {"MS_CHOSYA", &b.chosya},   {"MS_CHOKANA", &b.chokana}, {"MS_NAIYO", &b.naiyo},
      {"MS_KENMEI", &b.kenmei},   {"MS_SYUNEN", &b.syunen},   {"MS_SYUPAN", &b.syupan},
      {"MS_PAGE", &b.page},       {"MS_OOKISA", &b.ookisa},   {"MS_KINGAKU", &b.kingaku},
      {"MS_KOUNYU", &b.kounyu},   {"MS_HIMOKU", &b.himoku},   {"MS_SYOZAI", &b.syozai},
      {"MS_MEMO", &b.memo},       {"MS_BLOB", &b.blob},       {"MS_KYUID", &b.kyuid},
      {"MS_TZENKAI", &b.tzenkai}, {"MS_TFMSUU", &b.tfmsuu},   {"MS_HANSU", &b.hansu},
      {"MS_TOROKU", &b.toroku},   {"MS_KOSIN", &b.kosin},
  };
  for (const auto& [name, value] : columns) {
    for (size_t i = 0; i < schema.fields.size(); ++i) {
      if (schema.fields[i].name == name) {
        row[i] = *value;
        break;
      }
    }
  }
  return row;
}

TLibraryBuilder::TLibraryBuilder(bool standard_lookups) {
  for (const TTableSchema& t : library_schema())
    if (t.file != "master.dbf") rows_.push_back({t.file, {}});
  if (!standard_lookups) return;
  for (const char* table : {"skubun", "kkubun", "kounyu", "himoku", "syozai"}) {
    const TTableSchema& schema = library_table(std::string(table) + ".dbf");
    for (const auto& [code, name] : standard_lookup(table))
      add_row(schema.file, {{schema.fields[0].name, code}, {schema.fields[1].name, name}});
  }
}

std::vector<TLibraryBuilder::TRow>& TLibraryBuilder::rows_of(const std::string& table) {
  for (auto& [name, rows] : rows_)
    if (same_text_ascii_ci(std::string_view(name), std::string_view(table))) return rows;
  throw EDbaseError(u"テーブル " + from_utf8(table) + u" には行を追加できません");
}

TLibraryBuilder& TLibraryBuilder::add_book(const TBook& book) {
  books_.push_back(book);
  return *this;
}

TLibraryBuilder& TLibraryBuilder::add_row(const std::string& table, const TPairs& values,
                                          bool deleted) {
  if (same_text_ascii_ci(std::string_view(table), std::string_view("master.dbf")))
    throw EDbaseError(u"master.dbf の行は add_book で追加します");
  const TTableSchema& schema = library_table(table);
  TRow row;
  row.values.resize(schema.fields.size());
  row.deleted = deleted;
  for (const auto& [column, value] : values) {
    size_t i = 0;
    while (i < schema.fields.size() &&
           !same_text_ascii_ci(std::string_view(schema.fields[i].name), std::string_view(column)))
      ++i;
    if (i == schema.fields.size())
      throw EDbaseError(u"テーブル " + from_utf8(table) + u" に列 " + from_utf8(column) +
                        u" はありません");
    row.values[i] = value;
  }
  rows_of(schema.file).push_back(std::move(row));
  return *this;
}

TLibraryBuilder& TLibraryBuilder::add_skubun(const std::string& code, const std::string& name) {
  return add_row("skubun.dbf", {{"SK_SKUBUN", code}, {"SK_SKNAME", name}});
}
TLibraryBuilder& TLibraryBuilder::add_kkubun(const std::string& code, const std::string& name) {
  return add_row("kkubun.dbf", {{"KK_KKUBUN", code}, {"KK_KKNAME", name}});
}
TLibraryBuilder& TLibraryBuilder::add_kounyu(const std::string& code, const std::string& name) {
  return add_row("kounyu.dbf", {{"KO_CODE", code}, {"KO_KOUNYU", name}});
}
TLibraryBuilder& TLibraryBuilder::add_himoku(const std::string& code, const std::string& name) {
  return add_row("himoku.dbf", {{"HI_CODE", code}, {"HI_HIMOKU", name}});
}
TLibraryBuilder& TLibraryBuilder::add_syozai(const std::string& code, const std::string& name) {
  return add_row("syozai.dbf", {{"SY_CODE", code}, {"SY_SYOZAI", name}});
}
TLibraryBuilder& TLibraryBuilder::add_copies(const std::string& bookid, int total, int lent) {
  return add_row("fukuhon.dbf", {{"FK_FUKUID", bookid},
                                 {"FK_SOUSU", std::to_string(total)},
                                 {"FK_KASI", std::to_string(lent)}});
}
TLibraryBuilder& TLibraryBuilder::add_loan(const std::string& bookid, const std::string& hdate,
                                           const std::string& kdate, const std::string& user) {
  return add_row(
      "kasidasi.dbf",
      {{"KA_BOOKID", bookid}, {"KA_HDATE", hdate}, {"KA_KDATE", kdate}, {"KA_RIYOSYA", user}});
}
TLibraryBuilder& TLibraryBuilder::add_reservation(const std::string& bookid,
                                                  const std::string& ydate, const std::string& user,
                                                  int rank) {
  return add_row("yoyaku.dbf", {{"YO_BOOKID", bookid},
                                {"YO_YDATE", ydate},
                                {"YO_RIYOSYA", user},
                                {"YO_JYUNI", std::to_string(rank)}});
}
TLibraryBuilder& TLibraryBuilder::add_feature(const std::string& bookid, const std::string& date,
                                              const std::string& comment) {
  return add_row("feature.dbf",
                 {{"FT_BOOKID", bookid}, {"FT_DATE", date}, {"FT_COMMENT", comment}});
}

void TLibraryBuilder::write(const std::string& dir, bool upper_case, TWriteOptions options) const {
  std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  for (const TTableSchema& schema : library_schema()) {
    std::string path = prefix + (upper_case ? upper(schema.file) : schema.file);
    auto writer = TTableWriter::create(path, schema.fields, options);
    if (schema.file == "master.dbf") {
      for (const TBook& b : books_) writer->append(master_row(b), b.deleted);
    } else {
      for (const auto& [name, rows] : rows_)
        if (name == schema.file)
          for (const TRow& r : rows) writer->append(r.values, r.deleted);
    }
    writer->close();
  }
}

}  // namespace Mirel::Dbase
