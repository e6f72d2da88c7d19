// Tmirel_search: the catalogue search over the library's tables. open()
// makes the caches current through the database engine and counts the
// hits; the first read of a record chooses, once per open, the reader of
// the hit list that is cheapest for that position (a page far down a long
// list walks the book-id index or a sort order, a short list is found through the
// search index and sorted, a page past the middle of a sorted list is read
// from the list's end), which then only steps forward. The cursor's states
// are listed at Tmirel_search::Impl. A record's columns are read once per
// hit, when its first getter is called.
#include "search/mirel_search.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "database/database.h"
#include "mirelsearch/catalogue_index.h"
#include "mirelsearch/hit_set.h"
#include "mirelsearch/posting_index.h"
#include "mirelsearch/query_plan.h"
#include "mirelsearch/sort_tables.h"
#include "platform/cpu_limit.h"

namespace Mirelsearch_tlb {

using Mirel::UnicodeString;
using namespace detail;

namespace {

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct ValueDeleter {
  void operator()(sqlite3_value* v) const { sqlite3_value_free(v); }
};
using Value = std::unique_ptr<sqlite3_value, ValueDeleter>;

UnicodeString call_text(const char* call) { return Mirel::from_utf8(call); }

// The clock of the time budget (replaceable by tests).
std::function<std::chrono::steady_clock::time_point()>& search_clock() {
  static std::function<std::chrono::steady_clock::time_point()> clock = [] {
    return std::chrono::steady_clock::now();
  };
  return clock;
}

Statement prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &raw, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(raw);
    throw EMirelSearch(u"検索の SQL を準備できません: " + Mirel::from_utf8(sqlite3_errmsg(db)));
  }
  return Statement(raw);
}

void bind_plan(sqlite3_stmt* stmt, const TQueryPlan& plan) {
  for (size_t i = 0; i < plan.params.size(); ++i)
    sqlite3_bind_text(stmt, static_cast<int>(i + 2), plan.params[i].c_str(), -1, SQLITE_TRANSIENT);
}

// One step; SQLITE_ROW or SQLITE_DONE, anything else is an error. A step
// interrupted by the time budget (see Impl::on_progress) is ESearchTimeout.
bool step(sqlite3* db, sqlite3_stmt* stmt) {
  int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  if (rc == SQLITE_INTERRUPT)
    throw ESearchTimeout(u"検索が時間内に終わりませんでした");
  throw EMirelSearch(u"検索を実行できません: " + Mirel::from_utf8(sqlite3_errmsg(db)));
}

UnicodeString column_text(sqlite3_stmt* stmt, int i) {
  const unsigned char* text = sqlite3_column_text(stmt, i);
  if (text == nullptr) return {};
  return Mirel::from_utf8(
      std::string_view(reinterpret_cast<const char*>(text), sqlite3_column_bytes(stmt, i)));
}

// Column names are matched without regard to letter case, as in the engine.
std::string upper_ascii(const char* name) {
  std::string out = name != nullptr ? name : "";
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

// Where mw_collect puts what it collects, and the count of record numbers
// the search has read (from the index, from its set of hits, or walking the
// table): the measure of a search's cost that the tests check.
struct TCollector {
  std::vector<int64_t> ids;
  int64_t visited = 0;
};

// mw_collect(rowid): an aggregate that appends every value to the
// collector given as the function's user data. Reading a long hit list this
// way costs one statement step instead of one per hit.
void collect_step(sqlite3_context* context, int, sqlite3_value** argv) {
  try {
    auto* collector = static_cast<TCollector*>(sqlite3_user_data(context));
    collector->ids.push_back(sqlite3_value_int64(argv[0]));
    ++collector->visited;
  } catch (...) {
    sqlite3_result_error_nomem(context);
  }
}

void collect_final(sqlite3_context* context) { sqlite3_result_null(context); }

}  // namespace

struct Tmirel_search::Impl {
  // Conditions.
  std::vector<std::shared_ptr<Istring_keyword>> keywords;
  std::vector<std::shared_ptr<Istring_range>> ranges;
  std::shared_ptr<Isql_order> order;
  bool flag = true;

