// Hand-made table bytes for reader tests: a header and descriptors laid out
// exactly as the test says, so that every version, field type and damage
// can be produced without any writer of ours in between.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace Mirel::Dbase::Testing {

struct TRawField {
  std::string name;
  char type;
  uint8_t length;
  uint8_t decimals = 0;
  uint8_t flags = 0;
};

struct TRawTable {
  uint8_t version = 0x03;
  uint8_t driver = 0x13;
  std::vector<TRawField> fields;
  std::vector<std::string> records;  // each without the deletion flag
  std::vector<bool> deleted;         // optional, per record
  int64_t header_count = -1;         // -1: the number of records
  bool terminator = true;            // 0x0D after the descriptors
  bool end_of_file = true;           // 0x1A after the records
  bool backlink = false;             // Visual FoxPro's 263 bytes after 0x0D
  bool level7 = false;               // dBASE 7 descriptors (48 bytes from 68)

  uint32_t record_length() const {
    uint32_t n = 1;
    for (const auto& f : fields) n += f.length;
    return n;
  }

  std::string bytes() const {
    const size_t first = level7 ? 68 : 32, step = level7 ? 48 : 32;
    size_t header_length =
        first + step * fields.size() + (terminator ? 1 : 0) + (backlink ? 263 : 0);
    std::string out(header_length, '\0');
    auto put16 = [&](size_t at, uint32_t v) {
      out[at] = static_cast<char>(v & 0xFF);
      out[at + 1] = static_cast<char>(v >> 8);
    };
    out[0] = static_cast<char>(version);
    out[1] = 124;
    out[2] = 4;
    out[3] = 1;
    uint32_t count = header_count < 0 ? static_cast<uint32_t>(records.size())
                                      : static_cast<uint32_t>(header_count);
    for (int k = 0; k < 4; ++k) out[4 + k] = static_cast<char>(count >> (8 * k));
    put16(8, static_cast<uint32_t>(header_length));
    put16(10, record_length());
    out[29] = static_cast<char>(driver);
    uint32_t offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
      size_t d = first + step * i;
      const TRawField& f = fields[i];
      std::memcpy(&out[d], f.name.data(), f.name.size());
      if (level7) {
        out[d + 32] = f.type;
        out[d + 33] = static_cast<char>(f.length);
        out[d + 34] = static_cast<char>(f.decimals);
      } else {
        out[d + 11] = f.type;
        for (int k = 0; k < 4; ++k) out[d + 12 + k] = static_cast<char>(offset >> (8 * k));
        out[d + 16] = static_cast<char>(f.length);
        out[d + 17] = static_cast<char>(f.decimals);
        out[d + 18] = static_cast<char>(f.flags);
      }
      offset += f.length;
    }
    if (terminator) out[first + step * fields.size()] = 0x0D;
    for (size_t r = 0; r < records.size(); ++r) {
      out.push_back(r < deleted.size() && deleted[r] ? '*' : ' ');
      std::string rec = records[r];
      rec.resize(record_length() - 1, ' ');
      out += rec;
    }
    if (end_of_file) out.push_back(0x1A);
    return out;
  }
};

// Little-endian and big-endian integers as bytes.
inline std::string le32(uint32_t v) {
  std::string s(4, '\0');
  for (int k = 0; k < 4; ++k) s[k] = static_cast<char>(v >> (8 * k));
  return s;
}
inline std::string be32(uint32_t v) {
  std::string s(4, '\0');
  for (int k = 0; k < 4; ++k) s[k] = static_cast<char>(v >> (8 * (3 - k)));
  return s;
}
inline std::string le64(uint64_t v) {
  std::string s(8, '\0');
  for (int k = 0; k < 8; ++k) s[k] = static_cast<char>(v >> (8 * k));
  return s;
}
inline std::string f64(double d) {
  uint64_t v;
  std::memcpy(&v, &d, 8);
  return le64(v);
}

}  // namespace Mirel::Dbase::Testing
