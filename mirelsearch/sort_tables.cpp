// The sort orders of master.dbf's cache: the sort key, the arrays' fill and
// fold, the moves of records changed in place, and the walk that merges the
// moves into an array.
#include "mirelsearch/sort_tables.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_set>

#include "mirelsearch/posting_index.h"
#include "mirelsearch/sql_calls.h"
#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {
namespace {

// An array entry: the record number in the low 31 bits, the top bit set
// when the record's value equals the previous entry's.
constexpr uint32_t kSameValue = 0x80000000u;
constexpr uint32_t kRecordMask = 0x7FFFFFFFu;

// Every kFenceStep-th entry of an array has its value's sort key kept
// beside the array as a fence (a 16th of the keys: at a million books
// about 1.5 MB a column), so that placing a moved record narrows its place
// to the entries between two fences without reading any row. A chunk's
// fences are one blob: each a 16-bit little-endian length and the key.
constexpr int64_t kFenceStep = 16;
static_assert(kSortChunk % kFenceStep == 0);

std::string fence_table(const std::string& table) { return table + "_fences"; }

constexpr TSqlCalls kSql{u"並べ替え順"};
TStmt prepare(sqlite3* db, const std::string& sql) { return kSql.prepare(db, sql); }
bool step(sqlite3* db, sqlite3_stmt* stmt) { return kSql.step(db, stmt); }
void run(sqlite3* db, sqlite3_stmt* stmt) { kSql.run(db, stmt); }
constexpr const char* kFunctionFailed = "sort order function failed";

std::string text_of(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  return text != nullptr ? reinterpret_cast<const char*>(text) : "";
}

// A sort column named by an SQL argument; anything else is an error (the
// name is written into SQL).
std::string column_argument(sqlite3_value* value) {
  const std::string column = text_of(value);
  if (sort_index_name(column).empty()) throw std::runtime_error("no sort order for " + column);
  return column;
}

// The sort key of a column of the current row of `stmt`.
std::string column_key(sqlite3_stmt* stmt, int i) { return sort_key(sqlite3_column_value(stmt, i)); }

// The number of entries of the array in `table` (schema-qualified).
int64_t array_size(sqlite3* db, const std::string& table) {
  TStmt last = prepare(db, "SELECT chunk, length(ids) FROM " + table + " ORDER BY chunk DESC LIMIT 1");
  if (!step(db, last.get())) return 0;
  return sqlite3_column_int64(last.get(), 0) * kSortChunk + sqlite3_column_int64(last.get(), 1) / 4;
}

uint32_t read_entry(const unsigned char* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

// Keys one after another in blocks of 64 KB: a string per row would double
// the memory of a million rows, and one growing buffer would need twice its
// size whenever it moves. Blocks below the C library's threshold for
// mapping memory of its own come from the heap, where the page cache has
// just given memory back.
class TKeyStore {
 public:
  std::string_view add(const std::string& key) {
    char* at;
    if (key.size() > kBlock / 4) {  // a block of its own
      large_.push_back(std::make_unique<char[]>(key.size()));
      at = large_.back().get();
    } else {
      if (used_ + key.size() > kBlock) {
        blocks_.push_back(std::make_unique<char[]>(kBlock));
        used_ = 0;
      }
      at = blocks_.back().get() + used_;
      used_ += key.size();
    }
    std::memcpy(at, key.data(), key.size());
    return {at, key.size()};
  }

 private:
  static constexpr size_t kBlock = size_t{64} << 10;
  std::vector<std::unique_ptr<char[]>> blocks_, large_;
  size_t used_ = kBlock;
};

struct TEntry {  // 16 bytes: a million of them are the fill's largest part
  const char* key;
  uint32_t size;
  uint32_t id;  // record numbers of a .dbf fit in 31 bits
  std::string_view view() const { return {key, size}; }
};

uint32_t record_number(sqlite3_int64 id) {
  if (id < 0 || id > kRecordMask) throw std::runtime_error("record number out of range for a sort order");
  return static_cast<uint32_t>(id);
}

// Every row of `sql` (record number, value) as an entry of its sort key;
// `number` turns the record number into the entry's number.
template <typename Number>
std::vector<TEntry> read_keys(sqlite3* db, const std::string& sql, TKeyStore& keys, size_t expected,
                              Number number) {
  std::vector<TEntry> entries;
  entries.reserve(expected);
  TStmt read = prepare(db, sql);
  std::string key;  // one buffer for every row's key
  while (step(db, read.get())) {
    key.clear();
    append_sort_key(sqlite3_column_value(read.get(), 1), key);
    const std::string_view stored = keys.add(key);
    entries.push_back({stored.data(), static_cast<uint32_t>(stored.size()),
                       number(record_number(sqlite3_column_int64(read.get(), 0)))});
  }
  return entries;
}

// Makes the arrays of `columns` anew from "data". Ties of a column are
// ordered by book id and record number: each record's rank in that order
// (from `bookid_sql`, rows of record number and book id) breaks them, so
// that a column's sort compares a key and a number.
void fill_orders(sqlite3* db, const std::vector<std::string>& columns, const std::string& bookid_sql) {
  // Reading the rows in order and appending in order need few pages in
  // memory: the page cache gives its room to the keys meanwhile, so that
  // the build's peak memory does not grow by them.
  TSmallPageCache cache_size(db);
  size_t rows = 0;
  {
    TStmt count = prepare(db, "SELECT count(*) FROM data");
    if (step(db, count.get())) rows = static_cast<size_t>(sqlite3_column_int64(count.get(), 0));
  }
  // Each entry of a column holds the record's rank, not its number: ties
  // (most comparisons, in a column of few values) compare the entries
  // themselves instead of looking up two ranks far apart in memory.
  std::vector<uint32_t> by_rank;  // rank -> record number
  {
    TKeyStore keys;
    std::vector<TEntry> entries = read_keys(db, bookid_sql, keys, rows, [](uint32_t id) { return id; });
    std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
      const int c = a.view().compare(b.view());
      return c != 0 ? c < 0 : a.id < b.id;
    });
    by_rank.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) by_rank[i] = entries[i].id;
  }
  for (const std::string& column : columns) {
    const std::string table = sort_index_name(column);
    std::vector<TEntry> entries;
    TKeyStore keys;
    {
      std::vector<uint32_t> rank(by_rank.empty() ? 0 : size_t{*std::max_element(by_rank.begin(), by_rank.end())} + 1,
                                 UINT32_MAX);
      for (size_t i = 0; i < by_rank.size(); ++i) rank[by_rank[i]] = static_cast<uint32_t>(i);
      entries = read_keys(db, "SELECT rowid, " + column + " FROM data", keys, rows, [&rank](uint32_t id) {
        if (id >= rank.size() || rank[id] == UINT32_MAX)
          throw std::runtime_error("a record without a book id in a sort order");
        return rank[id];
      });
    }
    std::sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
      const int c = a.view().compare(b.view());
      return c != 0 ? c < 0 : a.id < b.id;
    });
    for (TEntry& e : entries) e.id = by_rank[e.id];
    TStmt clear = prepare(db, "DELETE FROM " + table);
    run(db, clear.get());
    TStmt clear_fences = prepare(db, "DELETE FROM " + fence_table(table));
    run(db, clear_fences.get());
    TStmt insert = prepare(db, "INSERT INTO " + table + "(chunk, ids) VALUES (?1, ?2)");
    TStmt insert_fences = prepare(db, "INSERT INTO " + fence_table(table) + "(chunk, keys) VALUES (?1, ?2)");
    std::vector<unsigned char> blob;
    std::string fences;
    // Keys too long for a fence's length (none a .dbf field gives) leave
    // the column without fences: its moves are placed by probes alone.
    bool fenced = true;
    for (size_t start = 0; start < entries.size(); start += kSortChunk) {
      const size_t end = std::min(entries.size(), start + static_cast<size_t>(kSortChunk));
      blob.assign((end - start) * 4, 0);
      for (size_t i = start; i < end; ++i) {
        uint32_t v = entries[i].id;
        if (i > 0 && entries[i].view() == entries[i - 1].view()) v |= kSameValue;
        unsigned char* at = blob.data() + (i - start) * 4;
        at[0] = static_cast<unsigned char>(v);
        at[1] = static_cast<unsigned char>(v >> 8);
        at[2] = static_cast<unsigned char>(v >> 16);
        at[3] = static_cast<unsigned char>(v >> 24);
      }
      sqlite3_bind_int64(insert.get(), 1, static_cast<sqlite3_int64>(start / kSortChunk));
      sqlite3_bind_blob(insert.get(), 2, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
      run(db, insert.get());
      fences.clear();
      for (size_t i = start; i < end && fenced; i += kFenceStep) {
        const std::string_view key = entries[i].view();
        fenced = key.size() <= 0xFFFF;
        fences.push_back(static_cast<char>(key.size() & 0xff));
        fences.push_back(static_cast<char>(key.size() >> 8));
        fences.append(key);
      }
      if (!fenced) continue;
      sqlite3_bind_int64(insert_fences.get(), 1, static_cast<sqlite3_int64>(start / kSortChunk));
      sqlite3_bind_blob(insert_fences.get(), 2, fences.data(), static_cast<int>(fences.size()), SQLITE_STATIC);
      run(db, insert_fences.get());
    }
    if (!fenced) run(db, clear_fences.get());
  }
}

