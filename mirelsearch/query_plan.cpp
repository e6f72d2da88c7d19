// Building the SQL of a search: keyword words become look-ups of the search
// index's terms (or, for the book id, an indexed equality), ranges become bound
// comparisons, and the sort field is checked against the table's own column
// names before it is written into the ORDER BY clause.
#include "mirelsearch/query_plan.h"

#include <algorithm>

#include "mirelsearch/catalogue_index.h"
#include "mirelsearch/sort_tables.h"
#include "mirelsearch/index_terms.h"
#include "mirelsearch/normalize.h"

namespace Mirelsearch_tlb::detail {

namespace {

constexpr int32_t kMatchExact = 3;
constexpr int32_t kDescending = 1;

// A plan in the making: the plan, and for every term the same condition as
// a test of one record's own fields (used instead of the index when the
// search is narrowed to one book id, whose record is cheaper to test).
struct TPlanBuilder {
  TQueryPlan plan;
  struct TFieldTest {
    std::string condition;  // every '?' is the value
    std::string value;
  };
  std::vector<TFieldTest> tests;
  bool one_char_term = false;  // the last term added is a one-character word

  void add_term(TIndexTerm term, TFieldTest test) {
    // A word given twice is looked up once.
    for (const TIndexTerm& known : plan.terms)
      if (known == term) return;
    plan.terms.push_back(std::move(term));
    if (!test.condition.empty()) tests.push_back(std::move(test));
  }
};

// "mw_contains(d.COLUMN, ?)", with the publisher's normalisation for the
// publisher's column.
std::string contains_call(const std::string& column, const char* value = "?") {
  return "mw_contains(d." + column + ", " + value + (column == "MS_SYUPAN" ? ", 'p')" : ")");
}

// "(mw_contains(d.A, ?) OR mw_contains(d.B, ?))" over a kind's columns.
std::string contains_test(const std::vector<const char*>& columns) {
  std::string out;
  for (const char* column : columns) out += (out.empty() ? "(" : " OR ") + contains_call(column);
  return out + ")";
}

// Letter of a keyword kind's group of fields in the index.
char unigram_letter(Tkeyword_kind kind) {
  switch (kind) {
    case Tkeyword_kind::syomei: return 't';
    case Tkeyword_kind::chosya: return 'a';
    case Tkeyword_kind::syupan: return 'p';
    case Tkeyword_kind::content: return 'c';
    case Tkeyword_kind::isbn:
    case Tkeyword_kind::bookid: break;
  }
  return 0;
}

// Adds `condition`, whose every '?' becomes the next numbered parameter.
void add_where(TQueryPlan& plan, const std::string& condition, const std::string& value) {
  const std::string numbered = "?" + std::to_string(plan.params.size() + 2);
  std::string text;
  for (char c : condition) {
    if (c == '?') text += numbered;
    else text.push_back(c);
  }
  plan.where.push_back(text);
  plan.params.push_back(value);
}

// The columns of the group `letter`.
const std::vector<const char*>& group_columns(char letter) {
  for (const auto& group : index_groups())
    if (group.letter == letter) return group.dbf_columns;
  static const std::vector<const char*> none;
  return none;
}

void add_keyword(TPlanBuilder& builder, const Istring_keyword& keyword) {
  TQueryPlan& plan = builder.plan;
  const UnicodeString text = keyword.get_keyword();
  const Tkeyword_kind kind = keyword.get_kind();

  if (kind == Tkeyword_kind::bookid && keyword.get_match() == kMatchExact) {
    UnicodeString id = text;
    while (!id.empty() && id.back() == u' ') id.pop_back();
    if (id.empty()) {
      plan.never = true;  // a blank record book id is no book id
      return;
    }
    add_where(plan, "d.MS_BOOKID = ?", Mirel::to_utf8(id));
    plan.bookid_exact = true;
    return;
  }

  if (kind == Tkeyword_kind::isbn) {
    // Spaces and hyphens separate nothing here: the whole keyword is one key.
    if (split_words(text).empty()) return;
    std::string key = isbn_key(text);
    if (key.empty()) {
      plan.never = true;  // letters only: no ISBN contains them
      return;
    }
    // Grams say only that each piece is somewhere in the ISBN; a key
    // longer than one gram is checked against the field itself.
    const bool checked = key.size() > kIsbnGramLength;
    if (checked) add_where(plan, "mw_isbn_contains(d.MS_ISBN, ?)", key);
    const TIsbnLookup lookup = isbn_lookup(key);
    TIndexTerm term;
    term.terms = lookup.grams;
    term.low = lookup.low;
    term.high = lookup.high;
    builder.add_term(std::move(term),
                     checked ? TPlanBuilder::TFieldTest{}
                             : TPlanBuilder::TFieldTest{"mw_isbn_contains(d.MS_ISBN, ?)", key});
    builder.one_char_term = false;
    return;
  }

  const TFieldKind field =
      kind == Tkeyword_kind::syupan ? TFieldKind::publisher : TFieldKind::general;
  bool any_word = false, all_vanished = true;
  for (const UnicodeString& word : split_words(text)) {
    any_word = true;
    UnicodeString normalized = normalize_text(word, field);
    // A word of punctuation only (a lone ・) or of company forms only is
    // nothing the index holds; beside other words it asks nothing more.
    if (normalized.empty()) continue;
    all_vanished = false;
    const std::string value = Mirel::to_utf8(normalized);
    if (kind == Tkeyword_kind::bookid) {
      add_where(plan, "mw_contains(d.MS_BOOKID, ?)", value);
      continue;
    }
    const char letter = unigram_letter(kind);
    TPlanBuilder::TFieldTest test{contains_test(group_columns(letter)), value};
    TWordTerms lookup = word_terms(letter, normalized);
    TIndexTerm term;
    term.terms = std::move(lookup.terms);
    term.sequence = std::move(lookup.sequence);
    const bool one_char = lookup.exact && term.terms.size() == 1 &&
                          (term.terms[0] & 0xFF) == 4;  // a unigram
    const uint64_t first = term.terms.empty() ? 0 : term.terms[0];
    const size_t before = plan.terms.size();
    builder.add_term(std::move(term), std::move(test));
    if (plan.terms.size() == before) continue;  // a repeated word
    builder.one_char_term = one_char;
    if (one_char) {
      plan.counted = true;
      plan.count_term = first;
      plan.count_word = value;
      plan.count_columns.assign(group_columns(letter).begin(), group_columns(letter).end());
    }
  }
  // Words that all vanished leave nothing to match: no book has them.
  if (any_word && all_vanished && kind != Tkeyword_kind::bookid) plan.never = true;
}

void add_range(TQueryPlan& plan, const Istring_range& range) {
  const char* column = range.get_kind() == Trange_kind::bookid ? "d.MS_BOOKID" : "d.MS_UKEIRE";
  const UnicodeString lower = range.get_lower(), upper = range.get_upper();
  if (!lower.empty()) add_where(plan, std::string(column) + " >= ?", Mirel::to_utf8(lower));
  if (!upper.empty()) add_where(plan, std::string(column) + " <= ?", Mirel::to_utf8(upper));
}

std::string table(const std::string& schema, const char* name) {
  return quote_identifier(schema) + "." + name;
}

std::string where_clause(const TQueryPlan& plan) {
  std::string out;
  auto add = [&out](const std::string& condition) {
    out += out.empty() ? " WHERE " : " AND ";
    out += condition;
  };
  for (const auto& condition : plan.where) add(condition);
  return out;
}

// The order of a plan, or its exact mirror when `reversed`: every key of the
// clause turns round (ties are broken by book id and record number, so the
// order is total and the mirror lists the same hits backwards).
std::string order_clause(const TQueryPlan& plan, bool reversed = false) {
  const char* dir = plan.descending != reversed ? " DESC" : "";
  if (plan.order_column.empty() || plan.order_column == "MS_BOOKID")
    return std::string(" ORDER BY d.MS_BOOKID") + dir + ", d.rowid" + dir;
  const char* ties = reversed ? " DESC" : "";
  return " ORDER BY d." + quote_identifier(plan.order_column) + dir + ", d.MS_BOOKID" + ties +
         ", d.rowid" + ties;
}

bool default_order(const TQueryPlan& plan) {
  return plan.order_column.empty() || plan.order_column == "MS_BOOKID";
}

}  // namespace

std::vector<UnicodeString> split_words(const UnicodeString& keyword) {
  std::vector<UnicodeString> words;
  UnicodeString word;
  for (char16_t c : keyword) {
    if (c == u' ' || c == u'\u3000') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(c);
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

std::string quote_identifier(const std::string& name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out.push_back('"');
    out.push_back(c);
  }
  return out + "\"";
}

TQueryPlan make_plan(const std::vector<std::shared_ptr<Istring_keyword>>& keywords,
                     const std::vector<std::shared_ptr<Istring_range>>& ranges,
                     const std::shared_ptr<Isql_order>& order,
                     const std::vector<std::string>& columns) {
  TPlanBuilder builder;
  TQueryPlan& plan = builder.plan;
  for (const auto& keyword : keywords)
    if (keyword) add_keyword(builder, *keyword);
  for (const auto& range : ranges)
    if (range) add_range(plan, *range);
  if (plan.bookid_exact) {
    // One book at most: its own fields are tested, no word's list is read.
    for (const auto& test : builder.tests) add_where(plan, test.condition, test.value);
    plan.terms.clear();
  }
  // Only a search for one character and nothing else is counted from the
  // length of its list.
  if (plan.terms.size() != 1 || !builder.one_char_term || !plan.where.empty()) {
    plan.counted = false;
    plan.count_term = 0;
    plan.count_word.clear();
    plan.count_columns.clear();
  }
  if (order) {
    const UnicodeString wanted = order->get_field_name();
    for (const std::string& column : columns) {
      if (Mirel::same_text_ascii_ci(Mirel::from_utf8(column), wanted)) {
        plan.order_column = column;
        plan.descending = order->get_option() == kDescending;
        plan.order_index = sort_index_name(column);
        break;
      }
    }
  }
  return plan;
}

std::string count_sql(const TQueryPlan& plan, const std::string& schema) {
  if (!plan.terms.empty()) return "SELECT count(*) FROM mw_hits";
  return "SELECT count(*) FROM " + table(schema, "data") + " AS d" + where_clause(plan);
}

std::string rows_sql(const TQueryPlan& plan, const std::string& schema, TRowStrategy strategy,
                     bool records_in_bookid_order) {
  return rows_sql(plan, schema, strategy, records_in_bookid_order, false);
}

std::string last_rows_sql(const TQueryPlan& plan, const std::string& schema,
                          TRowStrategy strategy, int64_t n) {
  return rows_sql(plan, schema, strategy, false, true) + " LIMIT " + std::to_string(n);
}

std::string rows_sql(const TQueryPlan& plan, const std::string& schema, TRowStrategy strategy,
                     bool records_in_bookid_order, bool reversed) {
  const std::string data = table(schema, "data") + " AS d";
  if (plan.terms.empty())
    return "SELECT d.rowid FROM " + data + where_clause(plan) + order_clause(plan, reversed);
  switch (strategy) {
    case TRowStrategy::order_walk: {
      // The books in book-id order, those in the set of hits kept. A walk
      // along a sort column's order is no SQL (sort_tables.h' TSortWalk):
      // its rows here are the set of hits sorted, the same list.
      if (default_order(plan))
        return "SELECT d.rowid FROM " + data + " INDEXED BY mw_bookid WHERE mw_is_hit(d.rowid)" +
               order_clause(plan, reversed);
      break;
    }
    case TRowStrategy::probe_walk: {
      // ?1 is count_word here: each book's own fields are tested, which
      // costs a few times less than asking the index about one record.
      std::string test;
      for (const std::string& column : plan.count_columns)
        test += (test.empty() ? "" : " OR ") + std::string("mw_contains(d.") +
                quote_identifier(column) + (column == "MS_SYUPAN" ? ", ?1, 'p')" : ", ?1)");
      // With records in book-id order the table itself is walked, without
      // a look-up from the book-id index into the table for every book.
      if (records_in_bookid_order)
        return "SELECT d.rowid FROM " + data + " WHERE (" + test + ") ORDER BY d.rowid" +
               (plan.descending ? " DESC" : "");
      return "SELECT d.rowid FROM " + data + " INDEXED BY mw_bookid WHERE (" + test + ")" +
             order_clause(plan);
    }
    case TRowStrategy::table_driven:
    case TRowStrategy::index_driven:
    case TRowStrategy::hit_list:  // read from the list of hits, not by SQL
      break;
  }
  // The set of hits (mw_hits), already narrowed by `where`, sorted.
  if (default_order(plan)) {
    const char* dir = plan.descending != reversed ? " DESC" : "";
    return "SELECT k.id FROM mw_hits AS f CROSS JOIN " + table(schema, "mw_keys") +
           " AS k ON k.id = f.rowid ORDER BY k.bookid" + dir + ", k.id" + dir;
  }
  return "SELECT d.rowid FROM mw_hits AS f CROSS JOIN " + data + " ON d.rowid = f.rowid" +
         order_clause(plan, reversed);
}

std::string filter_hits_sql(const TQueryPlan& plan, const std::string& schema) {
  return "SELECT mw_collect(d.rowid) FROM mw_hits AS f CROSS JOIN " + table(schema, "data") +
         " AS d ON d.rowid = f.rowid" + where_clause(plan);
}

bool hits_from_index_alone(const TQueryPlan& plan) { return !plan.never && !plan.terms.empty(); }

std::string bookid_order_sql(const std::string& schema) {
  return "SELECT in_order FROM " + table(schema, "mw_order");
}

TRowStrategy choose_strategy(const TQueryPlan& plan, int64_t count, int64_t table_rows,
                             int64_t start, bool records_in_bookid_order) {
  if (plan.terms.empty()) return TRowStrategy::table_driven;
  // Sorting the hits costs a key lookup and a sorter insert each, some eight
  // steps of a walk along the book-id index; the walk passes table_rows /
  // count books per hit until it reaches start and one page beyond it.
  constexpr double kSortCostInSteps = 8;
  constexpr int64_t kPage = 20;
  if (!hits_from_index_alone(plan) || count <= 0) return TRowStrategy::index_driven;
  if (!default_order(plan)) {
    if (plan.order_index.empty()) return TRowStrategy::index_driven;
    // A page past the middle is read from the list's end: the walk starts
    // there. Sorting by a text costs more than by the narrow book id.
    const int64_t from_end = std::max<int64_t>(std::min(start, count - start), 0);
    const double walk = static_cast<double>(from_end + kPage) * static_cast<double>(table_rows) /
                        static_cast<double>(count);
    return walk < kSortCostInSteps * static_cast<double>(count) ? TRowStrategy::order_walk
                                                               : TRowStrategy::index_driven;
  }
  const double walk = static_cast<double>(start + kPage) * static_cast<double>(table_rows) /
                      static_cast<double>(count);
  // Testing one book's fields costs about as much as reading 4 hits from
  // the index: when the count is known already, a walk shorter than
  // count / 4 spares reading the whole list of hits.
  constexpr double kProbeCostInHits = 4;
  if (plan.counted && walk * kProbeCostInHits < static_cast<double>(count))
    return TRowStrategy::probe_walk;
  // Books are usually entered in the order of their ids: the list of hits
  // is then the sorted list, and no walk or sort is needed at all.
  if (records_in_bookid_order) return TRowStrategy::hit_list;
  return walk < kSortCostInSteps * static_cast<double>(count) ? TRowStrategy::order_walk
                                                             : TRowStrategy::index_driven;
}

}  // namespace Mirelsearch_tlb::detail
