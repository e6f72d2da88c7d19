// The "mw" tokenizer: a split at spaces with colocated "+" tokens, through
// FTS5's tokenizer API (the version 1 interface every SQLite with FTS5 has).
#include "mirelsearch/index_tokenizer.h"

#include <sqlite3.h>

#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {
namespace {

// The tokenizer keeps no state: one static object serves every table.
struct TTokenizer {};
TTokenizer the_tokenizer;

int create(void*, const char**, int, Fts5Tokenizer** out) {
  *out = reinterpret_cast<Fts5Tokenizer*>(&the_tokenizer);
  return SQLITE_OK;
}

void destroy(Fts5Tokenizer*) {}

int tokenize(Fts5Tokenizer*, void* context, int, const char* text, int length,
             int (*token)(void*, int, const char*, int, int, int)) {
  int i = 0;
  while (i < length) {
    while (i < length && text[i] == ' ') ++i;
    const int start = i;
    while (i < length && text[i] != ' ') ++i;
    if (i == start) break;
    int from = start;
    int flags = 0;
    // A "+" token is colocated with the previous one; at the very start
    // there is none, and it counts as a token of its own.
    if (text[from] == '+' && i - from > 1) {
      ++from;
      if (start > 0) flags = FTS5_TOKEN_COLOCATED;
    }
    const int rc = token(context, flags, text + from, i - from, start, i);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}

fts5_api* fts5_of(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &stmt, nullptr) == SQLITE_OK) {
    sqlite3_bind_pointer(stmt, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
    sqlite3_step(stmt);
  }
  sqlite3_finalize(stmt);
  return api;
}

}  // namespace

void register_index_tokenizer(sqlite3* db) {
  fts5_api* api = fts5_of(db);
  if (api == nullptr) throw EMirelSearch(u"検索索引に必要な SQLite の FTS5 が使えません");
  fts5_tokenizer tokenizer{create, destroy, tokenize};
  if (api->xCreateTokenizer(api, "mw", nullptr, &tokenizer, nullptr) != SQLITE_OK)
    throw EMirelSearch(u"検索索引の字句分割を登録できません");
}

}  // namespace Mirelsearch_tlb::detail