  // An open search.
  std::unique_ptr<Mirel::Database::TCatalog> catalog;
  bool with_status = true;  // the flag as it was at open
  std::string master, syozai, kkubun, kasidasi;  // schemas
  std::vector<std::string> columns;
  TQueryPlan plan;
  int64_t count = 0;
  int64_t position = 0;  // index of the current hit; count = past the end

  // Record numbers of the hits when the search index alone decides them
  // (read at open, they give the count), and the same as a bit set for a
  // walk along the book-id index.
  std::vector<int64_t> hit_rowids;
  bool hits_read = false;
  TCollector collector;
  // The time budget of the work after the catalogue is current: a step of
  // SQL that runs past the deadline is interrupted (ESearchTimeout).
  TSearchBudget budget;
  std::chrono::steady_clock::time_point deadline{};
  std::vector<uint64_t> hit_bits;
  // Whether record numbers ascend with book ids: -1 until asked.
  int records_in_bookid_order = -1;

  // The cursor over the hits. Its states:
  //
  //   CLOSED    No catalogue: after construction, close(), or an open()
  //             that failed. The value-returning calls throw.
  //             open() -> COUNTED.
  //   COUNTED   open() made the caches current, built the plan and counted
  //             the hits (a plan the search index alone decides has its
  //             hits read here, since they give the count); position is 0
  //             and there is no reader. move_by and move_next move the
  //             position only; past the last hit -> PAST_END. The first
  //             read of a record -> READING.
  //   READING   The reader was chosen, once, for the position of that
  //             first read (the start of the page): choose_strategy, and
  //             for a sorted list a start past its middle. The reader gives
  //             the record number at each later position, which never goes
  //             back; a field read loads the record there once
  //             (loaded_position). Moving past the last hit -> PAST_END.
  //   PAST_END  position == count (a reader, if any, is kept until
  //             close): get_is_eof is true; the record getters and a
  //             move_by by a positive count throw.
  //
  //   close() from any state -> CLOSED; open() closes first. An error
  //   while the reader is chosen (the time budget, a list that changed)
  //   leaves none, so the next read chooses again; an error inside the
  //   reader leaves it where it stopped.
  //
  // The readers, one per way of producing the list:
  //   TListedHits   hit_list: the n-th hit is the n-th record of the list
  //                 read from the search index.
  //   TTailHits     a sorted list (index_driven, table_driven, order_walk)
  //                 first read past its middle: the hits from there to the
  //                 end, read at once from the list's end (last_rows_sql).
  //   TSteppedRows  the hit list's SQL (rows_sql) stepped forward as far as
  //                 asked; an order_walk keeps the rows in the set of hits.
  //   TColumnWalk   an order_walk along a sort column's order (TSortWalk):
  //                 from the list's start stepped forward, or first read
  //                 past its middle, the hits from there to the end read at
  //                 once from the list's end.
  struct THitReader {
    virtual ~THitReader() = default;
    // The record number of the hit at `position` (never less than the last
    // one asked for).
    virtual int64_t rowid_at(int64_t position, const char* call) = 0;
  };
  struct TListedHits;
  struct TTailHits;
  struct TSteppedRows;
  struct TColumnWalk;
  std::unique_ptr<THitReader> reader;  // null in CLOSED and COUNTED

  // Statements used once per hit, prepared on first use.
  Statement record_stmt, kasidasi_stmt, syozai_stmt, kkubun_stmt;

  // The current record's columns, by name.
  int64_t loaded_position = -1;
  std::map<std::string, Value, std::less<>> record;

  bool is_open() const { return catalog != nullptr; }
  sqlite3* db() const { return catalog->handle(); }

  void require_open(const char* call) const {
    if (!is_open())
      throw EMirelSearch(call_text(call) + u": 検索結果が開かれていません");
  }

  void require_record(const char* call) const {
    require_open(call);
    if (position >= count)
      throw EMirelSearch(call_text(call) + u": 検索結果の末尾を過ぎています");
  }

  void require_status(const char* call) const {
    if (!with_status)
      throw EMirelSearch(call_text(call) + u": 貸出状況を読まない検索です (set_flag)");
  }

