// TLibraryBuilder: a small library (all ten tables of library_schema.h)
// assembled in memory by a test and written as dBASE files into a directory.
//
//   Mirel::Dbase::TLibraryBuilder lib;          // standard lookup rows included
//   Mirel::Dbase::TBook b;
//   b.bookid = Mirel::Dbase::book_id(1);        // "0000000001"
//   b.syomei = "吾輩は猫である";
//   b.ukeire = "20240401";
//   lib.add_book(b);
//   lib.add_loan(b.bookid, "20240420");         // on loan, due 20 April
//   lib.add_feature(b.bookid);                  // recommended
//   lib.write(dir);                             // master.dbf, master.dbt, ...
//
// Values are UTF-8 text; an empty text is a blank field (NULL to the SQL
// engine). Every table file is written, empty or not. Rows keep the order
// in which they were added. write() throws EDbaseError when a file cannot
// be written or a value does not fit its column (a number too wide); text
// longer than its column is cut at a character boundary.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "dbase/dbf.h"
#include "dbase/library_schema.h"

namespace Mirel::Dbase {

// One master record. Codes default to the first row of each standard
// lookup table; everything else is blank unless set.
struct TBook {
  std::string bookid;          // MS_BOOKID, e.g. book_id(1)
  std::string fukuid;          // MS_FUKUID
  std::string skubun = "01";   // MS_SKUBUN  (01 図書)
  std::string kkubun = "01";   // MS_KKUBUN  (01 一般; 02 禁帯出 forbids lending)
  std::string seikyu;          // MS_SEIKYU  call number, "913.6/ナ"
  std::string ukeire;          // MS_UKEIRE  accession date "yyyymmdd"
  std::string isbn;            // MS_ISBN
  std::string syomei;          // MS_SYOMEI  title
  std::string syokana;         // MS_SYOKANA title reading (katakana)
  std::string chosya;          // MS_CHOSYA  author
  std::string chokana;         // MS_CHOKANA author reading
  std::string naiyo;           // MS_NAIYO   contents (memo)
  std::string kenmei;          // MS_KENMEI  subject
  std::string syunen;          // MS_SYUNEN  year of publication
  std::string syupan;          // MS_SYUPAN  publisher
  std::string page;            // MS_PAGE    "254p"
  std::string ookisa;          // MS_OOKISA  "20cm"
  std::string kingaku;         // MS_KINGAKU price, decimal text
  std::string kounyu = "01";   // MS_KOUNYU  (01 購入)
  std::string himoku = "01";   // MS_HIMOKU  (01 図書費)
  std::string syozai = "001";  // MS_SYOZAI  (001 一般書架)
  std::string memo;            // MS_MEMO (memo)
  std::string blob;            // MS_BLOB (memo)
  std::string kyuid;           // MS_KYUID
  std::string tzenkai;         // MS_TZENKAI last stocktaking that found it
  std::string tfmsuu;          // MS_TFMSUU  stocktakings that missed it
  std::string hansu;           // MS_HANSU   edition
  std::string toroku;          // MS_TOROKU  record created
  std::string kosin;           // MS_KOSIN   record changed
  bool deleted = false;        // written with the deletion mark
};

// The standard lookup rows (code, name) of a new builder.
//   skubun: 01 図書, 02 雑誌, 03 視聴覚資料, 04 紙芝居
//   kkubun: 01 一般, 02 禁帯出, 03 短期貸出, 04 貸出禁止
//   kounyu: 01 購入, 02 寄贈, 03 交換
//   himoku: 01 図書費, 02 雑誌費, 03 視聴覚資料費
//   syozai: 001 一般書架, 002 児童書架, 003 参考図書コーナー, 004 郷土資料室, 005 閉架書庫
const std::vector<std::pair<std::string, std::string>>& standard_lookup(std::string_view table);

class TLibraryBuilder {
 public:
  // With the standard lookup rows, or with all tables empty.
  explicit TLibraryBuilder(bool standard_lookups = true);

  TLibraryBuilder& add_book(const TBook& book);
  // Lookup rows (kept after the standard ones).
  TLibraryBuilder& add_skubun(const std::string& code, const std::string& name);
  TLibraryBuilder& add_kkubun(const std::string& code, const std::string& name);
  TLibraryBuilder& add_kounyu(const std::string& code, const std::string& name);
  TLibraryBuilder& add_himoku(const std::string& code, const std::string& name);
  TLibraryBuilder& add_syozai(const std::string& code, const std::string& name);
  // fukuhon: copies of a book (FK_FUKUID = the book id), how many in all and lent.
  TLibraryBuilder& add_copies(const std::string& bookid, int total, int lent);
  // kasidasi: a loan; `hdate` blank means a returned loan (not on loan).
  TLibraryBuilder& add_loan(const std::string& bookid, const std::string& hdate,
                            const std::string& kdate = "", const std::string& user = "");
  // yoyaku: a reservation made on `ydate`.
  TLibraryBuilder& add_reservation(const std::string& bookid, const std::string& ydate,
                                   const std::string& user = "", int rank = 1);
  // feature: a recommended book (the id need not exist in master).
  TLibraryBuilder& add_feature(const std::string& bookid, const std::string& date = "",
                               const std::string& comment = "");
  // Any row of any table by column name (unknown names throw EDbaseError).
  TLibraryBuilder& add_row(const std::string& table,
                           const std::vector<std::pair<std::string, std::string>>& values,
                           bool deleted = false);

  const std::vector<TBook>& books() const { return books_; }

  // Writes the ten tables into `dir` (which must exist), replacing files of
  // the same names. `upper_case` writes MASTER.DBF / MASTER.DBT etc.
  void write(const std::string& dir, bool upper_case = false, TWriteOptions options = {}) const;

 private:
  struct TRow {
    std::vector<std::string> values;
    bool deleted = false;
  };
  std::vector<TBook> books_;
  // Rows of the nine tables other than master, by table file name.
  std::vector<std::pair<std::string, std::vector<TRow>>> rows_;
  std::vector<TRow>& rows_of(const std::string& table);
};

// The master record of a book, in the column order of library_schema().
std::vector<std::string> master_row(const TBook& book);

}  // namespace Mirel::Dbase
