// mirelweb-bench-mutate: changes a benchmark library the way the library
// system does, so that bench/run can time the first request after a change.
//
//   mirelweb-bench-mutate loans  LIBDIR      one loan's due date set or cleared
//   mirelweb-bench-mutate master LIBDIR N    N master records rewritten in place
//   mirelweb-bench-mutate reading LIBDIR N   the same with the title's reading
//                                            (a sort field) changed instead
//   mirelweb-bench-mutate full   LIBDIR      master.dbf and its memo file
//                                            written anew, every record changed
//   mirelweb-bench-mutate add    LIBDIR N    N new books appended to master.dbf
//                                            (copies of records spread over it,
//                                            with new book ids)
//
// Every change toggles: run twice, the contents are back where they were
// (apart from the memo file, which keeps the blocks it was given), so the
// catalogue stays the same from one benchmark run to the next however often
// it is mutated, except `add`, which grows the table for good (run it on a
// copy). Titles change by a trailing marker; a title too long for
// its field to take the marker is left as it is. Exit status 0 on success,
// 2 for bad arguments, 1 when a table cannot be read or written.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "dbase/dbf.h"

namespace {

using namespace Mirel::Dbase;

const std::string kMarker = "（改）";

// Field values of record i of `reader` as the writer takes them.
std::vector<std::string> record_values(TTableReader& reader, uint32_t i) {
  std::vector<std::string> values;
  const auto& fields = reader.fields();
  values.reserve(fields.size());
  TValue v;
  for (size_t f = 0; f < fields.size(); ++f) {
    reader.value(i, f, v);
    if (fields[f].type == 'L' && v.kind == TValue::Kind::Integer)
      values.push_back(v.integer ? "T" : "F");
    else
      values.push_back(v.as_text());
  }
  return values;
}

// Adds the marker to a title without it and removes it from one with it.
void toggle_title(std::string& title, uint32_t width) {
  if (title.size() >= kMarker.size() &&
      title.compare(title.size() - kMarker.size(), kMarker.size(), kMarker) == 0) {
    title.resize(title.size() - kMarker.size());
  } else if (utf8_to_cp932(title + kMarker).size() <= width) {
    title += kMarker;
  }
}

std::vector<TFieldDef> field_defs(const std::vector<TField>& fields) {
  std::vector<TFieldDef> defs;
  for (const TField& f : fields)
    defs.push_back({f.name, f.type, static_cast<uint16_t>(f.length), f.decimals});
  return defs;
}

int field_or_fail(TTableReader& reader, const char* name) {
  const int f = reader.field_index(name);
  if (f < 0) throw EDbaseError(Mirel::from_utf8(reader.path() + " has no field " + name));
  return f;
}

// Sets the due date of the first loan when it is blank and clears it when
// it is not: a book lent or given back.
void mutate_loans(const std::string& lib) {
  const std::string path = lib + "/kasidasi.dbf";
  std::vector<std::string> values;
  {
    TTableReader reader(path);
    if (reader.record_count() == 0) throw EDbaseError(Mirel::from_utf8(path + " has no loans"));
    values = record_values(reader, 0);
    std::string& due = values[static_cast<size_t>(field_or_fail(reader, "KA_HDATE"))];
    due = due.empty() ? "20250415" : "";
  }
  auto writer = TTableWriter::open(path);
  writer->rewrite(0, values);
  writer->close();
}

// Toggles the field `name` (the title unless told) of `count` records
// spread evenly over master.dbf, rewriting each whole record through the
// writer.
void mutate_master(const std::string& lib, uint32_t count, const char* name = "MS_SYOMEI") {
  const std::string path = lib + "/master.dbf";
  std::vector<std::pair<uint32_t, std::vector<std::string>>> changed;
  std::vector<bool> deleted;
  {
    TTableReader reader(path);
    const uint32_t n = reader.record_count();
    if (count > n) count = n;
    const size_t title = static_cast<size_t>(field_or_fail(reader, name));
    const uint32_t width = reader.fields()[title].length;
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t i = static_cast<uint32_t>(static_cast<uint64_t>(k) * n / count);
      auto values = record_values(reader, i);
      toggle_title(values[title], width);
      deleted.push_back(reader.is_deleted(i));
      changed.emplace_back(i, std::move(values));
    }
  }
  auto writer = TTableWriter::open(path);
  for (size_t k = 0; k < changed.size(); ++k)
    writer->rewrite(changed[k].first, changed[k].second, deleted[k]);
  writer->close();
}