  int64_t scalar(const std::string& sql) {
    Statement stmt = prepare(db(), sql);
    bind_plan(stmt.get(), plan);
    return step(db(), stmt.get()) ? sqlite3_column_int64(stmt.get(), 0) : 0;
  }

  void do_open(const UnicodeString& alias) {
    register_search_index();
    std::vector<std::string> tables = {"master"};
    if (flag) tables.insert(tables.end(), {"syozai", "kkubun", "kasidasi"});
    catalog = std::make_unique<Mirel::Database::TCatalog>(alias, tables);
    with_status = flag;
    register_index_functions(db());
    master = catalog->schema_of("master");
    // The index and the table are read in many small pieces; mapping the
    // cache file saves a system call per page.
    sqlite3_exec(db(), ("PRAGMA " + quote_identifier(master) + ".mmap_size = 1073741824").c_str(),
                 nullptr, nullptr, nullptr);
    if (with_status) {
      syozai = catalog->schema_of("syozai");
      kkubun = catalog->schema_of("kkubun");
      kasidasi = catalog->schema_of("kasidasi");
    }
    columns.clear();
    Statement info = prepare(db(), "PRAGMA " + quote_identifier(master) + ".table_info(data)");
    while (step(db(), info.get())) {
      const unsigned char* name = sqlite3_column_text(info.get(), 1);
      if (name != nullptr) columns.emplace_back(reinterpret_cast<const char*>(name));
    }
    plan = make_plan(keywords, ranges, order, columns);
    hit_rowids.clear();
    hits_read = false;
    collector = TCollector{};
    records_in_bookid_order = -1;
    sqlite3_create_function(db(), "mw_collect", 1, SQLITE_UTF8, &collector, nullptr,
                            collect_step, collect_final);
    register_hit_table(db(), &hit_rowids, &collector.visited);
    register_hit_test(db(), &hit_bits);
    start_budget();
    if (plan.never) {
      count = 0;
    } else if (plan.counted) {
      count = term_count(db(), master, plan.count_term);
    } else if (hits_from_index_alone(plan)) {
      read_hits();
      count = static_cast<int64_t>(hit_rowids.size());
    } else {
      count = scalar(count_sql(plan, master));
    }
    position = 0;
  }

  // The budget starts once the catalogue is current: bringing a cache up to
  // date is work that must finish whatever it costs, or every later request
  // would start it again.
  void start_budget() {
    if (budget.wall_ms > 0) {
      deadline = search_clock()() + std::chrono::milliseconds(budget.wall_ms);
      sqlite3_progress_handler(db(), kProgressSteps, on_progress, this);
    }
    if (budget.cpu_seconds > 0) Mirel::limit_cpu_time_from_now(budget.cpu_seconds);
  }

  bool past_deadline() const { return budget.wall_ms > 0 && search_clock()() >= deadline; }

  // Between the steps of SQL: after each word's list and before the rows.
  void check_budget() const {
    if (past_deadline()) throw ESearchTimeout(u"検索が時間内に終わりませんでした");
  }

  // Called every kProgressSteps virtual-machine steps; non-zero interrupts.
  static constexpr int kProgressSteps = 4000;
  static int on_progress(void* self) { return static_cast<Impl*>(self)->past_deadline() ? 1 : 0; }

  // The records of the SQL `sql` (one mw_collect over them), with the plan's
  // parameters.
  std::vector<int64_t> collect(const std::string& sql) {
    collector.ids.clear();
    Statement stmt = prepare(db(), sql);
    bind_plan(stmt.get(), plan);
    while (step(db(), stmt.get())) {
    }
    std::vector<int64_t> ids = std::move(collector.ids);
    collector.ids.clear();
    // The index lists records by ascending number; make sure.
    if (!std::is_sorted(ids.begin(), ids.end())) std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    return ids;
  }

