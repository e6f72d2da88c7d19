// dBASE table files: reading any table the library system may hand us, and
// writing dBASE III tables for tests, sample data and benchmarks.
//
// Reader (TTableReader)
//   Versions: dBASE III (0x03, 0x83), dBASE IV (0x04, 0x7B, 0x8B, 0xCB, 0xE5,
//   0xF5 FoxPro 2), Visual FoxPro (0x30, 0x31, 0x32) and dBASE 7 (level 4
//   headers with 48-byte field descriptors from offset 68, ended by 0x0D;
//   the field properties that may follow are skipped). Any other first byte
//   is read as a dBASE III style table as long as the header is consistent;
//   a table starting 0x02 that is not is refused as FoxBASE / dBASE II
//   (another header, not read).
//   Of the possible readings of the descriptors (dBASE 7 or not; a C
//   field's decimal count as the high byte of its length, as Clipper and
//   FoxPro write long C fields, or as decimals, as Excel writes them) the
//   first whose fields fill the record exactly is taken, else the first
//   whose fields fit in it. A header that no reading makes sense of, a
//   table without fields, a file that ends within the descriptors or
//   before the header's end is an EDbaseError saying so.
//   Records start at the header length and are the header's record length
//   apart; the record count is the smaller of the header's count and the
//   whole records the file really holds, so a truncated file or an inflated
//   count is no error. A missing 0x0D (end of descriptors) where the header
//   length says the header ends, or a missing 0x1A (end of file), is no
//   error either.
//   Memo files: ".dbt" (dBASE III: 512-byte blocks, text ends at 0x1A;
//   dBASE IV: block size from the header, blocks that start FF FF 08 00 with
//   a length that includes that 8-byte block header) and ".fpt" (big-endian,
//   block size in the header). The memo file beside the table is found
//   without regard to letter case. A memo pointer past the end of the memo
//   file, or a missing memo file, gives a NULL value, never a failure. A
//   dBASE III memo without its end marker before the end of the file is
//   cut to its first 64 KiB (TMemoFile::kMaxUnterminatedBytes).
//   Text: the code page comes from the language-driver byte (0x13 and 0x7B
//   are 932; 0x03 and 0x57 "Windows ANSI" and unknown values are the host
//   default, 932; drivers that name another code page outright, such as 0x02
//   (850), 0x59 (1252) or 0xC9 (1251), are read in it, see
//   codepage_of_driver). A table whose driver byte is 0 is read in the code
//   page that a ".cpg" file beside it names (any letter case, as shapefile
//   tools write it), else in 932. TReadOptions::codepage overrides both.
//   Field names are text in that code page too. Bytes that are not valid in
//   the code page (a double-byte character cut at the field's end) become
//   U+FFFD; the record is still read.
//   Records are read with pread in large windows, so a file of any size
//   costs a few megabytes of memory and a file truncated while we read it
//   raises EDbaseError instead of crashing the process.
//
// Value rules (TValue, see value_of / TTableReader::value):
//   C, V    text, trailing blanks (and NULs) removed; all blank -> NULL
//   D       text "yyyymmdd"; blank or "00000000" -> NULL
//   N, F    integer when the field has no decimals and the digits fit in
//           64 bits, otherwise real; blank or unparsable -> NULL
//   L       integer 1 (T t Y y) or 0 (F f N n); "?" or blank -> NULL
//   M       memo text (blank pointer or empty memo -> NULL)
//   G, P    memo contents as a blob (Visual FoxPro general/picture)
//   B       Visual FoxPro: real (little-endian double); before it: memo blob
//   I       integer (little-endian 32-bit; dBASE 7: big-endian, sign flipped)
//   +       dBASE 7 autoincrement, as I
//   O       dBASE 7 double, real
//   Y       real, the 64-bit currency value / 10000
//   T, @    text "yyyymmddhhmmss"; both halves zero -> NULL
//   Q, 0, unknown   raw bytes as a blob (the _NullFlags field is not a column
//                   value; Visual FoxPro nullable fields honour it)
//   Text values are UTF-8.
//
// Writer (TTableWriter)
//   dBASE III tables: version 0x03, or 0x83 with a ".dbt" memo file of
//   512-byte blocks when there is an M field; language driver 0x13; text
//   in code page 932 on disk. Creating truncates; opening an existing table
//   appends, rewrites records in place and (un)marks deletions, keeping the
//   header's record count and date current on flush(). Values are given as
//   UTF-8 (or UTF-16) text in field order; an empty text writes a blank field.
//
// Every failure (a file that cannot be opened, a header that is not a
// table, a write that fails) is an EDbaseError naming the file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/exception.h"
#include "platform/unicode_string.h"