// mw_sort_key(value): sort_key as a blob.
void sort_key_function(sqlite3_context* context, int, sqlite3_value** argv) {
  guarded(context, kFunctionFailed, [&] {
    const std::string key = sort_key(argv[0]);
    sqlite3_result_blob(context, key.data(), static_cast<int>(key.size()), SQLITE_TRANSIENT);
  });
}

// mw_fill_sort(): fills every sort order after a full build (mw_keys holds
// the book ids by then).
void fill_sort_function(sqlite3_context* context, int, sqlite3_value**) {
  guarded(context, kFunctionFailed, [&] {
    std::vector<std::string> columns(sort_columns().begin(), sort_columns().end());
    fill_orders(sqlite3_context_db_handle(context), columns, "SELECT id, bookid FROM mw_keys");
    sqlite3_result_null(context);
  });
}

// A moved record as settle_column reads it: its keys, its number, the
// array index it goes before (-1 while unplaced) and the record at that
// index (-1 for the end).
struct TMoved {
  int64_t id;
  std::string k, b;
  int64_t p, q;
  bool gone;
};

bool move_less(const TMoved& x, const TMoved& y) {
  if (int c = x.k.compare(y.k); c != 0) return c < 0;
  if (int c = x.b.compare(y.b); c != 0) return c < 0;
  return x.id < y.id;
}