  // Reads the record numbers of all hits (once per open): every word's
  // lists from the index once, intersected; a word of three or more
  // characters then keeps the records where its bigrams follow one another
  // (their lists' positions), and the conditions on the records themselves
  // read only the records left.
  void read_hits() {
    if (hits_read) return;
    // One read transaction for all the look-ups: each statement in its own
    // would take and drop the file locks again.
    struct TReadTransaction {
      sqlite3* db;
      bool own;
      explicit TReadTransaction(sqlite3* d) : db(d), own(sqlite3_get_autocommit(d) != 0) {
        if (own && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) own = false;
      }
      ~TReadTransaction() {
        if (own) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      }
    } transaction(db());
    std::vector<std::vector<int64_t>> lists;
    // The lists with positions of each word that needs them.
    std::vector<std::vector<const TPositionList*>> positions(plan.terms.size());
    // A term shared by several words (ひみ in ひみつ and ひみこ) is read
    // once, and its records go into the intersection once.
    std::map<uint64_t, TPositionList> read_with_positions;
    std::set<uint64_t> intersected;
    for (size_t k = 0; k < plan.terms.size(); ++k) {
      const TIndexTerm& term = plan.terms[k];
      check_budget();
      if (term.low != term.high) {
        lists.push_back(read_term_range(db(), master, term.low, term.high));
        collector.visited += static_cast<int64_t>(lists.back().size());
      }
      for (uint64_t t : term.terms) {
        if (term.sequence.empty()) {
          if (!intersected.insert(t).second) continue;
          lists.push_back(read_term(db(), master, t));
        } else {
          auto known = read_with_positions.find(t);
          if (known == read_with_positions.end())
            known = read_with_positions.emplace(t, read_positions(db(), master, t)).first;
          positions[k].push_back(&known->second);
          if (!intersected.insert(t).second) continue;
          lists.push_back(known->second.ids);
        }
        collector.visited += static_cast<int64_t>(lists.back().size());
      }
    }
    check_budget();
    hit_rowids = intersect_hits(std::move(lists));
    for (size_t k = 0; k < plan.terms.size(); ++k) {
      const TIndexTerm& term = plan.terms[k];
      if (term.sequence.empty() || hit_rowids.empty()) continue;
      check_budget();
      hit_rowids = keep_sequence(hit_rowids, term.sequence, term.terms, positions[k]);
    }
    if (!plan.where.empty() && !hit_rowids.empty())
      hit_rowids = collect(filter_hits_sql(plan, master));
    hits_read = true;
  }

  void mark_hits() {
    hit_bits.clear();
    int64_t highest = 0;
    for (int64_t id : hit_rowids) highest = std::max(highest, id);
    hit_bits.assign(static_cast<size_t>(highest / 64 + 1), 0);
    for (int64_t id : hit_rowids)
      if (id >= 0) hit_bits[static_cast<size_t>(id / 64)] |= uint64_t{1} << (id % 64);
  }

  bool is_hit(int64_t id) const {
    return id >= 0 && static_cast<size_t>(id / 64) < hit_bits.size() &&
           ((hit_bits[static_cast<size_t>(id / 64)] >> (id % 64)) & 1) != 0;
  }

  void reset_cursor() {
    reader.reset();
    record_stmt.reset();
    kasidasi_stmt.reset();
    syozai_stmt.reset();
    kkubun_stmt.reset();
    hit_bits.clear();
    loaded_position = -1;
    record.clear();
  }

  // Whether record numbers ascend with book ids. Asked once per open, and
  // only of a plan that could use it.
  bool bookid_order() {
    if (records_in_bookid_order < 0) {
      records_in_bookid_order = 0;
      Statement stmt = prepare_optional(bookid_order_sql(master));
      if (stmt && sqlite3_step(stmt.get()) == SQLITE_ROW)
        records_in_bookid_order = sqlite3_column_int64(stmt.get(), 0) != 0;
    }
    return records_in_bookid_order != 0;
  }

