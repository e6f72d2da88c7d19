// Private state of TTableReader, shared by the header/record code
// (dbf_reader.cpp) and the value decoding (dbf_values.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "dbase/dbf.h"
#include "dbase/memo_file.h"

namespace Mirel::Dbase {

struct TTableReader::Impl {
  std::string path;
  std::string memo_path;
  int fd = -1;
  uint64_t file_size = 0;
  uint8_t header[32] = {};
  uint8_t version = 0;
  uint32_t header_count = 0;
  uint32_t count = 0;
  uint32_t header_length = 0;
  uint32_t record_length = 0;
  uint8_t driver = 0;
  std::string codepage;
  bool cp932 = true;  // fast table conversion
  bool visual_foxpro = false;
  bool level7 = false;  // dBASE 7: big-endian integers with the sign flipped
  std::vector<TField> fields;
  int null_flags_field = -1;  // index of _NullFlags, -1 when none
  std::unique_ptr<TMemoFile> memo;

  // Window of whole records read with one pread.
  std::vector<char> window;
  uint32_t window_first = 0;
  uint32_t window_count = 0;

  ~Impl();
  void decode_text(std::string_view bytes, std::string& out) const;
};

}  // namespace Mirel::Dbase