// A sort order's array read a chunk at a time as its entries are asked
// for: a few new books are placed reading a few chunks, not the array.
class TLazyArray {
 public:
  TLazyArray(sqlite3* db, const std::string& table)
      : db_(db), n_(array_size(db, table)), read_(prepare(db, "SELECT ids FROM " + table + " WHERE chunk = ?1")) {}
  int64_t size() const { return n_; }
  // The record number of entry `at` (below size()).
  uint32_t operator[](int64_t at) {
    const auto chunk = static_cast<size_t>(at / kSortChunk);
    if (chunks_.size() <= chunk) chunks_.resize(chunk + 1);
    std::vector<uint32_t>& c = chunks_[chunk];
    if (c.empty()) {
      sqlite3_bind_int64(read_.get(), 1, static_cast<sqlite3_int64>(chunk));
      if (step(db_, read_.get())) {
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(read_.get(), 0));
        c.resize(static_cast<size_t>(sqlite3_column_bytes(read_.get(), 0) / 4));
        for (size_t j = 0; j < c.size(); ++j) c[j] = read_entry(bytes + j * 4) & kRecordMask;
      }
      sqlite3_reset(read_.get());
    }
    const auto j = static_cast<size_t>(at % kSortChunk);
    if (j >= c.size()) throw std::runtime_error("a sort order with a chunk missing");
    return c[j];
  }

 private:
  sqlite3* db_;
  int64_t n_;
  TStmt read_;
  std::vector<std::vector<uint32_t>> chunks_;
};

// The moves fresh[a, b) go before an index in [lo, hi]: every entry still
// in the array before it sorts before them, every one from it on after
// them.
struct TRange {
  int64_t lo, hi;
  size_t a, b;
};

