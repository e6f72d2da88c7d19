// The recommended-books source: the books whose identifiers the librarians
// put into feature.dbf, read with their catalogue data, lending status and
// location by one SQL query, and offered row by row through accessors that
// mirror the record getters of the catalogue search component.
//
// Contract:
//   * The constructor creates and configures the session ("MirelWebRecommend")
//     and the query (kRecommendSql); nothing is opened.
//   * open_database, then open_query; the first row is current. Rows come in
//     the engine's order; a book with several matching rows in a joined
//     table (two reservations, say) appears once per row; an identifier
//     without a master record is dropped.
//   * Text accessors give the column's text, the empty text for NULL (a
//     blank dBASE field). kingaku gives 0 for NULL.
//   * syozai and kkubun refill one object each, created with the source, and
//     return it: a caller that keeps it sees it change with the next call.
//   * Engine failures (unknown alias, missing table, bad SQL, a column the
//     result lacks, reading with no open query) are Database::EDatabaseError.
//   * The destructor closes the query and the session, ignoring failures.
//   * Its rows are also a book cursor (Ibook_cursor), read through the
//     accessors below.
#pragma once

#include <cstdint>
#include <memory>

#include "database/database.h"
#include "platform/unicode_string.h"
#include "search/book_cursor.h"
#include "search/kubun.h"

namespace Mirel::MirelWeb {

// The session name of the recommended-books query.
inline constexpr const char16_t* kRecommendSessionName = u"MirelWebRecommend";

// The recommended-books query, sent as it stands.
inline constexpr const char16_t* kRecommendSql =
    u"select     MS_BOOKID,     MS_FUKUID,     MS_SKUBUN,     SK_SKNAME,"
    u"     MS_KKUBUN,     KK_KKNAME,     MS_SEIKYU,     MS_UKEIRE,     MS_ISBN,"
    u"     MS_SYOMEI,     MS_SYOKANA,     MS_CHOSYA,     MS_CHOKANA,     MS_NAIYO,"
    u"     MS_KENMEI,     MS_SYUNEN,     MS_SYUPAN,     MS_PAGE,     MS_OOKISA,"
    u"     MS_KINGAKU,     MS_KOUNYU,     KO_KOUNYU,     MS_HIMOKU,     HI_HIMOKU,"
    u"     MS_SYOZAI,     SY_SYOZAI,     MS_MEMO,     MS_BLOB,     MS_KYUID,"
    u"     MS_TZENKAI,     MS_TFMSUU,     FK_SOUSU,     FK_KASI,     KA_HDATE,"
    u"     YO_YDATE,     FT_BOOKID from     feature.dbf"
    u"     left join master.dbf on FT_BOOKID = MS_BOOKID"
    u"     left join fukuhon.dbf on MS_BOOKID = FK_FUKUID"
    u"     left join skubun.dbf on MS_SKUBUN = SK_SKUBUN"
    u"     left join kkubun.dbf on MS_KKUBUN = KK_KKUBUN"
    u"     left join kounyu.dbf on MS_KOUNYU = KO_CODE"
    u"     left join himoku.dbf on MS_HIMOKU = HI_CODE"
    u"     left join syozai.dbf on MS_SYOZAI = SY_CODE"
    u"     left join kasidasi.dbf on MS_BOOKID = KA_BOOKID"
    u"     left join yoyaku.dbf on MS_BOOKID = YO_BOOKID where"
    u"     MS_BOOKID IS NOT NULL ";

class Tmwrecommenddb : public Mirel::Database::Idatabase, public Mirelsearch_tlb::Ibook_cursor {
 public:
  Tmwrecommenddb();
  // A non-empty `private_dir` replaces the session's private directory;
  // opens the session. Returns whether it was open already.
  bool open_database(const UnicodeString& private_dir) override;
  // close_query, then closes the session. Returns whether it was open.
  bool close_database() override;
  ~Tmwrecommenddb() override;
  Tmwrecommenddb(const Tmwrecommenddb&) = delete;
  Tmwrecommenddb& operator=(const Tmwrecommenddb&) = delete;

  // A non-empty `database_name` replaces the alias ("MirelWin"); a query
  // still open is closed first; runs the query. Returns whether it was open.
  bool open_query(const UnicodeString& database_name);
  // Returns whether the query was open.
  bool close_query();

  // True once the cursor has moved past the last row.
  bool is_eof() const;
  void next();
  int32_t record_count() const;
  // Advances |n| rows (never backwards), stopping on the last row; returns
  // the rows passed.
  int32_t move_by(int32_t n);

  UnicodeString bookid() const;   // FT_BOOKID
  UnicodeString seikyu() const;   // call number
  UnicodeString syomei() const;   // title
  UnicodeString chosya() const;   // author
  UnicodeString syokana() const;  // title reading
  UnicodeString chokana() const;  // author reading
  UnicodeString syupan() const;   // publisher
  int32_t kingaku() const;        // price, 0 when blank
  UnicodeString syunen() const;   // year of publication
  UnicodeString isbn() const;
  // The location object, given MS_SYOZAI and SY_SYOZAI.
  std::shared_ptr<Mirelsearch_tlb::Ikubun> syozai();
  UnicodeString page() const;
  UnicodeString ookisa() const;   // size
  UnicodeString kenmei() const;   // subject
  UnicodeString naiyo() const;    // contents
  UnicodeString ukeire() const;   // accession date "yyyymmdd"
  UnicodeString memo() const;
  // The lending-class object, given MS_KKUBUN and KK_KKNAME.
  std::shared_ptr<Mirelsearch_tlb::Ikkubun> kkubun();
  // On loan: KA_HDATE is not NULL.
  bool is_kasidasi() const;
  // Cannot be found where it belongs: MS_TZENKAI is NULL and MS_TFMSUU is not.
  bool is_fumei() const;

  int32_t book_count() override { return record_count(); }
  int32_t skip_books(int32_t count) override { return move_by(count); }
  bool past_last_book() override { return is_eof(); }
  void next_book() override { next(); }
  UnicodeString book_text(Mirelsearch_tlb::Tbook_field field) override;
  int32_t book_price() override { return kingaku(); }
  UnicodeString book_location() override;
  bool on_loan() override { return is_kasidasi(); }
  bool missing() override { return is_fumei(); }
  bool not_for_loan() override;

 private:
  UnicodeString text(const char16_t* column) const;

  std::shared_ptr<Mirel::Database::TSession> session_;
  std::shared_ptr<Mirel::Database::TQuery> query_;
  std::shared_ptr<Mirelsearch_tlb::Ikkubun> kkubun_;
  std::shared_ptr<Mirelsearch_tlb::Ikubun> syozai_;
};

}  // namespace Mirel::MirelWeb
