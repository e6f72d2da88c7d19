// Fuzz target for the dBASE reader and its memo files: the fuzz bytes are
// split into a table and a memo file, both written beside each other, and
// every field of every record is read.
//
// Input: byte 0 chooses the memo file's extension and spelling (or none) and
// whether the table's code page is overridden; bytes 1-2 are the table's
// length (little-endian, cut to what follows); the table's bytes follow, and
// the rest is the memo file. Opening may fail with EDbaseError; once open,
// reading never fails for a file that does not change, record sizes and field
// bounds hold, and every text value is UTF-8.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "dbase/dbf.h"
#include "fuzz/fuzz_support.h"
#include "platform/unicode_string.h"

namespace {

using namespace Mirel::Dbase;

// Lower case, upper case, and mixed spellings that only a directory scan finds.
constexpr const char* kMemoNames[] = {"t.dbt", "t.fpt", "t.DBT", "t.FPT", "t.Dbt", "t.fPt"};

// Invalid UTF-8 decodes to U+FFFD, whose encoding differs from the bytes
// it replaced; valid UTF-8 comes back byte for byte.
bool is_utf8(const std::string& text) { return Mirel::to_utf8(Mirel::from_utf8(text)) == text; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint8_t flags = data[0];
  const size_t table_size = std::min<size_t>(data[1] | data[2] << 8, size - 3);
  const std::string_view table(reinterpret_cast<const char*>(data + 3), table_size);
  const std::string_view memo(reinterpret_cast<const char*>(data + 3 + table_size),
                              size - 3 - table_size);

  const std::string dir = mwfuzz::scratch_dir();
  for (const char* name : kMemoNames) mwfuzz::remove_file(dir + name);
  mwfuzz::write_file(dir + "t.dbf", table);
  const size_t memo_choice = flags & 7;
  if (memo_choice < std::size(kMemoNames)) mwfuzz::write_file(dir + kMemoNames[memo_choice], memo);

  TReadOptions options;
  if (flags & 8) options.codepage = flags & 16 ? "UTF-8" : "CP1252";

  std::unique_ptr<TTableReader> reader;
  try {
    reader = std::make_unique<TTableReader>(dir + "t.dbf", options);
  } catch (const EDbaseError&) {
    return 0;
  }
  MWFUZZ_CHECK(reader->record_count() <= reader->header_record_count());
  MWFUZZ_CHECK(reader->record_count() == 0 ||
               static_cast<uint64_t>(reader->record_count()) * reader->record_length() +
                       reader->header_length() <=
                   reader->file_size());
  for (const TField& f : reader->fields()) {
    MWFUZZ_CHECK(f.offset >= 1 && f.offset + f.length <= reader->record_length());
    MWFUZZ_CHECK(reader->field_index(f.name) >= 0);
  }

  TValue value;
  for (uint32_t i = 0; i < reader->record_count(); ++i) {
    MWFUZZ_CHECK(reader->record(i).size() == reader->record_length());
    (void)reader->is_deleted(i);
    for (size_t f = 0; f < reader->fields().size(); ++f) {
      reader->value(i, f, value);
      if (value.kind == TValue::Kind::Text && !is_utf8(value.text)) {
        const std::string what = "text of field " + reader->fields()[f].name + " (type " +
                                 reader->fields()[f].type + ") is not UTF-8";
        mwfuzz::check_failed(what.c_str(), __FILE__, __LINE__);
      }
      (void)value.as_text();
    }
  }
  // Block numbers past any file, and the file header itself.
  for (uint64_t block : {uint64_t{0}, uint64_t{1}, uint64_t{0xFFFFFFFF}, ~uint64_t{0}})
    (void)reader->memo_bytes(block);
  try {
    (void)reader->record(reader->record_count());
    MWFUZZ_CHECK(false);
  } catch (const EDbaseError&) {
  }
  return 0;
}