// The first ranges of the moves `fresh` (sorted) for the array of `table`
// (n entries): between the two fences around each move's value, where the
// column has fences, or the whole array. A fence keeps the value the entry
// had when the array was made, which orders the entries still in the array
// whether or not that entry has moved since; only values unlike the
// move's decide, the ties are left to the probes.
void window_ranges(sqlite3* db, const std::string& table, int64_t n, const std::vector<TMoved>& moves,
                   const std::vector<size_t>& fresh, std::vector<TRange>& ranges) {
  std::string stored;
  std::vector<std::string_view> keys;
  {
    TStmt read = prepare(db, "SELECT chunk, keys FROM " + fence_table(table) + " ORDER BY chunk");
    std::vector<std::pair<size_t, size_t>> spans;  // offset and size in `stored`
    int64_t expected = 0;
    bool complete = true;
    while (complete && step(db, read.get())) {
      complete = sqlite3_column_int64(read.get(), 0) == expected++;
      const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(read.get(), 1));
      const auto size = static_cast<size_t>(sqlite3_column_bytes(read.get(), 1));
      const size_t base = stored.size();
      stored.append(reinterpret_cast<const char*>(bytes), size);
      for (size_t at = 0; complete && at + 2 <= size;) {
        const size_t length = bytes[at] | size_t{bytes[at + 1]} << 8;
        complete = at + 2 + length <= size;
        spans.push_back({base + at + 2, length});
        at += 2 + length;
      }
    }
    if (!complete || static_cast<int64_t>(spans.size()) != (n + kFenceStep - 1) / kFenceStep) spans.clear();
    for (const auto& [offset, size] : spans) keys.emplace_back(stored.data() + offset, size);
  }
  if (keys.empty()) {
    ranges.push_back({0, n, 0, fresh.size()});
    return;
  }
  size_t a = 0;
  int64_t lo = -1, hi = -1;
  for (size_t x = 0; x < fresh.size(); ++x) {
    const std::string_view k = moves[fresh[x]].k;
    const auto below = std::lower_bound(keys.begin(), keys.end(), k);  // first fence not below k
    const auto above = std::upper_bound(below, keys.end(), k);         // first fence above k
    int64_t from = below == keys.begin() ? 0 : (below - keys.begin() - 1) * kFenceStep + 1;
    int64_t to = above == keys.end() ? n : (above - keys.begin()) * kFenceStep;
    if (from > to || to > n) {  // fences out of order: none for this move
      from = 0;
      to = n;
    }
    if (x > 0 && (from != lo || to != hi)) {
      ranges.push_back({lo, hi, a, x});
      a = x;
    }
    lo = from;
    hi = to;
  }
  if (!fresh.empty()) ranges.push_back({lo, hi, a, fresh.size()});
}

// Places the unplaced moves of `column` against its array, all in one pass:
// the new moves are sorted by their keys and sent down one shared binary
// search over the array, so that each probe (a row of "data" read) serves
// every move on its side: about m log(n/m) probes for m moves instead of
// m log n, and none of the bookkeeping of a search per record. A place is
// canonical, the first entry still in the array that sorts after the move:
// a move placed by an earlier update whose entry has moved since is placed
// again at the next entry still there.
void place_moves(sqlite3* db, const std::string& column, std::vector<TMoved>& moves) {
  TLazyArray array(db, sort_index_name(column));
  const int64_t n = array.size();
  std::vector<size_t> fresh;
  for (size_t x = 0; x < moves.size(); ++x)
    if (moves[x].p < 0 && !moves[x].gone) fresh.push_back(x);
  std::unordered_set<int64_t> moved, unplaced;
  for (const TMoved& mv : moves) {
    moved.insert(mv.id);
    if (mv.p < 0) unplaced.insert(mv.id);
  }
  // The first entry at or after `at` that is still in the array (n if none).
  auto kept_from = [&](int64_t at) {
    while (at < n && moved.count(array[at]) != 0) ++at;
    return at;
  };
  std::sort(fresh.begin(), fresh.end(), [&](size_t x, size_t y) { return move_less(moves[x], moves[y]); });
  // The fences are read whole (25 ms at a million books): worth it from
  // about a move per 8,192 entries on, each placed with a dozen fewer
  // probes and chunks read; fewer moves are placed by probes alone.
  std::vector<TRange> ranges;
  if (static_cast<int64_t>(fresh.size()) * 8192 >= n)
    window_ranges(db, sort_index_name(column), n, moves, fresh, ranges);
  else
    ranges.push_back({0, n, 0, fresh.size()});
  TStmt values = prepare(db, "SELECT " + column + ", MS_BOOKID FROM data WHERE rowid = ?1");
  TMoved probe;
  // Whether the move goes before the probed entry: its value decides, the
  // book id (read only then) on a tie.
  auto before_probe = [&](size_t x) {
    const TMoved& mv = moves[x];
    if (int c = mv.k.compare(probe.k); c != 0) return c < 0;
    if (probe.b.empty()) append_sort_key(sqlite3_column_value(values.get(), 1), probe.b);
    if (int c = mv.b.compare(probe.b); c != 0) return c < 0;
    return mv.id < probe.id;
  };
  while (!ranges.empty()) {
    const TRange r = ranges.back();
    ranges.pop_back();
    if (r.a >= r.b) continue;
    if (r.lo >= r.hi) {
      for (size_t x = r.a; x < r.b; ++x) moves[fresh[x]].p = r.lo;
      continue;
    }
    const int64_t mid = r.lo + (r.hi - r.lo) / 2;
    const int64_t at = kept_from(mid);
    if (at >= r.hi) {  // no entry left in [mid, hi): mid does for all
      ranges.push_back({r.lo, mid, r.a, r.b});
      continue;
    }
    probe.id = array[at];
    sqlite3_bind_int64(values.get(), 1, probe.id);
    if (!step(db, values.get())) {
      sqlite3_reset(values.get());
      throw std::runtime_error("a record of a sort order missing from data");
    }
    probe.k.clear();
    append_sort_key(sqlite3_column_value(values.get(), 0), probe.k);
    probe.b.clear();
    // The first move not before the probed entry.
    size_t split = r.a;
    for (size_t count = r.b - r.a; count > 0;) {
      const size_t half = count / 2;
      if (before_probe(fresh[split + half])) {
        split += half + 1;
        count -= half + 1;
      } else {
        count = half;
      }
    }
    sqlite3_reset(values.get());
    ranges.push_back({r.lo, mid, r.a, split});
    ranges.push_back({at + 1, r.hi, split, r.b});
  }
  for (TMoved& mv : moves) {
    if (mv.gone) continue;
    // Only the new moves and those that went before a record moved now
    // need their place (made) canonical.
    const bool placed_now = unplaced.count(mv.id) != 0;
    if (!placed_now && (mv.q < 0 || unplaced.count(mv.q) == 0)) continue;
    mv.p = kept_from(std::clamp<int64_t>(mv.p, 0, n));
    mv.q = mv.p < n ? array[mv.p] : -1;
  }
}

