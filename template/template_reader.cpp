// Reading a template file through the line-limited buffer, and the two
// failures of that reading: the file that cannot be opened or read, and the
// line that does not fit the buffer.
#include "template/template_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/exception.h"
#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

TTemplateReader::TTemplateReader(const std::string& file_name, const std::u16string& display_path)
    : display_path_(display_path) {
  fd_ = ::open(file_name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw_os_error(errno);
  // The byte-order mark is taken before the buffer is filled, so it does not
  // count towards the first line.
  char head[3];
  size_t got = 0;
  while (got < sizeof head) {
    const ssize_t r = ::read(fd_, head + got, sizeof head - got);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw_os_error(errno);
    if (r == 0) {
      eof_ = true;
      break;
    }
    got += static_cast<size_t>(r);
  }
  if (got == 3 && std::memcmp(head, "\xEF\xBB\xBF", 3) == 0) {
    utf8_ = true;
  } else {
    data_.assign(head, got);
  }
}

TTemplateReader::~TTemplateReader() {
  if (fd_ >= 0) ::close(fd_);
}

void TTemplateReader::throw_os_error(int error) const {
  std::u16string shown = display_path_;
  if (shown.empty() || shown[0] != u'/') {
    // The full path names the place the program looked in.
    char cwd[4096];
    if (::getcwd(cwd, sizeof cwd)) shown = from_utf8(cwd) + u"/" + shown;
  }
  throw Exception(u"ファイル " + shown + u" は開けません。 " + from_utf8(std::strerror(error)) +
                  u" ");
}

bool TTemplateReader::fill_to(size_t offset) {
  while (offset >= limit_) {
    if (eof_ && limit_ == data_.size()) return false;
    refill();
  }
  return true;
}

// Fills the buffer (the bytes after limit_) up to kBufferSize bytes, then
// moves limit_ past the last line feed in it. At the end of the file the
// rest counts as scannable even without a line feed; a full buffer without
// one is the line-length failure.
void TTemplateReader::refill() {
  while (!eof_ && data_.size() - limit_ < kBufferSize) {
    char chunk[kBufferSize];
    const ssize_t r = ::read(fd_, chunk, kBufferSize - (data_.size() - limit_));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw_os_error(errno);
    if (r == 0) eof_ = true;
    data_.append(chunk, static_cast<size_t>(r));
  }
  size_t last_lf = data_.size();
  for (size_t i = data_.size(); i > limit_; --i) {
    if (data_[i - 1] == '\n') {
      last_lf = i - 1;
      break;
    }
  }
  if (last_lf == data_.size()) {
    if (!eof_) {
      throw Exception(int_to_text(static_cast<long long>(lines_before_ + 1)) +
                      u" 行で 行が長すぎます");
    }
    limit_ = data_.size();
    return;
  }
  for (size_t i = limit_; i <= last_lf; ++i)
    if (data_[i] == '\n') ++lines_before_;
  limit_ = last_lf + 1;
}

}  // namespace Mirel::MirelWeb