namespace Mirel::Dbase {

MIREL_DECLARE_EXCEPTION(EDbaseError, Exception);

// One column of a table.
struct TField {
  std::string name;     // UTF-8, decoded with the table's code page
  char type = 'C';      // 'C', 'N', 'D', ...
  uint32_t offset = 0;  // byte offset inside the record (byte 0 is the deletion flag)
  uint32_t length = 0;  // bytes in the record
  uint8_t decimals = 0;
  uint8_t flags = 0;    // Visual FoxPro field flags (0x02 nullable)
  int null_bit = -1;    // Visual FoxPro: bit in _NullFlags, -1 when not nullable
  int length_bit = -1;  // Visual FoxPro V/Q: bit saying the last byte holds the length
};

// The typed form of one field value.
struct TValue {
  enum class Kind { Null, Text, Integer, Real, Blob };
  Kind kind = Kind::Null;
  std::string text;  // Text: UTF-8; Blob: raw bytes
  int64_t integer = 0;
  double real = 0;

  bool is_null() const { return kind == Kind::Null; }
  // The text form: Text/Blob as is, numbers in decimal ("12", "3.5"), NULL "".
  std::string as_text() const;
};

struct TReadOptions {
  // iconv name of the code page of the table's text ("CP932", "CP1252",
  // "UTF-8"); empty: from the language-driver byte.
  std::string codepage;
};

// Code page (iconv name) for a language-driver byte; 932 for 0, 0x03, 0x57
// and unknown bytes.
const char* codepage_of_driver(uint8_t driver);
// Code page (iconv name) for the contents of a ".cpg" file: "1252",
// "ANSI 1252", "UTF-8", "65001", "88591", "SJIS", an iconv name; empty when
// it names none.
std::string codepage_of_cpg(std::string_view text);

class TTableReader {
 public:
  // Opens the table and its memo file. Throws EDbaseError when the file
  // cannot be opened or its header does not describe a table.
  explicit TTableReader(const std::string& path, TReadOptions options = {});
  ~TTableReader();
  TTableReader(const TTableReader&) = delete;
  TTableReader& operator=(const TTableReader&) = delete;

  const std::string& path() const;
  // The memo file in use; empty when the table has none (or it is missing).
  const std::string& memo_path() const;

  uint8_t version() const;
  // The first 32 bytes of the file as read at open (for freshness checks).
  const uint8_t* header_bytes() const;
  uint32_t header_record_count() const;  // the header's own count
  uint32_t record_count() const;         // records really readable
  uint32_t header_length() const;
  uint32_t record_length() const;
  uint8_t language_driver() const;
  const std::string& codepage() const;  // iconv name in use
  uint64_t file_size() const;           // size at open

  const std::vector<TField>& fields() const;
  // Index of the field of that name (ASCII letter case ignored), or -1.
  int field_index(std::string_view name) const;