// Settles the moves of `column` recorded by the current update: places
// them, or folds them all into a new array once they pass their bound (a
// 128th of the array: a walk reads every move of its column and places the
// hits among them; placing them all costs less than making the array anew
// up to there, about 9 probes a move at a million books).
void settle_column(sqlite3* db, const std::string& column) {
  std::vector<TMoved> moves;
  {
    TStmt read = prepare(db, "SELECT id, k, b, p, q FROM mw_sort_moved WHERE col = ?1");
    sqlite3_bind_text(read.get(), 1, column.c_str(), -1, SQLITE_TRANSIENT);
    auto blob = [&](int i) {
      const auto* data = static_cast<const char*>(sqlite3_column_blob(read.get(), i));
      return data != nullptr ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(read.get(), i)))
                             : std::string();
    };
    auto number = [&](int i) {
      return sqlite3_column_type(read.get(), i) == SQLITE_NULL ? -1 : sqlite3_column_int64(read.get(), i);
    };
    while (step(db, read.get()))
      moves.push_back({sqlite3_column_int64(read.get(), 0), blob(1), blob(2), number(3), number(4),
                       sqlite3_column_type(read.get(), 1) == SQLITE_NULL});
  }
  const int64_t n = array_size(db, sort_index_name(column));
  std::vector<std::pair<int64_t, int64_t>> before;
  for (const TMoved& mv : moves) before.push_back({mv.p, mv.q});
  if (static_cast<int64_t>(moves.size()) <= std::max<int64_t>(32, n / 128)) {
    place_moves(db, column, moves);
    TStmt update = prepare(db, "UPDATE mw_sort_moved SET p = ?3, q = ?4 WHERE col = ?1 AND id = ?2");
    sqlite3_bind_text(update.get(), 1, column.c_str(), -1, SQLITE_TRANSIENT);
    for (size_t x = 0; x < moves.size(); ++x) {
      // A record gone keeps no place; 0 marks it settled.
      const int64_t p = moves[x].gone ? 0 : moves[x].p, q = moves[x].gone ? -1 : moves[x].q;
      if (std::make_pair(p, q) == before[x]) continue;
      sqlite3_bind_int64(update.get(), 2, moves[x].id);
      sqlite3_bind_int64(update.get(), 3, p);
      sqlite3_bind_int64(update.get(), 4, q);
      run(db, update.get());
    }
    return;
  }
  // The changing rows are in "data" and mw_keys alike by now; the book ids
  // come from "data", the one the moves' keys come from.
  fill_orders(db, {column}, "SELECT rowid, MS_BOOKID FROM data");
  TStmt clear = prepare(db, "DELETE FROM mw_sort_moved WHERE col = ?1");
  sqlite3_bind_text(clear.get(), 1, column.c_str(), -1, SQLITE_TRANSIENT);
  run(db, clear.get());
}

// mw_sort_settle(): settles the moves the triggers recorded (unplaced: p
// is NULL) in every column that has some, once per update.
void sort_settle_function(sqlite3_context* context, int, sqlite3_value**) {
  guarded(context, kFunctionFailed, [&] {
    sqlite3* db = sqlite3_context_db_handle(context);
    std::vector<std::string> columns;
    {
      TStmt unsettled = prepare(db, "SELECT DISTINCT col FROM mw_sort_moved WHERE p IS NULL");
      while (step(db, unsettled.get())) columns.push_back(column_argument(sqlite3_column_value(unsettled.get(), 0)));
    }
    for (const std::string& column : columns) settle_column(db, column);
    sqlite3_result_null(context);
  });
}

}  // namespace

