// Building, changing and reading the lists of the search index
// (posting_index.h). A full build reads the table in record order once per
// group of fields, normalises each record's fields of the group once (the
// terms straight into integers, with their positions) and appends the
// record number (and a bigram's positions) to each of its terms' lists in
// memory; when those pass kSegmentBytes they are written out as one
// segment, a row per term in term order.
#include "mirelsearch/posting_index.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>

#include "mirelsearch/normalize.h"
#include "mirelsearch/sql_calls.h"
#include "search/conditions.h"

namespace Mirelsearch_tlb::detail {
namespace {

constexpr TSqlCalls kSql{u"検索索引"};
TStmt prepare(sqlite3* db, const std::string& sql) { return kSql.prepare(db, sql); }
bool step(sqlite3* db, sqlite3_stmt* stmt) { return kSql.step(db, stmt); }
void run(sqlite3* db, sqlite3_stmt* stmt) { kSql.run(db, stmt); }
constexpr const char* kFunctionFailed = "search index function failed";

void bind_term(sqlite3_stmt* stmt, int i, TTerm term) {
  const std::string bytes = term_bytes(term);
  sqlite3_bind_blob(stmt, i, bytes.data(), static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
}

TTerm column_term(sqlite3_stmt* stmt, int i) {
  const void* blob = sqlite3_column_blob(stmt, i);
  return pack_term(std::string_view(static_cast<const char*>(blob),
                                    static_cast<size_t>(sqlite3_column_bytes(stmt, i))));
}

std::string_view column_bytes(sqlite3_stmt* stmt, int i) {
  const void* blob = sqlite3_column_blob(stmt, i);
  if (blob == nullptr) return {};
  return {static_cast<const char*>(blob), static_cast<size_t>(sqlite3_column_bytes(stmt, i))};
}

std::string q(const std::string& schema) {
  std::string out = "\"";
  for (char c : schema) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\".";
}

Mirel::UnicodeString value_text(sqlite3_value* value) {
  const unsigned char* text = sqlite3_value_text(value);
  if (text == nullptr) return {};
  return Mirel::from_utf8(std::string_view(reinterpret_cast<const char*>(text),
                                           static_cast<size_t>(sqlite3_value_bytes(value))));
}

// The UTF-8 text of a column of the row `stmt` is on (empty for NULL).
std::string_view column_text(sqlite3_stmt* stmt, int i) {
  const unsigned char* text = sqlite3_column_text(stmt, i);
  if (text == nullptr) return {};
  return {reinterpret_cast<const char*>(text), static_cast<size_t>(sqlite3_column_bytes(stmt, i))};
}

size_t column_count() {
  size_t n = 0;
  for (const auto& group : index_groups()) n += group.dbf_columns.size();
  return n;
}

// ---- The full build ----

// The lists of one segment in memory. A term's list goes, coded, first into
// a small buffer inside its slot (the cache line that finding the term
// loaded anyway), then, once that is full, into a chain of blocks cut from
// large pages, each block twice the last up to kMaxBlock: a rare term costs
// its slot, a common one little more than its coded list, and nothing is
// allocated per number.
class TSegmentBuilder {
 public:
  TSegmentBuilder() { reset_table(1 << 12); }

  // Adds record `id` to the list of `term` (a term without positions); ids
  // come in ascending order.
  void add(TTerm term, uint32_t id) {
    TSlot& slot = slots_[find(term)];
    if (slot.count > 0 && slot.last == id) return;  // a term repeated in one record
    const uint32_t delta = id - slot.last;
    slot.last = id;
    ++slot.count;
    if (slot.staged + size_t{5} <= kStage) {
      slot.staged = static_cast<uint8_t>(put_varint(slot.buffer + slot.staged, delta) - slot.buffer);
      return;
    }
    uint8_t bytes[5];
    spill(slot, bytes, static_cast<size_t>(put_varint(bytes, delta) - bytes));
  }

  // Notes that the record being read has bigram `term` at `pos` (positions
  // of one term ascending); end_record writes them to the list.
  void add_at(TTerm term, uint32_t pos) {
    const uint32_t index = find(term);
    TSlot& slot = slots_[index];
    const auto link = static_cast<uint32_t>(pending_.size());
    pending_.push_back({pos, kEmpty});
    if (slot.first == kEmpty) {
      slot.first = link;
      touched_.push_back(index);
    } else {
      pending_[slot.latest].next = link;
    }
    slot.latest = link;
  }

  // Adds record `id` to the lists of its terms (`terms` in the order of its
  // text, repeats included). The slots of the terms a few places ahead are
  // fetched into the cache meanwhile: at a million books the lists' slots
  // are larger than the processor's nearer caches, and most of the time
  // would otherwise go waiting for them one after another.
  void add_record(const std::vector<TTermAt>& terms, uint32_t id) {
    constexpr size_t kAhead = 8;
    const size_t n = terms.size();
    const size_t mask = table_.size() - 1;  // the table only grows meanwhile
    for (size_t k = 0; k < std::min(n, kAhead); ++k)
      __builtin_prefetch(&table_[hash(terms[k].term, mask)]);
    for (size_t k = 0; k < n; ++k) {
      if (k + kAhead < n) __builtin_prefetch(&table_[hash(terms[k + kAhead].term, mask)]);
      if (k + kAhead / 2 < n) {
        const uint32_t ahead = table_[hash(terms[k + kAhead / 2].term, mask)];
        if (ahead != kEmpty) __builtin_prefetch(&slots_[ahead]);
      }
      const TTermAt& t = terms[k];
      if (has_positions(t.term)) add_at(t.term, t.pos);
      else add(t.term, id);
    }
    end_record(id);
  }

  // Appends record `id` with its positions to the list of each bigram that
  // add_at named since the last call.
  void end_record(uint32_t id) {
    for (uint32_t index : touched_) {
      TSlot& slot = slots_[index];
      positions_.clear();
      for (uint32_t link = slot.first; link != kEmpty; link = pending_[link].next)
        positions_.push_back(pending_[link].pos);
      const uint32_t delta = id - slot.last;
      slot.last = id;
      ++slot.count;
      slot.first = kEmpty;
      const size_t most = 5 + max_positions_bytes(positions_.size());
      if (coded_.size() < most) coded_.resize(most);
      uint8_t* end = put_varint(coded_.data(), delta);
      end = put_positions(end, positions_.data(), positions_.size());
      const auto n = static_cast<size_t>(end - coded_.data());
      if (slot.staged + n <= kStage) {
        std::memcpy(slot.buffer + slot.staged, coded_.data(), n);
        slot.staged = static_cast<uint8_t>(slot.staged + n);
      } else {
        spill(slot, coded_.data(), n);
      }
    }
    touched_.clear();
    pending_.clear();
  }

  // Memory in use for the lists of this segment, in bytes (pages kept from
  // an earlier segment for reuse do not count).
  size_t size() const {
    return size_t{page_} * kPage + slots_.size() * (sizeof(TSlot) + sizeof(uint32_t)) +
           table_.size() * sizeof(uint32_t);
  }
  bool empty() const { return slots_.empty(); }

  // Writes every list as a row of segment `seg`, in term order, and starts
  // an empty segment (keeping the memory for it).
  void write(sqlite3* db, sqlite3_stmt* insert, int64_t seg, int64_t& entries) {
    order_.resize(slots_.size());
    for (uint32_t i = 0; i < order_.size(); ++i) order_[i] = i;
    std::sort(order_.begin(), order_.end(),
              [this](uint32_t a, uint32_t b) { return slots_[a].term < slots_[b].term; });
    for (uint32_t index : order_) {
      const TSlot& slot = slots_[index];
      ids_.clear();
      if (slot.capacity > 0) {
        uint32_t bytes = kFirstBlock;
        for (uint32_t block = heads_[index];;) {
          const bool last = block == slot.tail;
          const uint8_t* b = at(block);
          ids_.append(reinterpret_cast<const char*>(b + 4), last ? slot.used : bytes - 4);
          if (last) break;
          std::memcpy(&block, b, 4);
          bytes = next_block(bytes);
        }
      }
      ids_.append(reinterpret_cast<const char*>(slot.buffer), slot.staged);
      bind_term(insert, 1, slot.term);
      sqlite3_bind_int64(insert, 2, seg);
      sqlite3_bind_int64(insert, 3, slot.count);
      sqlite3_bind_blob(insert, 4, ids_.data(), static_cast<int>(ids_.size()), SQLITE_STATIC);
      run(db, insert);
      entries += slot.count;
    }
    slots_.clear();
    heads_.clear();
    page_used_ = kPage;
    page_ = 0;
    reset_table(table_.size());
  }

 private:
  static constexpr uint32_t kPage = 1 << 20;
  static constexpr uint32_t kFirstBlock = 32, kMaxBlock = 1024;
  static constexpr uint32_t kEmpty = 0xFFFFFFFF;
  static constexpr size_t kStage = 31;
  // What adding to a list touches, in one cache line (the head of its chain
  // of blocks, needed only to write it out, is kept apart in heads_). The
  // list is its blocks, then its staged bytes.
  struct alignas(64) TSlot {
    TTerm term;
    uint32_t last = 0, count = 0;
    uint32_t tail = 0;
    uint16_t used = 0, capacity = 0;  // payload bytes in the tail block (capacity 0: none)
    // The record being read's positions: a chain in pending_.
    uint32_t first = kEmpty, latest = kEmpty;
    uint8_t staged = 0;
    uint8_t buffer[kStage];
  };
  static_assert(sizeof(TSlot) == 64 && kMaxBlock <= 0xFFFF);
  struct TPending {
    uint32_t pos, next;
  };

  // Moves the staged bytes and then `bytes` into the blocks.
  void spill(TSlot& slot, const uint8_t* bytes, size_t n) {
    to_blocks(slot, slot.buffer, slot.staged);
    slot.staged = 0;
    to_blocks(slot, bytes, n);
  }

  void to_blocks(TSlot& slot, const uint8_t* bytes, size_t n) {
    while (n > 0) {
      if (slot.used == slot.capacity) grow(slot);
      const size_t k = std::min<size_t>(n, slot.capacity - slot.used);
      std::memcpy(at(slot.tail) + 4 + slot.used, bytes, k);
      slot.used = static_cast<uint16_t>(slot.used + k);
      bytes += k;
      n -= k;
    }
  }

  uint8_t* at(uint32_t block) { return pages_[block / kPage].get() + block % kPage; }
  const uint8_t* at(uint32_t block) const { return pages_[block / kPage].get() + block % kPage; }
  // The size of the block after one of `bytes` (a block is its 4-byte link
  // to the next and its payload).
  static uint32_t next_block(uint32_t bytes) { return std::min(kMaxBlock, bytes * 2); }

  uint32_t allocate(uint32_t bytes) {
    if (page_used_ + bytes > kPage) {
      ++page_;
      if (page_ > pages_.size()) pages_.push_back(std::make_unique_for_overwrite<uint8_t[]>(kPage));
      page_used_ = 0;
    }
    const uint32_t block = (page_ - 1) * kPage + page_used_;
    page_used_ += bytes;
    return block;
  }

  // A new tail block for `slot`, its first when the slot has none.
  void grow(TSlot& slot) {
    const uint32_t bytes = slot.capacity == 0 ? kFirstBlock : next_block(slot.capacity + 4u);
    const uint32_t block = allocate(bytes);
    if (slot.capacity == 0) heads_[static_cast<size_t>(&slot - slots_.data())] = block;
    else std::memcpy(at(slot.tail), &block, 4);
    slot.tail = block;
    slot.used = 0;
    slot.capacity = static_cast<uint16_t>(bytes - 4);
  }

  static uint32_t hash(TTerm term, size_t mask) {
    return static_cast<uint32_t>(((term * 0x9E3779B97F4A7C15ull) >> 32) & mask);
  }

  uint32_t find(TTerm term) {
    const size_t mask = table_.size() - 1;
    for (uint32_t i = hash(term, mask);; i = static_cast<uint32_t>((i + 1) & mask)) {
      const uint32_t index = table_[i];
      if (index == kEmpty) {
        if ((slots_.size() + 1) * 4 > table_.size() * 3) {
          reset_table(table_.size() * 2);
          return find(term);
        }
        table_[i] = static_cast<uint32_t>(slots_.size());
        slots_.emplace_back().term = term;
        heads_.push_back(0);
        return table_[i];
      }
      if (slots_[index].term == term) return index;
    }
  }

  void reset_table(size_t size) {
    table_.assign(size, kEmpty);
    const size_t mask = size - 1;
    for (uint32_t index = 0; index < slots_.size(); ++index) {
      uint32_t i = hash(slots_[index].term, mask);
      while (table_[i] != kEmpty) i = static_cast<uint32_t>((i + 1) & mask);
      table_[i] = index;
    }
  }

  std::vector<uint32_t> table_;
  std::vector<TSlot> slots_;
  std::vector<uint32_t> heads_;
  std::vector<TPending> pending_;
  std::vector<uint32_t> touched_, positions_, order_;
  std::vector<uint8_t> coded_;
  std::string ids_;
  std::vector<std::unique_ptr<uint8_t[]>> pages_;
  uint32_t page_ = 0, page_used_ = kPage;  // pages in use, bytes used of the last
};


// The build's lists in memory are written out as a segment once they hold
// this much: larger segments are fewer rows per term, but the build's
// memory must stay small at a million books (24 MB: 120 MB at the end of
// the pass, beside the engine's page cache of 64 MB; 48 MB: 146 MB).
constexpr size_t kSegmentBytes = size_t{24} << 20;
size_t g_segment_bytes = kSegmentBytes;

// mw_build_index(): see register_posting_functions.
void build_function(sqlite3_context* context, int argc, sqlite3_value**) {
  guarded(context, kFunctionFailed, [&] {
    sqlite3* db = sqlite3_context_db_handle(context);
    // With an argument, the pass also copies each record's book id into
    // mw_keys (in record order, as that table is filled fastest), so that
    // no second pass over the wide rows is needed for it.
    const bool fill_keys = argc > 0;
    TStmt keys;
    if (fill_keys) keys = prepare(db, "INSERT INTO mw_keys(id, bookid) VALUES(?1, ?2)");
    TStmt insert = prepare(db, "INSERT INTO mw_post(term, seg, n, ids) VALUES(?1, ?2, ?3, ?4)");
    TSegmentBuilder lists;
    int64_t seg = 0, entries = 0;
    std::vector<TTermAt> terms;
    std::vector<TTerm> isbn;
    TFieldNormalizer normalizer;
    // One pass over the table in record order: every term's records come
    // in ascending order. The groups' columns, then MS_ISBN.
    const auto& groups = index_groups();
    TStmt read = prepare(db, "SELECT rowid, " + indexed_columns("") +
                                 (fill_keys ? ", MS_BOOKID" : "") + " FROM data ORDER BY rowid");
    struct TColumnOf {
      char letter;
      uint32_t number;  // within its group
      TFieldKind kind;
    };
    std::vector<TColumnOf> columns;
    for (const TIndexGroup& group : groups)
      for (size_t c = 0; c < group.dbf_columns.size(); ++c)
        columns.push_back({group.letter, static_cast<uint32_t>(c),
                           std::strcmp(group.dbf_columns[c], "MS_SYUPAN") == 0
                               ? TFieldKind::publisher
                               : TFieldKind::general});
    const int isbn_column = static_cast<int>(columns.size()) + 1;
    while (step(db, read.get())) {
      const int64_t id = sqlite3_column_int64(read.get(), 0);
      if (id < 0 || id > 0xFFFFFFFF) throw EMirelSearch(u"検索索引に入らない記録番号です");
      const auto record = static_cast<uint32_t>(id);
      if (fill_keys) {
        sqlite3_bind_int64(keys.get(), 1, id);
        sqlite3_bind_value(keys.get(), 2, sqlite3_column_value(read.get(), isbn_column + 1));
        run(db, keys.get());
      }
      terms.clear();
      for (size_t c = 0; c < columns.size(); ++c) {
        const std::string_view text = column_text(read.get(), static_cast<int>(c) + 1);
        if (text.empty()) continue;  // no terms (its number is kept by the next column)
        add_column_terms(columns[c].letter, columns[c].number,
                         normalizer.normalize(text, columns[c].kind), terms);
      }
      // Repeats are dropped by the lists themselves: no sorting per record.
      lists.add_record(terms, record);
      isbn.clear();
      const std::string_view isbn_text = column_text(read.get(), isbn_column);
      if (!isbn_text.empty()) add_isbn_terms(isbn_key(Mirel::from_utf8(isbn_text)), isbn);
      for (TTerm t : isbn) lists.add(t, record);
      if (lists.size() > g_segment_bytes) lists.write(db, insert.get(), seg++, entries);
    }
    if (!lists.empty()) lists.write(db, insert.get(), seg++, entries);
    TStmt meta = prepare(db, "INSERT INTO mw_post_meta(entries) VALUES(?1)");
    sqlite3_bind_int64(meta.get(), 1, entries);
    run(db, meta.get());
    sqlite3_result_int64(context, entries);
  });
}

// ---- Changes in place ----

// A record's terms, each once and ascending, with a bigram's positions
// coded (append_positions; empty for other terms).
using TTermPositions = std::vector<std::pair<TTerm, std::string>>;

// A term a changed record left or gained, waiting to be written.
struct TPendingEntry {
  TTerm term;
  int64_t id;
  uint32_t seq;     // the order it was found in: one pair's entries apply in it
  bool comes;       // gained (else left)
  std::string pos;  // a bigram's positions; empty for other terms
};

// The changes the triggers of one update collected and not yet written,
// and the count of changes since the last fold. One per connection.
struct TChangeState {
  std::vector<TPendingEntry> pending;
  uint32_t seq = 0;
  int64_t changes = -1, bound = 0;  // -1: not counted yet
};

// Entries collected before they are written out even inside a statement:
// a bound on the memory of an update that adds thousands of long records.
constexpr size_t kMaxPending = size_t{1} << 18;
size_t g_max_pending = kMaxPending;

TChangeState& state_of(sqlite3_context* context) {
  return **static_cast<std::shared_ptr<TChangeState>*>(sqlite3_user_data(context));
}

// `terms` grouped by term, ascending, each bigram with its positions.
TTermPositions term_positions(std::vector<TTermAt>& terms) {
  std::sort(terms.begin(), terms.end(), [](const TTermAt& a, const TTermAt& b) {
    return a.term != b.term ? a.term < b.term : a.pos < b.pos;
  });
  TTermPositions out;
  std::vector<uint32_t> positions;
  for (size_t i = 0; i < terms.size();) {
    const TTerm term = terms[i].term;
    positions.clear();
    for (; i < terms.size() && terms[i].term == term; ++i)
      if (positions.empty() || positions.back() != terms[i].pos) positions.push_back(terms[i].pos);
    std::string coded;
    if (has_positions(term)) append_positions(coded, positions.data(), positions.size());
    out.emplace_back(term, std::move(coded));
  }
  return out;
}

// Whether two SQL values are the same value (class and bytes).
bool same_value(sqlite3_value* a, sqlite3_value* b) {
  const int type = sqlite3_value_type(a);
  if (type != sqlite3_value_type(b)) return false;
  if (type == SQLITE_NULL) return true;
  const unsigned char* x = sqlite3_value_text(a);
  const int nx = sqlite3_value_bytes(a);
  const unsigned char* y = sqlite3_value_text(b);
  const int ny = sqlite3_value_bytes(b);
  return nx == ny && (nx == 0 || std::memcmp(x, y, static_cast<size_t>(nx)) == 0);
}

// The normalised texts of group `g` before (`had`) and after (`has`) a
// change, as the full build makes them (the columns normalised and joined
// by kColumnBreak); a column whose value stayed the same is normalised
// once for both.
void group_texts(size_t g, sqlite3_value** old_values, sqlite3_value** new_values, bool had,
                 bool has, Mirel::UnicodeString& before, Mirel::UnicodeString& after) {
  const TIndexGroup& group = index_groups()[g];
  before.clear();
  after.clear();
  for (size_t c = 0; c < group.dbf_columns.size(); ++c) {
    if (c > 0) {
      before.push_back(kColumnBreak);
      after.push_back(kColumnBreak);
    }
    const TFieldKind kind = std::strcmp(group.dbf_columns[c], "MS_SYUPAN") == 0
                                ? TFieldKind::publisher
                                : TFieldKind::general;
    if (had && has && same_value(old_values[c], new_values[c])) {
      const Mirel::UnicodeString text = normalize_text(value_text(old_values[c]), kind);
      before += text;
      after += text;
      continue;
    }
    if (had) before += normalize_text(value_text(old_values[c]), kind);
    if (has) after += normalize_text(value_text(new_values[c]), kind);
  }
}

// Statements writing pending entries to mw_post_add and mw_post_del.
struct TChangeWriter {
  sqlite3* db;
  TStmt find_add, drop_add, put_add, find_del, drop_del, put_del;
  explicit TChangeWriter(sqlite3* d)
      : db(d),
        find_add(prepare(db, "SELECT 1 FROM mw_post_add WHERE term = ?1 AND id = ?2")),
        drop_add(prepare(db, "DELETE FROM mw_post_add WHERE term = ?1 AND id = ?2")),
        put_add(prepare(db, "INSERT OR REPLACE INTO mw_post_add(term, id, pos) VALUES(?1, ?2, ?3)")),
        find_del(prepare(db, "SELECT pos FROM mw_post_del WHERE term = ?1 AND id = ?2")),
        drop_del(prepare(db, "DELETE FROM mw_post_del WHERE term = ?1 AND id = ?2")),
        put_del(prepare(db, "INSERT INTO mw_post_del(term, id, pos) VALUES(?1, ?2, ?3)")) {}

  // Binds the pair (and, for an insert, the positions: NULL for a term
  // without them) of `e`, whose term's bytes are `term`.
  static void bind(sqlite3_stmt* stmt, const std::string& term, const TPendingEntry& e,
                   bool with_pos) {
    sqlite3_bind_blob(stmt, 1, term.data(), static_cast<int>(term.size()), SQLITE_STATIC);
    sqlite3_bind_int64(stmt, 2, e.id);
    if (!with_pos) return;
    if (e.pos.empty())
      sqlite3_bind_null(stmt, 3);
    else
      sqlite3_bind_blob(stmt, 3, e.pos.data(), static_cast<int>(e.pos.size()), SQLITE_STATIC);
  }
  bool found(sqlite3_stmt* stmt, const std::string& term, const TPendingEntry& e,
             std::string* pos = nullptr, bool* null_pos = nullptr) {
    bind(stmt, term, e, false);
    const bool row = step(db, stmt);
    if (row && pos != nullptr) {
      *null_pos = sqlite3_column_type(stmt, 0) == SQLITE_NULL;
      pos->assign(column_bytes(stmt, 0));
    }
    sqlite3_reset(stmt);
    return row;
  }
  void change(sqlite3_stmt* stmt, const std::string& term, const TPendingEntry& e, bool with_pos) {
    bind(stmt, term, e, with_pos);
    run(db, stmt);
  }

  // A term that goes: a del of what the segments hold, unless the pair is
  // an add (not in the segments, or replacing a del that stays): then the
  // add goes. A term that comes: an add, unless the segments hold the pair
  // with the same positions (a del with them), whose del goes instead.
  void write(const TPendingEntry& e) {
    const std::string term = term_bytes(e.term);
    bool drop;
    if (!e.comes) {
      drop = found(find_add.get(), term, e);
      change(drop ? drop_add.get() : put_del.get(), term, e, !drop);
    } else {
      bool null_pos = false;
      drop = found(find_del.get(), term, e, &held_, &null_pos) &&
             (e.pos.empty() ? null_pos : !null_pos && held_ == e.pos);
      // The add never replaces one: the record did not have the term.
      change(drop ? drop_del.get() : put_add.get(), term, e, !drop);
    }
    rows += drop ? -1 : 1;
  }

  int64_t rows = 0;  // rows added to both tables less those removed
  std::string held_;
};

// Writes the pending entries in the order of the tables' keys (term, then
// record), each pair's in the order they were found: the pages of both
// tables are visited once each, in order.
void write_pending(sqlite3* db, TChangeState& state) {
  auto& pending = state.pending;
  if (pending.empty()) return;
  std::sort(pending.begin(), pending.end(), [](const TPendingEntry& a, const TPendingEntry& b) {
    if (a.term != b.term) return a.term < b.term;
    return a.id != b.id ? a.id < b.id : a.seq < b.seq;
  });
  TChangeWriter writer(db);
  for (const TPendingEntry& e : pending) writer.write(e);
  pending.clear();
  state.seq = 0;
  TStmt meta = prepare(db, "UPDATE mw_post_meta SET changes = changes + ?1");
  sqlite3_bind_int64(meta.get(), 1, writer.rows);
  run(db, meta.get());
  if (state.changes >= 0) state.changes += writer.rows;
}

// Folds the changes into the segments once they are past their bound.
void settle(sqlite3* db, TChangeState& state) {
  if (state.changes < 0) {
    TStmt count = prepare(db, "SELECT changes, entries FROM mw_post_meta");
    if (step(db, count.get())) {
      state.changes = sqlite3_column_int64(count.get(), 0);
      // Changes cost a query of a changed term a look-up besides its
      // segments; a thirty-second of the index keeps that small, and
      // folds rare.
      state.bound = std::max<int64_t>(65536, sqlite3_column_int64(count.get(), 1) / 32);
    }
  }
  if (state.changes > state.bound) {
    fold_changes(db);
    state.changes = 0;
  }
}

// mw_index_change(id, had, has, isbn_changed, old_isbn, isbn, changed per
//                 group, old columns..., new columns...): collects the
// record's terms that go and come, a bigram whose positions changed in
// both. Only the groups whose columns changed are normalised and compared:
// the others keep their terms. mw_index_flush writes what was collected.
void change_function(sqlite3_context* context, int argc, sqlite3_value** argv) {
  guarded(context, kFunctionFailed, [&] {
    const int columns = static_cast<int>(column_count());
    const auto& groups = index_groups();
    const int n_groups = static_cast<int>(groups.size());
    if (argc != 6 + n_groups + 2 * columns)
      throw EMirelSearch(u"mw_index_change: 引数の数が違います");
    TChangeState& state = state_of(context);
    const int64_t id = sqlite3_value_int64(argv[0]);
    const bool had = sqlite3_value_int(argv[1]) != 0;
    const bool has = sqlite3_value_int(argv[2]) != 0;
    std::vector<TTermAt> before, after;
    if (sqlite3_value_int(argv[3]) != 0) {
      std::vector<TTerm> isbn;
      if (had) add_isbn_terms(isbn_key(value_text(argv[4])), isbn);
      for (TTerm t : isbn) before.push_back({t, 0});
      isbn.clear();
      if (has) add_isbn_terms(isbn_key(value_text(argv[5])), isbn);
      for (TTerm t : isbn) after.push_back({t, 0});
    }
    sqlite3_value** old_values = argv + 6 + n_groups;
    sqlite3_value** new_values = old_values + columns;
    Mirel::UnicodeString old_text, new_text;
    for (size_t g = 0; g < groups.size(); ++g) {
      if (sqlite3_value_int(argv[6 + g]) != 0) {
        group_texts(g, old_values, new_values, had, has, old_text, new_text);
        if (had) add_group_terms(groups[g].letter, old_text, before);
        if (has) add_group_terms(groups[g].letter, new_text, after);
      }
      old_values += groups[g].dbf_columns.size();
      new_values += groups[g].dbf_columns.size();
    }
    const TTermPositions old_terms = term_positions(before), new_terms = term_positions(after);
    TTermPositions gone, come;
    std::set_difference(old_terms.begin(), old_terms.end(), new_terms.begin(), new_terms.end(),
                        std::back_inserter(gone));
    std::set_difference(new_terms.begin(), new_terms.end(), old_terms.begin(), old_terms.end(),
                        std::back_inserter(come));
    // Those that go first: a bigram whose positions changed is in both.
    for (auto* list : {&gone, &come})
      for (auto& [term, pos] : *list)
        state.pending.push_back({term, id, state.seq++, list == &come, std::move(pos)});
    if (state.pending.size() >= g_max_pending) write_pending(sqlite3_context_db_handle(context), state);
    sqlite3_result_null(context);
  });
}

// mw_index_flush(): writes the collected changes and folds them into the
// segments once they are past their bound.
void flush_function(sqlite3_context* context, int, sqlite3_value**) {
  guarded(context, kFunctionFailed, [&] {
    TChangeState& state = state_of(context);
    sqlite3* db = sqlite3_context_db_handle(context);
    write_pending(db, state);
    settle(db, state);
    sqlite3_result_null(context);
  });
}

// The record numbers of `term`'s changes of one kind.
std::vector<int64_t> change_ids(sqlite3* db, sqlite3_stmt* stmt, TTerm term) {
  std::vector<int64_t> out;
  bind_term(stmt, 1, term);
  while (step(db, stmt)) out.push_back(sqlite3_column_int64(stmt, 0));
  sqlite3_reset(stmt);
  return out;
}

// Statements reading a term's list from one schema.
struct TListReader {
  sqlite3* db;
  TStmt segments, sizes, adds, dels;
  TListReader(sqlite3* d, const std::string& schema)
      : db(d),
        segments(prepare(db, "SELECT ids FROM " + q(schema) + "mw_post WHERE term = ?1 ORDER BY seg")),
        // length() of a blob reads no more than the row's header.
        sizes(prepare(db, "SELECT coalesce(sum(n), 0), coalesce(sum(length(ids)), 0) FROM " +
                              q(schema) + "mw_post WHERE term = ?1")),
        adds(prepare(db, "SELECT id, pos FROM " + q(schema) + "mw_post_add WHERE term = ?1 ORDER BY id")),
        dels(prepare(db, "SELECT id FROM " + q(schema) + "mw_post_del WHERE term = ?1 ORDER BY id")) {}

  std::vector<int64_t> read(TTerm term) {
    std::vector<int64_t> base;
    base.reserve(size_of(term).first);
    bind_term(segments.get(), 1, term);
    while (step(db, segments.get()))
      decode_ids(column_bytes(segments.get(), 0), base, has_positions(term));
    sqlite3_reset(segments.get());
    const std::vector<int64_t> added = change_ids(db, adds.get(), term);
    const std::vector<int64_t> removed = change_ids(db, dels.get(), term);
    if (added.empty() && removed.empty()) return base;
    // An add that replaces a del: the record stays, with other positions.
    return apply_changes(base, removed, added);
  }

  // The list's size in records and bytes: reserved at once, its buffers
  // are neither copied as they grow nor mapped afresh page by page.
  std::pair<size_t, size_t> size_of(TTerm term) {
    bind_term(sizes.get(), 1, term);
    std::pair<size_t, size_t> out{0, 0};
    if (step(db, sizes.get()))
      out = {static_cast<size_t>(std::max<int64_t>(0, sqlite3_column_int64(sizes.get(), 0))),
             static_cast<size_t>(std::max<int64_t>(0, sqlite3_column_int64(sizes.get(), 1)))};
    sqlite3_reset(sizes.get());
    return out;
  }

  TPositionList read_positions(TTerm term) {
    TPositionList list;
    const auto [records, bytes] = size_of(term);
    list.ids.reserve(records);
    list.spans.reserve(records);
    list.bytes.reserve(bytes);
    bind_term(segments.get(), 1, term);
    while (step(db, segments.get())) {
      const std::string_view blob = column_bytes(segments.get(), 0);
      const size_t from = list.spans.size();
      const auto offset = static_cast<uint32_t>(list.bytes.size());
      decode_ids(blob, list.ids, true, &list.spans);
      for (size_t i = from; i < list.spans.size(); ++i) {
        list.spans[i].begin += offset;
        list.spans[i].end += offset;
      }
      list.bytes.append(blob);
    }
    sqlite3_reset(segments.get());
    const std::vector<int64_t> removed = change_ids(db, dels.get(), term);
    std::vector<std::pair<int64_t, TSpan>> added;
    bind_term(adds.get(), 1, term);
    while (step(db, adds.get())) {
      const std::string_view pos = column_bytes(adds.get(), 1);
      const auto begin = static_cast<uint32_t>(list.bytes.size());
      list.bytes.append(pos);
      added.emplace_back(sqlite3_column_int64(adds.get(), 0),
                         TSpan{begin, static_cast<uint32_t>(list.bytes.size())});
    }
    sqlite3_reset(adds.get());
    if (removed.empty() && added.empty()) return list;
    // The segments without the dels, merged with the adds.
    std::vector<int64_t> ids;
    std::vector<TSpan> spans;
    ids.reserve(list.ids.size() + added.size());
    spans.reserve(ids.capacity());
    size_t r = 0, a = 0;
    auto take_added = [&] {
      ids.push_back(added[a].first);
      spans.push_back(added[a].second);
      ++a;
    };
    for (size_t i = 0; i < list.ids.size(); ++i) {
      const int64_t id = list.ids[i];
      while (a < added.size() && added[a].first < id) take_added();
      while (r < removed.size() && removed[r] < id) ++r;
      if (r < removed.size() && removed[r] == id) continue;
      ids.push_back(id);
      spans.push_back(list.spans[i]);
    }
    while (a < added.size()) take_added();
    list.ids = std::move(ids);
    list.spans = std::move(spans);
    return list;
  }
};

}  // namespace

TSmallPageCache::TSmallPageCache(sqlite3* db) : db_(db) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, "PRAGMA main.cache_size", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    before_ = std::to_string(sqlite3_column_int64(stmt, 0));
  sqlite3_finalize(stmt);
  sqlite3_exec(db_, "PRAGMA main.cache_size = -4096", nullptr, nullptr, nullptr);
}

TSmallPageCache::~TSmallPageCache() {
  if (!before_.empty())
    sqlite3_exec(db_, ("PRAGMA main.cache_size = " + before_).c_str(), nullptr, nullptr, nullptr);
}

void set_segment_bytes(size_t bytes) { g_segment_bytes = bytes != 0 ? bytes : kSegmentBytes; }

void set_pending_limit(size_t entries) { g_max_pending = entries != 0 ? entries : kMaxPending; }

std::string posting_schema_sql() {
  // mw_post keeps its rows in a table of its own, reached by an index of
  // (term, seg, n): as a WITHOUT ROWID table keyed by (term, seg), every
  // comparison of a key with a row whose list overflows its page read the
  // whole list (a million books' segments were written at a few rows per
  // second). The index also counts a list without reading it.
  return "CREATE TABLE mw_post(term BLOB NOT NULL, seg INTEGER NOT NULL, n INTEGER NOT NULL, "
         "ids BLOB NOT NULL);\n"
         "CREATE UNIQUE INDEX mw_post_term ON mw_post(term, seg, n);\n"
         "CREATE TABLE mw_post_add(term BLOB NOT NULL, id INTEGER NOT NULL, pos BLOB, "
         "PRIMARY KEY(term, id)) WITHOUT ROWID;\n"
         "CREATE TABLE mw_post_del(term BLOB NOT NULL, id INTEGER NOT NULL, pos BLOB, "
         "PRIMARY KEY(term, id)) WITHOUT ROWID;\n"
         "CREATE TABLE mw_post_meta(entries INTEGER NOT NULL, changes INTEGER NOT NULL DEFAULT 0);\n";
}

std::string indexed_columns(const std::string& prefix) {
  std::string out;
  for (const auto& group : index_groups())
    for (const char* column : group.dbf_columns) out += prefix + column + ", ";
  return out + prefix + "MS_ISBN";
}

void register_posting_functions(sqlite3* db) {
  sqlite3_create_function(db, "mw_build_index", -1, SQLITE_UTF8, nullptr, build_function, nullptr,
                          nullptr);
  // The functions of one change share its state; each holds a reference,
  // so registering them again on the same connection frees it safely.
  auto state = std::make_shared<TChangeState>();
  auto add = [&](const char* name, int args, void (*function)(sqlite3_context*, int, sqlite3_value**)) {
    sqlite3_create_function_v2(db, name, args, SQLITE_UTF8, new std::shared_ptr<TChangeState>(state),
                               function, nullptr, nullptr, [](void* p) {
                                 delete static_cast<std::shared_ptr<TChangeState>*>(p);
                               });
  };
  add("mw_index_change", -1, change_function);
  add("mw_index_flush", 0, flush_function);
}

std::string index_change_sql(bool had, bool has) {
  const std::string id = has ? "new.rowid" : "old.rowid";
  const bool update = had && has;
  std::string call = "  SELECT mw_index_change(" + id + (had ? ", 1" : ", 0") + (has ? ", 1" : ", 0") +
                     (update ? ", old.MS_ISBN IS NOT new.MS_ISBN" : ", 1") +
                     (had ? ", old.MS_ISBN" : ", NULL") + (has ? ", new.MS_ISBN" : ", NULL");
  for (const auto& group : index_groups()) {
    // Whether the group's columns changed: only then are its old and new
    // values normalised.
    std::string changed;
    for (const char* column : group.dbf_columns)
      changed += (changed.empty() ? "(" : " OR ") + std::string("old.") + column + " IS NOT new." + column;
    call += ", " + (update ? changed + ")" : std::string("1"));
  }
  for (const char* prefix : {"old.", "new."}) {
    const bool present = prefix[0] == 'o' ? had : has;
    for (const auto& group : index_groups())
      for (const char* column : group.dbf_columns)
        call += present ? std::string(", ") + prefix + column : std::string(", NULL");
  }
  return call + ");\n";
}

std::string index_finish_sql() { return "SELECT mw_index_flush();\n"; }

std::vector<int64_t> read_term(sqlite3* db, const std::string& schema, TTerm term) {
  return TListReader(db, schema).read(term);
}

std::vector<int64_t> read_term_range(sqlite3* db, const std::string& schema, TTerm low,
                                     TTerm high) {
  std::vector<TTerm> terms;
  {
    TStmt list = prepare(db, "SELECT DISTINCT term FROM " + q(schema) + "mw_post WHERE term >= ?1 "
                             "AND term < ?2 UNION SELECT term FROM " + q(schema) +
                             "mw_post_add WHERE term >= ?1 AND term < ?2");
    bind_term(list.get(), 1, low);
    bind_term(list.get(), 2, high);
    while (step(db, list.get())) terms.push_back(column_term(list.get(), 0));
  }
  TListReader reader(db, schema);
  std::vector<int64_t> out;
  for (TTerm term : terms) {
    const std::vector<int64_t> ids = reader.read(term);
    out.insert(out.end(), ids.begin(), ids.end());
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

int64_t term_count(sqlite3* db, const std::string& schema, TTerm term) {
  TStmt count = prepare(db, "SELECT (SELECT coalesce(sum(n), 0) FROM " + q(schema) +
                                "mw_post WHERE term = ?1) + (SELECT count(*) FROM " + q(schema) +
                                "mw_post_add WHERE term = ?1) - (SELECT count(*) FROM " +
                                q(schema) + "mw_post_del WHERE term = ?1)");
  bind_term(count.get(), 1, term);
  return step(db, count.get()) ? sqlite3_column_int64(count.get(), 0) : 0;
}

TPositionList read_positions(sqlite3* db, const std::string& schema, TTerm term) {
  return TListReader(db, schema).read_positions(term);
}

std::vector<int64_t> keep_sequence(const std::vector<int64_t>& candidates,
                                   const std::vector<TTerm>& sequence,
                                   const std::vector<TTerm>& terms,
                                   const std::vector<const TPositionList*>& lists) {
  std::vector<size_t> of_term;  // the list of each bigram of the sequence
  for (TTerm t : sequence) {
    const auto at = std::lower_bound(terms.begin(), terms.end(), t);
    if (at == terms.end() || *at != t || static_cast<size_t>(at - terms.begin()) >= lists.size())
      throw EMirelSearch(u"検索索引の語の並びに一覧がありません");
    of_term.push_back(static_cast<size_t>(at - terms.begin()));
  }
  std::vector<std::vector<uint32_t>> decoded(lists.size());
  std::vector<const std::vector<uint32_t>*> chain;
  for (size_t k : of_term) chain.push_back(&decoded[k]);
  std::vector<size_t> cursor(lists.size(), 0);
  std::vector<int64_t> out;
  for (int64_t id : candidates) {
    bool in_all = true;
    for (size_t k = 0; k < lists.size() && in_all; ++k) {
      const TPositionList& list = *lists[k];
      // Both ascending: each list's cursor only moves forward.
      size_t& i = cursor[k];
      i = static_cast<size_t>(std::lower_bound(list.ids.begin() + static_cast<ptrdiff_t>(i),
                                               list.ids.end(), id) - list.ids.begin());
      in_all = i < list.ids.size() && list.ids[i] == id;
      if (in_all) {
        const TSpan span = list.spans[i];
        decode_positions(std::string_view(list.bytes).substr(span.begin, span.end - span.begin),
                         decoded[k]);
      }
    }
    if (in_all && positions_chain(chain)) out.push_back(id);
  }
  return out;
}

void fold_changes(sqlite3* db) {
  std::vector<TTerm> terms;
  {
    TStmt list = prepare(db, "SELECT term FROM mw_post_add UNION SELECT term FROM mw_post_del");
    while (step(db, list.get())) terms.push_back(column_term(list.get(), 0));
  }
  if (terms.empty()) return;
  int64_t delta = 0;
  {
    TStmt count = prepare(db, "SELECT (SELECT count(*) FROM mw_post_add) - "
                              "(SELECT count(*) FROM mw_post_del)");
    if (step(db, count.get())) delta = sqlite3_column_int64(count.get(), 0);
  }
  TListReader reader(db, "main");
  TStmt drop = prepare(db, "DELETE FROM mw_post WHERE term = ?1");
  TStmt insert = prepare(db, "INSERT INTO mw_post(term, seg, n, ids) VALUES(?1, 0, ?2, ?3)");
  for (TTerm term : terms) {
    std::string blob;
    size_t count = 0;
    if (has_positions(term)) {
      const TPositionList list = reader.read_positions(term);
      int64_t previous = 0;
      for (size_t i = 0; i < list.ids.size(); ++i) {
        append_varint(blob, static_cast<uint64_t>(list.ids[i] - previous));
        previous = list.ids[i];
        blob.append(list.bytes, list.spans[i].begin, list.spans[i].end - list.spans[i].begin);
      }
      count = list.ids.size();
    } else {
      const std::vector<int64_t> ids = reader.read(term);
      blob = encode_ids(ids);
      count = ids.size();
    }
    bind_term(drop.get(), 1, term);
    run(db, drop.get());
    if (count == 0) continue;
    bind_term(insert.get(), 1, term);
    sqlite3_bind_int64(insert.get(), 2, static_cast<int64_t>(count));
    sqlite3_bind_blob(insert.get(), 3, blob.data(), static_cast<int>(blob.size()), SQLITE_STATIC);
    run(db, insert.get());
  }
  TStmt clear = prepare(db, "DELETE FROM mw_post_add");
  run(db, clear.get());
  clear = prepare(db, "DELETE FROM mw_post_del");
  run(db, clear.get());
  TStmt meta = prepare(db, "UPDATE mw_post_meta SET entries = entries + ?1, changes = 0");
  sqlite3_bind_int64(meta.get(), 1, delta);
  run(db, meta.get());
}

}  // namespace Mirelsearch_tlb::detail