  // The raw bytes of record i (record_length() bytes, deletion flag first).
  // Valid until the next call on this reader. Throws EDbaseError for an
  // index out of range or when the file shrank under us.
  std::string_view record(uint32_t i);
  // The raw bytes of records first .. first + count - 1, one after another
  // (count * record_length() bytes), read with one pread into the window
  // that record() uses: a pass over the whole table in runs of a few
  // hundred kilobytes touches little memory and makes few system calls.
  // Valid until the next call on this reader. Throws EDbaseError for a
  // range out of bounds or when the file shrank under us.
  std::string_view records(uint32_t first, uint32_t count);
  bool is_deleted(uint32_t i);

  // The value of field f of record i (rules above). The overload filling
  // `out` reuses its buffer, for bulk imports.
  TValue value(uint32_t i, size_t f);
  void value(uint32_t i, size_t f, TValue& out);
  // Same, from raw record bytes obtained through record().
  void value_of(std::string_view record, size_t f, TValue& out);

  // Raw memo contents for a block number (text of the block up to its end
  // marker or stated length); empty when the block is outside the file.
  std::string memo_bytes(uint64_t block);
  // Raw memo contents (no code page conversion) of the memo that field f of
  // `record` points to, into `out` (its buffer reused): what value_of
  // decodes for M, G, P and dBASE B fields. Empty for a blank pointer, a
  // block outside the memo file, a missing memo file or a field of another
  // type. Cheaper than value_of where only a change of the bytes matters.
  // Returns whether the memo is settled: the same bytes would be read from
  // any longer memo file that begins with this one (header aside). It is
  // not when its read stopped at the end of the memo file (no end marker,
  // a stated length or a block past the end) or when it starts within the
  // memo file's first 512 bytes, where the header lies; true when the field
  // points to no memo.
  bool memo_of(std::string_view record, size_t f, std::string& out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// A column to create.
struct TWriteOptions {
  // Date written into the header (year, month 1-12, day); 0: today. Fixing
  // it makes the files of a given content byte for byte reproducible.
  int year = 0, month = 0, day = 0;
};

struct TFieldDef {
  std::string name;     // at most 10 ASCII characters
  char type = 'C';      // C N F D L M
  uint16_t length = 0;  // C up to 254; N/F up to 20; D 8 and L 1 and M 10 forced
  uint8_t decimals = 0;
};

class TTableWriter {
 public:
  // Creates (or truncates) the table at `path` with these fields, and the
  // ".dbt" memo file beside it when there is an M field. Throws EDbaseError
  // for a bad field definition or a file that cannot be written.
  static std::unique_ptr<TTableWriter> create(const std::string& path,
                                              const std::vector<TFieldDef>& fields,
                                              TWriteOptions options = {});
  // Opens an existing dBASE III table (as written by create) for appending
  // and rewriting. Throws EDbaseError when it is not one.
  static std::unique_ptr<TTableWriter> open(const std::string& path, TWriteOptions options = {});
  // Flushes; failures are ignored here (call close() to see them).
  ~TTableWriter();

  const std::vector<TField>& fields() const;
  int field_index(std::string_view name) const;  // -1 when absent
  uint32_t record_count() const;

  // Values in field order, UTF-8; missing trailing values are blank.
  // N/F take decimal text ("123", "-4.50"), D "yyyymmdd", L "T"/"F"/"",
  // M any text (stored in the memo file). Returns the record's index.
  uint32_t append(const std::vector<std::string>& values, bool deleted = false);
  uint32_t append_utf16(const std::vector<UnicodeString>& values, bool deleted = false);
  // Rewrites record i (memo texts get new blocks; old ones are left unused).
  void rewrite(uint32_t i, const std::vector<std::string>& values, bool deleted = false);
  void set_deleted(uint32_t i, bool deleted);

  // Writes buffered records, the end-of-file byte and the header (count and
  // date). Readers see the new records only after this.
  void flush();
  void close();

 private:
  TTableWriter();
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Field text is converted by the platform's code page 932 converter
// (cp932_to_utf8 and utf8_to_cp932, platform/unicode_string.h).
using Mirel::cp932_to_utf8;
using Mirel::utf8_to_cp932;

}  // namespace Mirel::Dbase