std::string sort_key(sqlite3_value* value) {
  std::string key;
  append_sort_key(value, key);
  return key;
}

void append_sort_key(sqlite3_value* value, std::string& key) {
  switch (sqlite3_value_type(value)) {
    case SQLITE_NULL:
      key.push_back('\0');
      break;
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
      // The double's bits as an unsigned number that orders as the double:
      // negative numbers turned round, the sign bit set on the others.
      const double d = sqlite3_value_double(value);
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      bits = (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
      key.push_back('\1');
      for (int shift = 56; shift >= 0; shift -= 8)
        key.push_back(static_cast<char>((bits >> shift) & 0xff));
      break;
    }
    case SQLITE_TEXT:
      key.push_back('\2');
      key.append(reinterpret_cast<const char*>(sqlite3_value_text(value)),
                 static_cast<size_t>(sqlite3_value_bytes(value)));
      break;
    default: {
      key.push_back('\3');
      const int size = sqlite3_value_bytes(value);
      if (size > 0)
        key.append(static_cast<const char*>(sqlite3_value_blob(value)), static_cast<size_t>(size));
      break;
    }
  }
}

const std::vector<const char*>& sort_columns() {
  // The sort fields offered by the sample templates besides the book id
  // (which has mw_bookid).
  static const std::vector<const char*> columns = {"MS_SYOKANA", "MS_CHOKANA", "MS_SYUPAN",
                                                   "MS_SYUNEN", "MS_UKEIRE"};
  return columns;
}

std::string sort_index_name(const std::string& column) {
  for (const char* c : sort_columns())
    if (column == c) return std::string("mw_sort_") + c;
  return {};
}

void register_sort_functions(sqlite3* db) {
  const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function(db, "mw_sort_key", 1, flags, nullptr, sort_key_function, nullptr,
                          nullptr);
  sqlite3_create_function(db, "mw_fill_sort", 0, SQLITE_UTF8, nullptr, fill_sort_function,
                          nullptr, nullptr);
  sqlite3_create_function(db, "mw_sort_settle", 0, SQLITE_UTF8, nullptr, sort_settle_function,
                          nullptr, nullptr);
}

std::string sort_schema_sql() {
  std::string sql =
      "CREATE TABLE mw_sort_moved(col TEXT NOT NULL, id INTEGER NOT NULL, k BLOB, b BLOB, "
      "p INTEGER, q INTEGER, PRIMARY KEY(col, id)) WITHOUT ROWID;\n";
  for (const char* column : sort_columns())
    sql += "CREATE TABLE " + sort_index_name(column) + "(chunk INTEGER PRIMARY KEY, ids BLOB NOT NULL);\n"
           "CREATE TABLE " + fence_table(sort_index_name(column)) + "(chunk INTEGER PRIMARY KEY, keys BLOB NOT NULL);\n";
  return sql;
}

std::string sort_after_build_sql() { return "SELECT mw_fill_sort();\n"; }

std::string sort_update_sql() {
  // A record moves in a column's order when its value or its book id (which
  // orders ties) changes; other changes leave the orders alone. A trigger
  // only records the move, unplaced: the update settles them all at its end
  // (sort_finish_sql), in one pass per column.
  std::string sql;
  for (const char* column : sort_columns()) {
    const std::string c = column, name = sort_index_name(column);
    const std::string record = "  INSERT OR REPLACE INTO mw_sort_moved(col, id, k, b, p, q) VALUES ('" + c + "', ";
    const std::string move_new = record + "new.rowid, mw_sort_key(new." + c + "), mw_sort_key(new.MS_BOOKID), NULL, NULL);\n";
    sql += "CREATE TEMP TRIGGER IF NOT EXISTS " + name + "_insert AFTER INSERT ON main.data BEGIN\n" +
           move_new + "END;\n"
           "CREATE TEMP TRIGGER IF NOT EXISTS " + name + "_delete AFTER DELETE ON main.data BEGIN\n" +
           record + "old.rowid, NULL, NULL, NULL, NULL);\nEND;\n"
           "CREATE TEMP TRIGGER IF NOT EXISTS " + name + "_update AFTER UPDATE ON main.data WHEN old." +
           c + " IS NOT new." + c + " OR old.MS_BOOKID IS NOT new.MS_BOOKID BEGIN\n" + move_new + "END;\n";
  }
  return sql;
}