  // A statement that may fail to prepare (a table of an older index).
  Statement prepare_optional(const std::string& sql) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db(), sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(stmt);
      return Statement();
    }
    return Statement(stmt);
  }

  // The record number of the hit at `position`, choosing the reader on
  // the first read after open (COUNTED -> READING).
  int64_t current_record(const char* call) {
    require_record(call);
    if (!reader) {
      check_budget();
      reader = choose_reader(call);
    }
    return reader->rowid_at(position, call);
  }

  std::unique_ptr<THitReader> choose_reader(const char* call);

  int64_t scalar_plain(const std::string& sql) {
    Statement stmt = prepare(db(), sql);
    return step(db(), stmt.get()) ? sqlite3_column_int64(stmt.get(), 0) : 0;
  }

  void load(const char* call) {
    int64_t rowid = current_record(call);
    if (loaded_position == position) return;
    record.clear();
    sqlite3_stmt* stmt = reuse(record_stmt,
                               "SELECT * FROM " + quote_identifier(master) + ".data WHERE rowid = ?1");
    sqlite3_bind_int64(stmt, 1, rowid);
    if (!step(db(), stmt))
      throw EMirelSearch(call_text(call) + u": 検索結果が途中で変わりました");
    for (int i = 0, n = sqlite3_column_count(stmt); i < n; ++i)
      record.emplace(upper_ascii(sqlite3_column_name(stmt, i)),
                     Value(sqlite3_value_dup(sqlite3_column_value(stmt, i))));
    sqlite3_reset(stmt);
    loaded_position = position;
  }

  // `slot`'s statement, prepared from `sql` the first time, reset for reuse.
  sqlite3_stmt* reuse(Statement& slot, const std::string& sql) {
    if (!slot) slot = prepare(db(), sql);
    sqlite3_reset(slot.get());
    sqlite3_clear_bindings(slot.get());
    return slot.get();
  }

  // The column's value of the current record; null when blank or absent.
  sqlite3_value* field(const char* call, std::string_view column) {
    load(call);
    auto it = record.find(column);
    if (it == record.end() || sqlite3_value_type(it->second.get()) == SQLITE_NULL) return nullptr;
    return it->second.get();
  }

  UnicodeString text(const char* call, std::string_view column) {
    sqlite3_value* value = field(call, column);
    if (value == nullptr) return {};
    const unsigned char* t = sqlite3_value_text(value);
    if (t == nullptr) return {};
    return Mirel::from_utf8(
        std::string_view(reinterpret_cast<const char*>(t), sqlite3_value_bytes(value)));
  }

  // The first column of the first row of `sql` with ?1 bound to `key`.
  std::optional<UnicodeString> lookup(Statement& slot, const std::string& sql, sqlite3_value* key) {
    sqlite3_stmt* stmt = reuse(slot, sql);
    sqlite3_bind_value(stmt, 1, key);
    std::optional<UnicodeString> out;
    if (step(db(), stmt)) out = column_text(stmt, 0);
    sqlite3_reset(stmt);
    return out;
  }
};

struct Tmirel_search::Impl::TListedHits final : THitReader {
  Impl& search;
  explicit TListedHits(Impl& s) : search(s) {}

  // Ascending record numbers, which are the book-id order here.
  int64_t rowid_at(int64_t position, const char* call) override {
    const std::vector<int64_t>& hits = search.hit_rowids;
    const auto n = static_cast<int64_t>(hits.size());
    ++search.collector.visited;
    if (position >= n)
      throw EMirelSearch(call_text(call) + u": 検索結果が途中で変わりました");
    return hits[static_cast<size_t>(search.plan.descending ? n - 1 - position : position)];
  }
};

struct Tmirel_search::Impl::TTailHits final : THitReader {
  std::vector<int64_t> rowids;  // the hits from `start` to the last, in order
  int64_t start;

  // The list's order turned round and cut after the hits still to come
  // costs a sort (or a walk) of those alone.
  TTailHits(Impl& search, TRowStrategy strategy, int64_t from, const char* call) : start(from) {
    const int64_t n = search.count - start;
    Statement last = prepare(search.db(), last_rows_sql(search.plan, search.master, strategy, n));
    bind_plan(last.get(), search.plan);
    rowids.reserve(static_cast<size_t>(n));
    while (step(search.db(), last.get())) {
      ++search.collector.visited;
      rowids.push_back(sqlite3_column_int64(last.get(), 0));
    }
    if (static_cast<int64_t>(rowids.size()) != n)
      throw EMirelSearch(call_text(call) + u": 検索結果が途中で変わりました");
    std::reverse(rowids.begin(), rowids.end());
  }

