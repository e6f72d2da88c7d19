// Intersection of ascending record-number lists, and the virtual table
// mw_hits that lets SQL read such a list.
#include "mirelsearch/hit_set.h"

#include <sqlite3.h>

#include <algorithm>

namespace Mirelsearch_tlb::detail {

std::vector<int64_t> intersect_hits(std::vector<std::vector<int64_t>> lists) {
  if (lists.empty()) return {};
  std::sort(lists.begin(), lists.end(),
            [](const auto& a, const auto& b) { return a.size() < b.size(); });
  std::vector<int64_t> result = std::move(lists.front());
  for (size_t i = 1; i < lists.size() && !result.empty(); ++i) {
    const std::vector<int64_t>& other = lists[i];
    // The result is the shorter side: each of its numbers is looked for in
    // the other list by a galloping search from where the last one was found.
    size_t kept = 0;
    auto from = other.begin();
    for (int64_t id : result) {
      size_t step = 1;
      auto probe = from;
      while (probe != other.end() && *probe < id) {
        from = probe;
        probe = static_cast<size_t>(other.end() - probe) > step ? probe + step : other.end();
        step *= 2;
      }
      from = std::lower_bound(from, probe, id);
      if (from != other.end() && *from == id) result[kept++] = id;
      if (from == other.end()) break;
    }
    result.resize(kept);
  }
  return result;
}

namespace {

struct HitTable {
  sqlite3_vtab base{};
  const std::vector<int64_t>* hits = nullptr;
  int64_t* visited = nullptr;
};

struct HitCursor {
  sqlite3_vtab_cursor base{};
  size_t at = 0;
};

struct Aux {
  const std::vector<int64_t>* hits;
  int64_t* visited;
};

int hit_connect(sqlite3* db, void* aux, int, const char* const*, sqlite3_vtab** out, char**) {
  const int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(value INTEGER)");
  if (rc != SQLITE_OK) return rc;
  auto* table = new (std::nothrow) HitTable;
  if (table == nullptr) return SQLITE_NOMEM;
  table->hits = static_cast<Aux*>(aux)->hits;
  table->visited = static_cast<Aux*>(aux)->visited;
  *out = &table->base;
  return SQLITE_OK;
}

int hit_disconnect(sqlite3_vtab* vtab) {
  delete reinterpret_cast<HitTable*>(vtab);
  return SQLITE_OK;
}

int hit_best_index(sqlite3_vtab*, sqlite3_index_info* info) {
  // The records come in ascending order, which an ORDER BY rowid or value
  // may rely on.
  if (info->nOrderBy == 1 && info->aOrderBy[0].iColumn <= 0 && !info->aOrderBy[0].desc)
    info->orderByConsumed = 1;
  info->estimatedCost = 10;
  return SQLITE_OK;
}

int hit_open(sqlite3_vtab*, sqlite3_vtab_cursor** out) {
  auto* cursor = new (std::nothrow) HitCursor;
  if (cursor == nullptr) return SQLITE_NOMEM;
  *out = &cursor->base;
  return SQLITE_OK;
}

int hit_close(sqlite3_vtab_cursor* cursor) {
  delete reinterpret_cast<HitCursor*>(cursor);
  return SQLITE_OK;
}

const HitTable& table_of(sqlite3_vtab_cursor* cursor) {
  return *reinterpret_cast<const HitTable*>(cursor->pVtab);
}

int hit_eof(sqlite3_vtab_cursor* cursor) {
  return reinterpret_cast<HitCursor*>(cursor)->at >= table_of(cursor).hits->size();
}

void count_visit(sqlite3_vtab_cursor* cursor) {
  if (!hit_eof(cursor)) ++*table_of(cursor).visited;
}

int hit_filter(sqlite3_vtab_cursor* cursor, int, const char*, int, sqlite3_value**) {
  reinterpret_cast<HitCursor*>(cursor)->at = 0;
  count_visit(cursor);
  return SQLITE_OK;
}

int hit_next(sqlite3_vtab_cursor* cursor) {
  ++reinterpret_cast<HitCursor*>(cursor)->at;
  count_visit(cursor);
  return SQLITE_OK;
}

int hit_rowid(sqlite3_vtab_cursor* cursor, sqlite3_int64* rowid) {
  *rowid = (*table_of(cursor).hits)[reinterpret_cast<HitCursor*>(cursor)->at];
  return SQLITE_OK;
}

int hit_column(sqlite3_vtab_cursor* cursor, sqlite3_context* context, int) {
  sqlite3_result_int64(context, (*table_of(cursor).hits)[reinterpret_cast<HitCursor*>(cursor)->at]);
  return SQLITE_OK;
}

const sqlite3_module kHitModule = {
    0,            hit_connect, hit_connect, hit_best_index, hit_disconnect, hit_disconnect,
    hit_open,     hit_close,   hit_filter,  hit_next,       hit_eof,        hit_column,
    hit_rowid,    nullptr,     nullptr,     nullptr,        nullptr,        nullptr,
    nullptr,      nullptr,     nullptr,     nullptr,        nullptr,        nullptr,
};

}  // namespace

void register_hit_table(sqlite3* db, const std::vector<int64_t>* hits, int64_t* visited) {
  // xCreate is the same as xConnect, so the table is eponymous: "mw_hits"
  // names it without a CREATE VIRTUAL TABLE.
  sqlite3_create_module_v2(db, "mw_hits", &kHitModule, new Aux{hits, visited},
                           [](void* p) { delete static_cast<Aux*>(p); });
}

void register_hit_test(sqlite3* db, const std::vector<uint64_t>* bits) {
  auto is_hit = [](sqlite3_context* context, int, sqlite3_value** argv) {
    const auto& set = *static_cast<const std::vector<uint64_t>*>(sqlite3_user_data(context));
    const sqlite3_int64 id = sqlite3_value_int64(argv[0]);
    const bool hit = id >= 0 && static_cast<uint64_t>(id / 64) < set.size() &&
                     ((set[static_cast<size_t>(id / 64)] >> (id % 64)) & 1) != 0;
    sqlite3_result_int(context, hit ? 1 : 0);
  };
  sqlite3_create_function(db, "mw_is_hit", 1, SQLITE_UTF8, const_cast<std::vector<uint64_t>*>(bits),
                          is_hit, nullptr, nullptr);
}

}  // namespace Mirelsearch_tlb::detail