std::string sort_finish_sql() { return "SELECT mw_sort_settle();\n"; }

// ---- The walk ----

struct TSortWalk::Impl {
  sqlite3* db;
  bool values_descending, ties_descending;
  std::function<bool(int64_t)> is_hit;
  std::string table;  // schema-qualified
  int64_t n = 0;
  std::vector<std::vector<uint32_t>> chunks;  // loaded when first passed
  TStmt chunk_stmt, value_stmt;
  std::unordered_set<int64_t> moved;
  struct TMove {
    int64_t p;  // the array index it goes before
    std::string k, b;
    int64_t id;
  };
  std::vector<TMove> moves;  // the moved records that are hits, in order
  int64_t visited = 0;

  // The merged sequence, read ascending or descending: `i` is the next
  // array index, `m` the next of `moves`.
  bool ascending;
  int64_t i = 0, m = 0;
  struct TItem {
    int64_t id = 0;
    bool hit = false;
    bool same = false;  // its value equals the value of the item before it (ascending)
  };
  // Runs read in the opposite direction to the values: the current run's
  // hits, in the order they are given.
  std::vector<int64_t> run;
  size_t run_at = 0;
  bool pending_item = false, exhausted = false;
  TItem pending;

  uint32_t raw(int64_t at) {
    const auto chunk = static_cast<size_t>(at / kSortChunk);
    if (chunks.size() <= chunk) chunks.resize(chunk + 1);
    std::vector<uint32_t>& c = chunks[chunk];
    if (c.empty()) {
      sqlite3_bind_int64(chunk_stmt.get(), 1, static_cast<sqlite3_int64>(chunk));
      if (step(db, chunk_stmt.get())) {
        const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(chunk_stmt.get(), 0));
        const int size = sqlite3_column_bytes(chunk_stmt.get(), 0);
        c.resize(static_cast<size_t>(size / 4));
        for (size_t j = 0; j < c.size(); ++j) c[j] = read_entry(bytes + j * 4);
      }
      sqlite3_reset(chunk_stmt.get());
      if (c.size() <= static_cast<size_t>(at % kSortChunk))
        throw EMirelSearch(u"並べ替え順が途中で変わりました");
    }
    return c[static_cast<size_t>(at % kSortChunk)];
  }
  int64_t record(int64_t at) { return raw(at) & kRecordMask; }
  bool is_moved(int64_t at) { return !moved.empty() && moved.count(record(at)) != 0; }

  // The sort key of record r's value; nullopt for a record not there.
  std::optional<std::string> key_of(int64_t r) {
    sqlite3_bind_int64(value_stmt.get(), 1, r);
    std::optional<std::string> out;
    if (step(db, value_stmt.get())) out = column_key(value_stmt.get(), 0);
    sqlite3_reset(value_stmt.get());
    return out;
  }
  bool same_key(int64_t r, const std::string& k) {
    const std::optional<std::string> key = key_of(r);
    return key && *key == k;
  }

  // The index of the last array entry before `at` not left out; -1 if none.
  int64_t kept_before(int64_t at) {
    while (at >= 0 && is_moved(at)) --at;
    return at;
  }

  // Whether the kept array entry `at` has the value of the item before it.
  bool array_same(int64_t at) {
    // The flags chain equal values across entries left out.
    bool same = (raw(at) & kSameValue) != 0;
    int64_t j = at - 1;
    while (j >= 0 && is_moved(j)) {
      same = same && (raw(j) & kSameValue) != 0;
      --j;
    }
    // A moved hit placed between entry j and this one comes just before it.
    auto last = std::upper_bound(moves.begin(), moves.end(), at,
                                 [](int64_t p, const TMove& mv) { return p < mv.p; });
    if (last != moves.begin() && std::prev(last)->p > j) return same_key(record(at), std::prev(last)->k);
    return j >= 0 && same;
  }

  // Whether moves[x] has the value of the item before it.
  bool move_same(size_t x) {
    const TMove& mv = moves[x];
    const int64_t j = kept_before(mv.p - 1);
    if (x > 0 && moves[x - 1].p > j) return moves[x - 1].k == mv.k;
    return j >= 0 && same_key(record(j), mv.k);
  }

  bool next_item(TItem& out) {
    const auto count = static_cast<int64_t>(moves.size());
    for (;;) {
      if (ascending) {
        if (m < count && moves[static_cast<size_t>(m)].p <= i) {
          out = {moves[static_cast<size_t>(m)].id, true, move_same(static_cast<size_t>(m))};
          ++m;
          ++visited;
          return true;
        }
        if (i >= n) return false;
      } else {
        if (m >= 0 && moves[static_cast<size_t>(m)].p > i) {
          out = {moves[static_cast<size_t>(m)].id, true, move_same(static_cast<size_t>(m))};
          --m;
          ++visited;
          return true;
        }
        if (i < 0) return false;
      }
      const int64_t at = i;
      i += ascending ? 1 : -1;
      ++visited;
      if (is_moved(at)) continue;
      const int64_t r = record(at);
      out = {r, is_hit(r), false};
      // Only a run read against the direction of the values needs the runs.
      if (values_descending != ties_descending) out.same = array_same(at);
      return true;
    }
  }

  // The hits of the next run of equal values, in the order of the ties.
  bool next_run() {
    run.clear();
    run_at = 0;
    if (exhausted) return false;
    TItem item;
    if (ascending) {
      // A run is an item whose value differs from the one before it and
      // the items after it with the same value.
      if (!pending_item && !next_item(pending)) {
        exhausted = true;
        return false;
      }
      pending_item = false;
      if (pending.hit) run.push_back(pending.id);
      while (next_item(item)) {
        if (!item.same) {
          pending = item;
          pending_item = true;
          break;
        }
        if (item.hit) run.push_back(item.id);
      }
      if (!pending_item) exhausted = true;
    } else {
      // Read backwards, a run ends with its first item.
      bool any = false;
      while (next_item(item)) {
        any = true;
        if (item.hit) run.push_back(item.id);
        if (!item.same) break;
      }
      if (!any) {
        exhausted = true;
        return false;
      }
    }
    std::reverse(run.begin(), run.end());
    return true;
  }
};