  int64_t rowid_at(int64_t position, const char*) override {
    return rowids[static_cast<size_t>(position - start)];
  }
};

struct Tmirel_search::Impl::TSteppedRows final : THitReader {
  Impl& search;
  bool walking;  // keep only the rows in the set of hits (hit_bits)
  Statement rows;
  int64_t rows_position = -1;  // index of the hit `rows` stands on

  TSteppedRows(Impl& s, TRowStrategy strategy, bool records_in_order)
      : search(s), walking(strategy == TRowStrategy::order_walk) {
    rows = prepare(search.db(), rows_sql(search.plan, search.master, strategy, records_in_order));
    if (strategy == TRowStrategy::probe_walk)
      sqlite3_bind_text(rows.get(), 1, search.plan.count_word.c_str(), -1, SQLITE_TRANSIENT);
    else if (!walking)
      bind_plan(rows.get(), search.plan);
  }

  int64_t rowid_at(int64_t position, const char* call) override {
    while (rows_position < position) {
      if (!next_hit())
        throw EMirelSearch(call_text(call) + u": 検索結果が途中で変わりました");
      ++rows_position;
    }
    return sqlite3_column_int64(rows.get(), 0);
  }

  // Steps the list to its next hit; false at its end.
  bool next_hit() {
    while (step(search.db(), rows.get())) {
      ++search.collector.visited;
      if (!walking || search.is_hit(sqlite3_column_int64(rows.get(), 0))) return true;
    }
    return false;
  }
};

struct Tmirel_search::Impl::TColumnWalk final : THitReader {
  Impl& search;
  std::unique_ptr<TSortWalk> walk;
  int64_t walk_position = -1;  // index of the hit `current` is
  int64_t current = 0;
  std::vector<int64_t> tail;   // read from the end: the hits from `start` on
  int64_t start = 0;

  TColumnWalk(Impl& s, int64_t from, bool from_end, const char* call) : search(s), start(from) {
    // The mirror of the list's order turns every key round: the values and
    // the ties (book id, record number) alike.
    const bool values_descending = search.plan.descending != from_end;
    walk = std::make_unique<TSortWalk>(search.db(), search.master, search.plan.order_column,
                                       values_descending, from_end,
                                       [&s](int64_t id) { return s.is_hit(id); });
    if (!from_end) return;
    const int64_t n = search.count - start;
    tail.reserve(static_cast<size_t>(n));
    int64_t id = 0;
    while (static_cast<int64_t>(tail.size()) < n && walk->next(id)) tail.push_back(id);
    note_visits();
    if (static_cast<int64_t>(tail.size()) != n)
      throw EMirelSearch(call_text(call) + u": 検索結果が途中で変わりました");
    std::reverse(tail.begin(), tail.end());
  }

  void note_visits() {
    search.collector.visited += walk->visited() - counted;
    counted = walk->visited();
  }
  int64_t counted = 0;

  int64_t rowid_at(int64_t position, const char* call) override {
    if (!tail.empty()) return tail[static_cast<size_t>(position - start)];
    while (walk_position < position) {
      const bool found = walk->next(current);
      note_visits();
      if (!found) throw EMirelSearch(call_text(call) + u": 検索結果が途中で変わりました");
      ++walk_position;
    }
    return current;
  }
};

