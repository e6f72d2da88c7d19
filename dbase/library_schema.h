// The ten tables of the library system that the web catalogue reads, with
// the columns and sizes the library system gives them. Used by the fixture
// builder, the synthetic catalogue generator and tests; the web catalogue
// itself never relies on these sizes (it reads whatever header a table has).
//
// Book identifiers are fixed-width digit texts ("0000012345"), so that text
// order is numeric order. Codes of the lookup tables are short digit texts
// ("01"). Dates are D fields ("yyyymmdd", blank when unknown).
//
//   master.dbf    one record per book (about 914 bytes), memo file master.dbt
//   fukuhon.dbf   copies of a book: FK_FUKUID (book id), FK_SOUSU total, FK_KASI lent
//   skubun.dbf    kinds of material:   SK_SKUBUN -> SK_SKNAME
//   kkubun.dbf    lending classes:     KK_KKUBUN -> KK_KKNAME (a name with "禁" forbids lending)
//   kounyu.dbf    ways of acquisition: KO_CODE   -> KO_KOUNYU
//   himoku.dbf    budget items:        HI_CODE   -> HI_HIMOKU
//   syozai.dbf    locations:           SY_CODE   -> SY_SYOZAI
//   kasidasi.dbf  loans: KA_BOOKID, KA_HDATE (due date; blank once returned) ...
//   yoyaku.dbf    reservations: YO_BOOKID, YO_YDATE (date reserved) ...
//   feature.dbf   recommended books: FT_BOOKID
//
// Master columns used by the catalogue: MS_BOOKID MS_FUKUID MS_SKUBUN
// MS_KKUBUN MS_SEIKYU (call number) MS_UKEIRE (accession date) MS_ISBN
// MS_SYOMEI (title) MS_SYOKANA (title reading) MS_CHOSYA (author)
// MS_CHOKANA (author reading) MS_NAIYO (contents, memo) MS_KENMEI (subject)
// MS_SYUNEN (year of publication) MS_SYUPAN (publisher) MS_PAGE MS_OOKISA
// (size) MS_KINGAKU (price) MS_KOUNYU MS_HIMOKU MS_SYOZAI (codes) MS_MEMO
// (memo) MS_BLOB (memo, unused by the catalogue) MS_KYUID (former id)
// MS_TZENKAI (date of the last stocktaking at which the book was found;
// blank when it was not) MS_TFMSUU (number of stocktakings at which it was
// missing; blank when never checked).
#pragma once

#include <string>
#include <vector>

#include "dbase/dbf.h"

namespace Mirel::Dbase {

// Width of a book identifier.
inline constexpr int kBookIdWidth = 10;

struct TTableSchema {
  std::string file;  // "master.dbf"
  std::vector<TFieldDef> fields;
};

// The ten tables, in the order above. Built on first use.
const std::vector<TTableSchema>& library_schema();
// One table by file name ("master.dbf", letter case ignored); throws
// EDbaseError for a name that is not one of the ten.
const TTableSchema& library_table(std::string_view file);

// "0000012345" for 12345.
std::string book_id(long long number);

}  // namespace Mirel::Dbase