TSortWalk::TSortWalk(sqlite3* db, const std::string& schema, const std::string& column,
                     bool values_descending, bool ties_descending,
                     std::function<bool(int64_t)> is_hit)
    : impl_(std::make_unique<Impl>()) {
  Impl& w = *impl_;
  const std::string name = sort_index_name(column);
  if (name.empty()) throw EMirelSearch(u"並べ替え順のない欄です: " + Mirel::from_utf8(column));
  std::string quoted = "\"";
  for (char c : schema) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  quoted += "\".";
  w.db = db;
  w.values_descending = values_descending;
  w.ties_descending = ties_descending;
  w.is_hit = std::move(is_hit);
  w.table = quoted + name;
  w.n = array_size(db, w.table);
  w.chunk_stmt = prepare(db, "SELECT ids FROM " + w.table + " WHERE chunk = ?1");
  w.value_stmt = prepare(db, "SELECT " + column + " FROM " + quoted + "data WHERE rowid = ?1");
  TStmt moves = prepare(db, "SELECT id, k, b, p FROM " + quoted + "mw_sort_moved WHERE col = ?1");
  sqlite3_bind_text(moves.get(), 1, column.c_str(), -1, SQLITE_TRANSIENT);
  auto blob = [&](int i) {
    const auto* data = static_cast<const char*>(sqlite3_column_blob(moves.get(), i));
    return data != nullptr ? std::string(data, static_cast<size_t>(sqlite3_column_bytes(moves.get(), i)))
                           : std::string();
  };
  while (step(db, moves.get())) {
    const int64_t id = sqlite3_column_int64(moves.get(), 0);
    w.moved.insert(id);
    if (sqlite3_column_type(moves.get(), 1) != SQLITE_NULL && w.is_hit(id))
      w.moves.push_back({std::clamp<int64_t>(sqlite3_column_int64(moves.get(), 3), 0, w.n), blob(1), blob(2), id});
  }
  std::sort(w.moves.begin(), w.moves.end(), [](const Impl::TMove& a, const Impl::TMove& b) {
    if (a.p != b.p) return a.p < b.p;
    if (a.k != b.k) return a.k < b.k;
    if (a.b != b.b) return a.b < b.b;
    return a.id < b.id;
  });
  w.ascending = !values_descending;
  w.i = w.ascending ? 0 : w.n - 1;
  w.m = w.ascending ? 0 : static_cast<int64_t>(w.moves.size()) - 1;
}

TSortWalk::~TSortWalk() = default;

bool TSortWalk::next(int64_t& id) {
  Impl& w = *impl_;
  if (w.values_descending == w.ties_descending) {
    Impl::TItem item;
    while (w.next_item(item))
      if (item.hit) {
        id = item.id;
        return true;
      }
    return false;
  }
  while (w.run_at >= w.run.size())
    if (!w.next_run()) return false;
  id = w.run[w.run_at++];
  return true;
}

int64_t TSortWalk::visited() const { return impl_->visited; }

}  // namespace Mirelsearch_tlb::detail