std::unique_ptr<Tmirel_search::Impl::THitReader> Tmirel_search::Impl::choose_reader(
    const char* call) {
  const int64_t table_rows =
      scalar_plain("SELECT max(rowid) FROM " + quote_identifier(master) + ".data");
  const bool by_bookid = plan.order_column.empty() || plan.order_column == "MS_BOOKID";
  const bool records_in_order = hits_from_index_alone(plan) && by_bookid && bookid_order();
  const TRowStrategy strategy = choose_strategy(plan, count, table_rows, position, records_in_order);
  if (strategy == TRowStrategy::hit_list) {
    read_hits();
    // The index lists hits by ascending record number; make sure.
    if (!std::is_sorted(hit_rowids.begin(), hit_rowids.end()))
      std::sort(hit_rowids.begin(), hit_rowids.end());
    return std::make_unique<TListedHits>(*this);
  }
  if (strategy == TRowStrategy::index_driven) {
    read_hits();  // the rows are the set of hits, sorted
  } else if (strategy == TRowStrategy::order_walk) {
    read_hits();
    mark_hits();
  }
  const bool sorted = strategy != TRowStrategy::probe_walk;
  if (strategy == TRowStrategy::order_walk && !by_bookid)
    return std::make_unique<TColumnWalk>(*this, position, position > count - position, call);
  if (sorted && position > count - position)
    return std::make_unique<TTailHits>(*this, strategy, position, call);
  return std::make_unique<TSteppedRows>(*this, strategy, records_in_order);
}

Tmirel_search::Tmirel_search() : impl_(std::make_unique<Impl>()) {}
Tmirel_search::~Tmirel_search() = default;

void Tmirel_search::add_keyword(std::shared_ptr<Istring_keyword> keyword) {
  if (keyword) impl_->keywords.push_back(std::move(keyword));
}
void Tmirel_search::add_range(std::shared_ptr<Istring_range> range) {
  if (range) impl_->ranges.push_back(std::move(range));
}
void Tmirel_search::set_sort(std::shared_ptr<Isql_order> order) { impl_->order = std::move(order); }
void Tmirel_search::set_flag(bool flag) { impl_->flag = flag; }
void Tmirel_search::set_budget(const TSearchBudget& budget) { impl_->budget = budget; }

namespace detail {
int64_t records_visited(const Tmirel_search& search) { return search.impl_->collector.visited; }
void set_search_clock_for_tests(std::function<std::chrono::steady_clock::time_point()> clock) {
  search_clock() = clock ? std::move(clock) : [] { return std::chrono::steady_clock::now(); };
}
}  // namespace detail

void Tmirel_search::connect(const UnicodeString&) {}

void Tmirel_search::open(const UnicodeString& alias) {
  close();
  try {
    impl_->do_open(alias);
  } catch (...) {
    close();
    throw;
  }
}

void Tmirel_search::close() {
  impl_->reset_cursor();
  impl_->catalog.reset();
  impl_->count = 0;
  impl_->position = 0;
}

void Tmirel_search::disconnect() { close(); }

int32_t Tmirel_search::get_record_count() {
  impl_->require_open("get_record_count");
  return static_cast<int32_t>(impl_->count);
}

void Tmirel_search::move_by(int32_t count, int32_t& moved) {
  impl_->require_open("move_by");
  if (count < 0) throw EMirelSearch(u"move_by: 後ろへは移動できません");
  if (count == 0) {
    moved = 0;
    return;
  }
  if (impl_->position >= impl_->count) impl_->require_record("move_by");
  int64_t target = std::min<int64_t>(impl_->position + count, impl_->count);
  moved = static_cast<int32_t>(target - impl_->position);
  impl_->position = target;
}

bool Tmirel_search::get_is_eof() {
  impl_->require_open("get_is_eof");
  return impl_->position >= impl_->count;
}

void Tmirel_search::move_next() {
  if (impl_->is_open() && impl_->position < impl_->count) ++impl_->position;
}