// Appends `count` records to master.dbf, copies of records spread evenly
// over it, each with a book id above every one the table has (of the same
// width, zero-padded): new books, which enter every sort order.
void add_books(const std::string& lib, uint32_t count) {
  const std::string path = lib + "/master.dbf";
  std::vector<std::vector<std::string>> added;
  {
    TTableReader reader(path);
    const uint32_t n = reader.record_count();
    if (n == 0) throw EDbaseError(Mirel::from_utf8(path + " has no records to copy"));
    const size_t id = static_cast<size_t>(field_or_fail(reader, "MS_BOOKID"));
    const uint32_t width = reader.fields()[id].length;
    unsigned long long top = 0;
    TValue v;
    for (uint32_t i = 0; i < n; ++i) {
      reader.value(i, id, v);
      top = std::max(top, std::strtoull(v.as_text().c_str(), nullptr, 10));
    }
    for (uint32_t k = 0; k < count; ++k) {
      auto values = record_values(reader, static_cast<uint32_t>(static_cast<uint64_t>(k) * n / count));
      std::string number = std::to_string(top + 1 + k);
      if (number.size() < width) number.insert(0, width - number.size(), '0');
      values[id] = number;
      added.push_back(std::move(values));
    }
  }
  auto writer = TTableWriter::open(path);
  for (const auto& values : added) writer->append(values);
  writer->close();
}

// Writes a new master.dbf (and .dbt) beside the old one with every title
// toggled, then puts it in the old one's place.
void mutate_full(const std::string& lib) {
  namespace fs = std::filesystem;
  const std::string path = lib + "/master.dbf";
  const std::string next = lib + "/master-rewrite.dbf";
  const std::string next_memo = lib + "/master-rewrite.dbt";
  std::string memo;
  {
    TTableReader reader(path);
    memo = reader.memo_path();
    const size_t title = static_cast<size_t>(field_or_fail(reader, "MS_SYOMEI"));
    const uint32_t width = reader.fields()[title].length;
    auto writer = TTableWriter::create(next, field_defs(reader.fields()));
    const uint32_t n = reader.record_count();
    for (uint32_t i = 0; i < n; ++i) {
      auto values = record_values(reader, i);
      toggle_title(values[title], width);
      writer->append(values, reader.is_deleted(i));
    }
    writer->close();
  }
  if (memo.empty()) memo = lib + "/master.dbt";
  if (fs::exists(next_memo)) fs::rename(next_memo, memo);
  fs::rename(next, path);
}

int usage(const char* message) {
  std::fprintf(stderr,
               "mirelweb-bench-mutate: %s\n"
               "usage: mirelweb-bench-mutate loans LIBDIR\n"
               "       mirelweb-bench-mutate master LIBDIR N\n"
               "       mirelweb-bench-mutate reading LIBDIR N\n"
               "       mirelweb-bench-mutate full LIBDIR\n"
               "       mirelweb-bench-mutate add LIBDIR N\n",
               message);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage("missing arguments");
  const std::string what = argv[1];
  const std::string lib = argv[2];
  try {
    if (what == "loans" && argc == 3) {
      mutate_loans(lib);
    } else if ((what == "master" || what == "reading" || what == "add") && argc == 4) {
      char* end = nullptr;
      const unsigned long n = std::strtoul(argv[3], &end, 10);
      if (end == argv[3] || *end != '\0' || n == 0 || n > 0xFFFFFFFFUL)
        return usage("N must be a positive number");
      if (what == "add")
        add_books(lib, static_cast<uint32_t>(n));
      else
        mutate_master(lib, static_cast<uint32_t>(n), what == "master" ? "MS_SYOMEI" : "MS_SYOKANA");
    } else if (what == "full" && argc == 3) {
      mutate_full(lib);
    } else {
      return usage("unknown command");
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mirelweb-bench-mutate: %s\n", e.what());
    return 1;
  }
  return 0;
}
