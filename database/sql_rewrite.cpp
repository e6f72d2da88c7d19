// The tokenizer-level rewrite of file-name table references. One pass over
// the bytes splits the text into SQLite's lexical tokens (strings, quoted
// identifiers, comments, words, punctuation), a second pass walks the
// significant tokens keeping, per parenthesis depth, whether a FROM list is
// open, and replaces only references in table positions.

#include "database/sql_rewrite.h"
#include "platform/unicode_string.h"

#include <array>
#include <cstring>

namespace Mirel::Database::detail {
namespace {

enum class Kind { Word, String, Quoted, Number, Punct };

struct Token {
  Kind kind;
  size_t begin;  // byte span in the SQL text
  size_t end;
};

bool is_space(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
bool is_word_start(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}
bool is_word_char(unsigned char c) {
  return is_word_start(c) || (c >= '0' && c <= '9') || c == '$';
}
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

bool equals_ci(std::string_view a, std::string_view b) { return same_text_ascii_ci(a, b); }

// Splits `sql` into significant tokens; white space and comments are dropped
// (the rewrite copies the original bytes between tokens, so they survive).
// An unterminated string, identifier or comment runs to the end of the text.
std::vector<Token> tokenize(std::string_view sql) {
  std::vector<Token> tokens;
  const size_t n = sql.size();
  size_t i = 0;
  auto at = [&](size_t k) -> unsigned char { return k < n ? static_cast<unsigned char>(sql[k]) : 0; };
  while (i < n) {
    const unsigned char c = at(i);
    if (is_space(c)) {
      ++i;
    } else if (c == '-' && at(i + 1) == '-') {
      while (i < n && sql[i] != '\n') ++i;
    } else if (c == '/' && at(i + 1) == '*') {
      i += 2;
      while (i < n && !(sql[i] == '*' && at(i + 1) == '/')) ++i;
      i = i < n ? i + 2 : n;
    } else if (c == '\'' || c == '"' || c == '`') {
      // Quoted text; the quote character doubled stands for itself.
      const size_t begin = i++;
      while (i < n) {
        if (static_cast<unsigned char>(sql[i]) == c) {
          if (at(i + 1) == c) {
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        ++i;
      }
      tokens.push_back({c == '\'' ? Kind::String : Kind::Quoted, begin, i});
    } else if (c == '[') {
      const size_t begin = i++;
      while (i < n && sql[i] != ']') ++i;
      if (i < n) ++i;
      tokens.push_back({Kind::Quoted, begin, i});
    } else if (is_digit(c) || (c == '.' && is_digit(at(i + 1)))) {
      const size_t begin = i++;
      while (i < n && (is_word_char(at(i)) || sql[i] == '.')) ++i;
      tokens.push_back({Kind::Number, begin, i});
    } else if (is_word_start(c)) {
      const size_t begin = i++;
      while (i < n && is_word_char(at(i))) ++i;
      tokens.push_back({Kind::Word, begin, i});
    } else {
      tokens.push_back({Kind::Punct, i, i + 1});
      ++i;
    }
  }
  return tokens;
}

// The text inside a quoted token, with doubled quotes undone.
std::string unquote(std::string_view tok) {
  if (tok.empty()) return {};
  const char open = tok.front();
  const char close = open == '[' ? ']' : open;
  std::string out;
  size_t i = 1;
  while (i < tok.size()) {
    if (tok[i] == close) {
      if (open != '[' && i + 1 < tok.size() && tok[i + 1] == close) {
        out += close;
        i += 2;
        continue;
      }
      break;
    }
    out += tok[i++];
  }
  return out;
}

// Words that may follow a table reference without being its alias, and that
// can never be a bare table name.
constexpr std::array<const char*, 30> kClauseWords = {
    "left",   "right",     "full",   "inner",  "outer",   "cross",  "natural", "join",
    "on",     "using",     "where",  "group",  "order",   "limit",  "having",  "window",
    "union",  "intersect", "except", "indexed", "not",    "returning", "select", "values",
    "from",   "set",       "offset", "as",     "with",    "lateral"};

bool is_clause_word(std::string_view w) {
  for (const char* k : kClauseWords)
    if (equals_ci(w, k)) return true;
  return false;
}

// Words after which the current FROM list is over.
bool ends_from_list(std::string_view w) {
  static constexpr std::array<const char*, 11> kEnd = {
      "where", "group", "order", "having", "limit", "window", "union",
      "intersect", "except", "select", "values"};
  for (const char* k : kEnd)
    if (equals_ci(w, k)) return true;
  return false;
}

bool has_dbf_suffix(std::string_view s) {
  return s.size() > 4 && equals_ci(s.substr(s.size() - 4), ".dbf");
}

}  // namespace

std::string quote_identifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

TRewrittenSql rewrite_table_names(std::string_view sql,
                                  const std::function<std::string(const std::string&)>& schema_of,
                                  const std::function<bool(const std::string&)>& is_table) {
  const std::vector<Token> toks = tokenize(sql);
  auto text = [&](size_t k) { return sql.substr(toks[k].begin, toks[k].end - toks[k].begin); };
  auto is_punct = [&](size_t k, char c) {
    return k < toks.size() && toks[k].kind == Kind::Punct && sql[toks[k].begin] == c;
  };

  // Names of common table expressions ("name AS (") never mean files.
  std::vector<std::string> cte_names;
  for (size_t k = 0; k + 2 < toks.size(); ++k)
    if (toks[k].kind == Kind::Word && toks[k + 1].kind == Kind::Word &&
        equals_ci(text(k + 1), "as") && is_punct(k + 2, '('))
      cte_names.push_back(to_lower_ascii(text(k)));

  struct Replacement {
    size_t begin, end;
    std::string with;
  };
  std::vector<Replacement> repl;
  TRewrittenSql result;
  std::vector<bool> in_from{false};  // per parenthesis depth

  for (size_t k = 0; k < toks.size(); ++k) {
    const Token& t = toks[k];
    if (t.kind == Kind::Punct) {
      const char c = sql[t.begin];
      if (c == '(') in_from.push_back(false);
      if (c == ')' && in_from.size() > 1) in_from.pop_back();
      if (c == ';') in_from.assign(1, false);
      if (c != ',' || !in_from.back()) continue;
    } else if (t.kind == Kind::Word) {
      const std::string_view w = text(k);
      if (equals_ci(w, "from")) {
        in_from.back() = true;
      } else if (ends_from_list(w)) {
        in_from.back() = false;
        continue;
      } else if (!equals_ci(w, "join")) {
        continue;
      }
    } else {
      continue;
    }

    // Token k opens a table position; look at what stands in it.
    const size_t p = k + 1;
    if (p >= toks.size()) break;
    std::string name;
    size_t last = p;  // last token of the reference
    if (toks[p].kind == Kind::Word && is_punct(p + 1, '.') && p + 2 < toks.size() &&
        toks[p + 2].kind == Kind::Word && equals_ci(text(p + 2), "dbf")) {
      name = std::string(text(p));
      last = p + 2;
    } else if (toks[p].kind == Kind::String || toks[p].kind == Kind::Quoted) {
      const std::string inner = unquote(text(p));
      if (!has_dbf_suffix(inner) || inner.find_first_of("/\\") != std::string::npos) continue;
      name = inner.substr(0, inner.size() - 4);
    } else if (toks[p].kind == Kind::Word && !is_punct(p + 1, '.') && !is_punct(p + 1, '(') &&
               !is_clause_word(text(p))) {
      const std::string lower = to_lower_ascii(text(p));
      bool cte = false;
      for (const auto& c : cte_names) cte = cte || c == lower;
      if (cte || !is_table(lower)) continue;
      name = std::string(text(p));
    } else {
      continue;
    }
    const std::string key = to_lower_ascii(name);
    const std::string schema = schema_of(key);
    if (schema.empty()) continue;

    bool has_alias = false;
    if (last + 1 < toks.size()) {
      const Token& next = toks[last + 1];
      if (next.kind == Kind::String || next.kind == Kind::Quoted)
        has_alias = true;
      else if (next.kind == Kind::Word)
        has_alias = equals_ci(text(last + 1), "as") || !is_clause_word(text(last + 1));
    }
    std::string with = quote_identifier(schema) + ".\"data\"";
    if (!has_alias) with += " AS " + quote_identifier(key);
    repl.push_back({toks[p].begin, toks[last].end, std::move(with)});
    bool seen = false;
    for (const auto& tname : result.tables) seen = seen || tname == key;
    if (!seen) result.tables.push_back(key);
    k = last;
  }

  result.sql.reserve(sql.size() + repl.size() * 24);
  size_t pos = 0;
  for (const auto& r : repl) {
    result.sql.append(sql.substr(pos, r.begin - pos));
    result.sql.append(r.with);
    pos = r.end;
  }
  result.sql.append(sql.substr(pos));
  return result;
}

}  // namespace Mirel::Database::detail