UnicodeString Tmirel_search::get_BOOKID() { return impl_->text("get_BOOKID", "MS_BOOKID"); }
UnicodeString Tmirel_search::get_SYOMEI() { return impl_->text("get_SYOMEI", "MS_SYOMEI"); }
UnicodeString Tmirel_search::get_SYOKANA() { return impl_->text("get_SYOKANA", "MS_SYOKANA"); }
UnicodeString Tmirel_search::get_CHOSYA() { return impl_->text("get_CHOSYA", "MS_CHOSYA"); }
UnicodeString Tmirel_search::get_CHOKANA() { return impl_->text("get_CHOKANA", "MS_CHOKANA"); }
UnicodeString Tmirel_search::get_SYUPAN() { return impl_->text("get_SYUPAN", "MS_SYUPAN"); }
UnicodeString Tmirel_search::get_SYUNEN() { return impl_->text("get_SYUNEN", "MS_SYUNEN"); }
UnicodeString Tmirel_search::get_ISBN() { return impl_->text("get_ISBN", "MS_ISBN"); }
UnicodeString Tmirel_search::get_PAGE() { return impl_->text("get_PAGE", "MS_PAGE"); }
UnicodeString Tmirel_search::get_OOKISA() { return impl_->text("get_OOKISA", "MS_OOKISA"); }
UnicodeString Tmirel_search::get_SEIKYU() { return impl_->text("get_SEIKYU", "MS_SEIKYU"); }
UnicodeString Tmirel_search::get_KENMEI() { return impl_->text("get_KENMEI", "MS_KENMEI"); }
UnicodeString Tmirel_search::get_NAIYO() { return impl_->text("get_NAIYO", "MS_NAIYO"); }
UnicodeString Tmirel_search::get_UKEIRE() { return impl_->text("get_UKEIRE", "MS_UKEIRE"); }
UnicodeString Tmirel_search::get_MEMO() { return impl_->text("get_MEMO", "MS_MEMO"); }

int32_t Tmirel_search::get_KINGAKU() {
  sqlite3_value* value = impl_->field("get_KINGAKU", "MS_KINGAKU");
  if (value == nullptr) return 0;
  // A price stored as text (a C column) counts by its leading number, as
  // SQLite reads it; out-of-range values are clamped to 32 bits.
  int64_t v = sqlite3_value_type(value) == SQLITE_FLOAT
                  ? static_cast<int64_t>(sqlite3_value_double(value))
                  : sqlite3_value_int64(value);
  if (v > INT32_MAX) v = INT32_MAX;
  if (v < INT32_MIN) v = INT32_MIN;
  return static_cast<int32_t>(v);
}

bool Tmirel_search::get_is_kasidasi() {
  impl_->require_record("get_is_kasidasi");
  impl_->require_status("get_is_kasidasi");
  sqlite3_value* bookid = impl_->field("get_is_kasidasi", "MS_BOOKID");
  if (bookid == nullptr) return false;
  return impl_
      ->lookup(impl_->kasidasi_stmt,
               "SELECT 1 FROM " + quote_identifier(impl_->kasidasi) +
                   ".data WHERE KA_BOOKID = ?1 AND KA_HDATE IS NOT NULL LIMIT 1",
               bookid)
      .has_value();
}

bool Tmirel_search::get_is_fumei() {
  return impl_->field("get_is_fumei", "MS_TZENKAI") == nullptr &&
         impl_->field("get_is_fumei", "MS_TFMSUU") != nullptr;
}

std::shared_ptr<Ikubun> Tmirel_search::get_SYOZAI() {
  impl_->require_record("get_SYOZAI");
  impl_->require_status("get_SYOZAI");
  auto result = std::make_shared<Tkubun>();
  sqlite3_value* code = impl_->field("get_SYOZAI", "MS_SYOZAI");
  if (code == nullptr) return result;
  auto name = impl_->lookup(impl_->syozai_stmt, "SELECT SY_SYOZAI FROM " + quote_identifier(impl_->syozai) +
                                ".data WHERE SY_CODE = ?1 LIMIT 1",
                            code);
  result->set_code(impl_->text("get_SYOZAI", "MS_SYOZAI"), name.value_or(UnicodeString()));
  return result;
}

std::shared_ptr<Ikkubun> Tmirel_search::get_kkubun() {
  impl_->require_record("get_kkubun");
  impl_->require_status("get_kkubun");
  auto result = std::make_shared<Tkkubun>();
  sqlite3_value* code = impl_->field("get_kkubun", "MS_KKUBUN");
  if (code == nullptr) return result;
  auto name = impl_->lookup(impl_->kkubun_stmt, "SELECT KK_KKNAME FROM " + quote_identifier(impl_->kkubun) +
                                ".data WHERE KK_KKUBUN = ?1 LIMIT 1",
                            code);
  result->set_code(impl_->text("get_kkubun", "MS_KKUBUN"), name.value_or(UnicodeString()));
  return result;
}

}  // namespace Mirelsearch_tlb
