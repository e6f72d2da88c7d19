// The byte source of the page producer: a template file read through a
// 4096-byte buffer that the scan may only work up to the last line feed in.
//
// Private to the template module. The reader keeps every byte it has read
// (templates are small pages) so that the scanner addresses bytes by their
// offset from the start of the template; what it refuses is a stretch of
// 4096 bytes without a line feed, the line-length limit of the templates.
#pragma once

#include <cstddef>
#include <string>

namespace Mirel::MirelWeb {

class TTemplateReader {
 public:
  static constexpr size_t kBufferSize = 4096;

  // Opens the file (named by bytes); throws Exception with the file-open
  // message naming `display_path` on failure. A leading UTF-8 byte-order
  // mark is consumed and recorded.
  TTemplateReader(const std::string& file_name, const std::u16string& display_path);
  ~TTemplateReader();
  TTemplateReader(const TTemplateReader&) = delete;
  TTemplateReader& operator=(const TTemplateReader&) = delete;

  bool is_utf8() const { return utf8_; }

  // The byte at `offset` (0..255 as int), or -1 at the end of the template:
  // the end of the file or a byte 0. Throws Exception when a refill finds
  // the line limit exceeded, or when reading fails.
  int at(size_t offset) {
    if (offset >= limit_ && !fill_to(offset)) return -1;
    const unsigned char c = static_cast<unsigned char>(data_[offset]);
    return c == 0 ? -1 : c;
  }

  // Bytes [begin, end) already returned by at().
  std::string bytes(size_t begin, size_t end) const { return data_.substr(begin, end - begin); }

  // Hands over every byte read so far (the offsets of at() stay valid in
  // the returned text); the reader is done with afterwards.
  std::string release_bytes() { return std::move(data_); }

 private:
  bool fill_to(size_t offset);
  void refill();
  [[noreturn]] void throw_os_error(int error) const;

  int fd_ = -1;
  std::u16string display_path_;
  std::string data_;         // every byte read so far, after the mark
  size_t limit_ = 0;         // the scan may use data_[0, limit_)
  size_t lines_before_ = 0;  // line feeds in data_[0, limit_)
  bool eof_ = false;
  bool utf8_ = false;
};

}  // namespace Mirel::MirelWeb
