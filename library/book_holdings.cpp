// The lookups of Tmwbook_holdings: one catalogue connection per request,
// opened at the first lookup, and one prepared statement per kind of
// lookup, each a single row read through an index of the cache (KA_BOOKID,
// YO_BOOKID, MS_BOOKID, SK_SKUBUN).
#include "library/book_holdings.h"

#include <sqlite3.h>

#include <string>

#include "database/database.h"

namespace Mirel::MirelWeb {

namespace {

struct Tstatement_deleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Tstatement = std::unique_ptr<sqlite3_stmt, Tstatement_deleter>;

std::string quoted(const std::string& schema) {
  std::string out = "\"";
  for (char c : schema) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

}  // namespace

struct Tmwbook_holdings::Impl {
  UnicodeString alias;
  std::unique_ptr<Database::TCatalog> catalog;
  Tstatement due, reservations, material;

  sqlite3* db() {
    if (!catalog)
      catalog = std::make_unique<Database::TCatalog>(
          alias.empty() ? UnicodeString(Database::kDefaultAlias) : alias,
          std::vector<std::string>{"master", "skubun", "kasidasi", "yoyaku"});
    return catalog->handle();
  }

  // The statement of `slot`, prepared from `sql` the first time, reset and
  // bound to `bookid`.
  sqlite3_stmt* bound(Tstatement& slot, const std::string& sql, const UnicodeString& bookid) {
    sqlite3* handle = db();
    if (!slot) {
      sqlite3_stmt* raw = nullptr;
      if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        throw Database::EDatabaseError(u"貸出・予約・資料区分を読めません: " +
                                       from_utf8(sqlite3_errmsg(handle)));
      }
      slot.reset(raw);
    }
    sqlite3_reset(slot.get());
    const std::string key = to_utf8(bookid);
    sqlite3_bind_text(slot.get(), 1, key.c_str(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
    return slot.get();
  }

  // One step: true on a row, false at the end; an error throws.
  bool step(sqlite3_stmt* stmt) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw Database::EDatabaseError(u"貸出・予約・資料区分を読めません: " +
                                   from_utf8(sqlite3_errmsg(db())));
  }

  UnicodeString text_of(sqlite3_stmt* stmt) {
    if (!step(stmt) || sqlite3_column_type(stmt, 0) == SQLITE_NULL) return {};
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    return from_utf8(std::string_view(text, static_cast<size_t>(sqlite3_column_bytes(stmt, 0))));
  }

  // The rows of the attached table `name` in SQL.
  std::string table(const char* name) {
    db();
    return quoted(catalog->schema_of(name)) + ".data";
  }
};

Tmwbook_holdings::Tmwbook_holdings(const UnicodeString& alias) : impl_(std::make_unique<Impl>()) {
  impl_->alias = alias;
}

Tmwbook_holdings::~Tmwbook_holdings() = default;

UnicodeString Tmwbook_holdings::due_date(const UnicodeString& bookid) {
  Impl& m = *impl_;
  const std::string sql = "SELECT MIN(KA_HDATE) FROM " + m.table("kasidasi") +
                          " WHERE KA_BOOKID = ?1 AND KA_HDATE IS NOT NULL";
  return m.text_of(m.bound(m.due, sql, bookid));
}

int32_t Tmwbook_holdings::reservation_count(const UnicodeString& bookid) {
  Impl& m = *impl_;
  const std::string sql = "SELECT COUNT(*) FROM " + m.table("yoyaku") + " WHERE YO_BOOKID = ?1";
  sqlite3_stmt* stmt = m.bound(m.reservations, sql, bookid);
  return m.step(stmt) ? sqlite3_column_int(stmt, 0) : 0;
}

UnicodeString Tmwbook_holdings::material_type(const UnicodeString& bookid) {
  Impl& m = *impl_;
  const std::string sql = "SELECT s.SK_SKNAME FROM " + m.table("master") + " AS b JOIN " +
                          m.table("skubun") +
                          " AS s ON s.SK_SKUBUN = b.MS_SKUBUN WHERE b.MS_BOOKID = ?1 LIMIT 1";
  return m.text_of(m.bound(m.material, sql, bookid));
}

}  // namespace Mirel::MirelWeb
