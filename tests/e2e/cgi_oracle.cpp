// The checks every answer must pass (see cgi_oracle.h). The HTML scanner is
// deliberately small: it knows start and end tags, comments and the three
// forms of attribute values, which is all a browser needs to be tricked by
// text that leaves a quoted value or starts an element.
#include "cgi_oracle.h"

#include <iconv.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <set>

namespace mwtest {
namespace {

std::vector<std::string> split(const std::string& text, const std::string& separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + separator.size();
  }
}

bool starts_with(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// A short, printable excerpt of `s` around `pos` for messages.
std::string excerpt(const std::string& s, size_t pos) {
  const size_t from = pos > 40 ? pos - 40 : 0;
  std::string out;
  for (char c : s.substr(from, 100)) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

struct TScannedTag {
  std::string name;  // lower case; "/name" for an end tag
  std::vector<std::string> attributes;  // lower case
  size_t position = 0;
};

// The tags of `html` as a browser would see them.
std::vector<TScannedTag> scan_tags(const std::string& html, std::vector<std::string>& faults) {
  std::vector<TScannedTag> tags;
  const size_t n = html.size();
  size_t i = 0;
  while (i < n) {
    if (html[i] != '<' || i + 1 >= n) {
      ++i;
      continue;
    }
    const char next = html[i + 1];
    if (next == '#') {
      faults.push_back("template tag syntax left in the page: " + excerpt(html, i));
      i += 2;
      continue;
    }
    if (next == '!') {
      const size_t end = starts_with(html.substr(i, 4), "<!--") ? html.find("-->", i + 4)
                                                                 : html.find('>', i + 2);
      i = end == std::string::npos ? n : end + 1;
      continue;
    }
    const bool closing = next == '/';
    size_t p = i + (closing ? 2 : 1);
    if (p >= n || !is_letter(html[p])) {
      ++i;
      continue;
    }
    TScannedTag tag;
    tag.position = i;
    const size_t name_start = p;
    while (p < n && !is_space(html[p]) && html[p] != '>' && html[p] != '/') ++p;
    tag.name = (closing ? "/" : "") + lower(html.substr(name_start, p - name_start));
    // Attributes up to the closing '>'.
    while (p < n && html[p] != '>') {
      if (is_space(html[p]) || html[p] == '/') {
        ++p;
        continue;
      }
      const size_t attr_start = p;
      while (p < n && !is_space(html[p]) && html[p] != '=' && html[p] != '>' && html[p] != '/') ++p;
      tag.attributes.push_back(lower(html.substr(attr_start, p - attr_start)));
      while (p < n && is_space(html[p])) ++p;
      if (p < n && html[p] == '=') {
        ++p;
        while (p < n && is_space(html[p])) ++p;
        if (p < n && (html[p] == '"' || html[p] == '\'')) {
          const size_t close = html.find(html[p], p + 1);
          p = close == std::string::npos ? n : close + 1;
        } else {
          while (p < n && !is_space(html[p]) && html[p] != '>') ++p;
        }
      }
    }
    tags.push_back(tag);
    i = p < n ? p + 1 : n;
  }
  return tags;
}

}  // namespace

std::vector<std::string> header_lines(const CgiResult& r) {
  const size_t end = r.output.find("\r\n\r\n");
  if (end == std::string::npos) return {};
  return split(r.output.substr(0, end), "\r\n");
}

std::string header(const CgiResult& r, const std::string& name) {
  for (const std::string& line : header_lines(r))
    if (starts_with(line, name + ": ")) return line.substr(name.size() + 2);
  return "";
}

std::vector<std::string> process_faults(const CgiResult& r) {
  std::vector<std::string> faults;
  if (r.timed_out) faults.push_back("the program did not end within the time limit");
  else if (r.signal != 0) faults.push_back("the program was killed by signal " + std::to_string(r.signal));
  else if (r.exit_code != 0) faults.push_back("exit code " + std::to_string(r.exit_code));
  if (!r.errors.empty()) faults.push_back("standard error: " + r.errors.substr(0, 2000));
  return faults;
}

std::vector<std::string> cgi_faults(const CgiResult& r, bool with_headers) {
  std::vector<std::string> faults;
  if (!with_headers) {
    if (starts_with(r.output, "Status:")) faults.push_back("a header block without SERVER_PROTOCOL");
    return faults;
  }
  const size_t end = r.output.find("\r\n\r\n");
  if (end == std::string::npos) {
    faults.push_back("no header block: " + excerpt(r.output, 0));
    return faults;
  }
  const std::string body = r.output.substr(end + 4);
  const std::vector<std::string> lines = header_lines(r);
  std::set<std::string> seen;
  bool length_seen = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      faults.push_back("CR, LF or NUL inside header line " + excerpt(line, 0));
    if (i == 0) {
      const bool shaped = line.size() > 12 && starts_with(line, "Status: ") &&
                          std::isdigit(static_cast<unsigned char>(line[8])) &&
                          std::isdigit(static_cast<unsigned char>(line[9])) &&
                          std::isdigit(static_cast<unsigned char>(line[10])) && line[11] == ' ';
      if (!shaped) faults.push_back("first header line is no status line: " + excerpt(line, 0));
      continue;
    }
    if (i + 1 == lines.size()) {
      if (line != "Content:") faults.push_back("the header block does not end with \"Content:\"");
      continue;
    }
    const size_t colon = line.find(": ");
    const std::string name = colon == std::string::npos ? line : line.substr(0, colon);
    if (name != "Location" && name != "Content-Type" && name != "Content-Length")
      faults.push_back("unexpected header line: " + excerpt(line, 0));
    if (!seen.insert(name).second) faults.push_back("header repeated: " + name);
    if (name == "Content-Type" && line != "Content-Type: text/html")
      faults.push_back("content type: " + line);
    if (name == "Content-Length") {
      length_seen = true;
      if (line.substr(colon + 2) != std::to_string(body.size()))
        faults.push_back(line + " but the body has " + std::to_string(body.size()) + " bytes");
    }
  }
  if (!seen.count("Content-Type")) faults.push_back("no Content-Type line");
  if (!body.empty() && !length_seen) faults.push_back("no Content-Length for a body");
  if (body.empty() && length_seen) faults.push_back("a Content-Length for an empty body");
  return faults;
}

std::vector<std::string> markup_faults(const std::string& body) {
  std::vector<std::string> faults;
  // Strict code page 932: every lead byte has its trail byte.
  iconv_t cd = ::iconv_open("UTF-8", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    faults.push_back("iconv has no CP932");
  } else {
    std::string in = body;
    char* src = in.data();
    size_t left = in.size();
    std::string out(4096, '\0');
    while (left > 0) {
      char* dst = out.data();
      size_t room = out.size();
      if (::iconv(cd, &src, &left, &dst, &room) == static_cast<size_t>(-1) && errno != E2BIG) {
        faults.push_back("body is not valid code page 932 at byte " +
                         std::to_string(in.size() - left) + ": " +
                         excerpt(in, in.size() - left));
        break;
      }
    }
    ::iconv_close(cd);
  }
  for (const TScannedTag& tag : scan_tags(body, faults)) {
    const std::string name = tag.name[0] == '/' ? tag.name.substr(1) : tag.name;
    if (name == "script" || name == "img" || name == "mwx")
      faults.push_back("element <" + tag.name + "> from visitor text: " + excerpt(body, tag.position));
    for (const std::string& attribute : tag.attributes)
      if (starts_with(attribute, "on") || attribute.find('"') != std::string::npos ||
          attribute.find('\'') != std::string::npos)
        faults.push_back("attribute " + attribute + " from visitor text: " +
                         excerpt(body, tag.position));
  }
  return faults;
}

std::vector<std::string> split_log(const std::string& text) {
  if (text.empty()) return {};
  std::vector<std::string> lines = split(text, "\r\n");
  if (lines.back().empty()) lines.pop_back();
  return lines;
}

std::vector<std::string> log_faults(const std::string& text, const std::string& client) {
  std::vector<std::string> faults;
  if (text.empty()) return faults;
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
    faults.push_back("the log does not end with a line end");
  for (const std::string& line : split_log(text)) {
    if (line.find_first_of("\r\n") != std::string::npos)
      faults.push_back("a lone CR or LF inside a log line: " + excerpt(line, 0));
    if (!starts_with(line, "[") || line.find("] [error] [client " + client + "] ") == std::string::npos)
      faults.push_back("log line of the wrong shape: " + excerpt(line, 0));
  }
  return faults;
}

std::string describe(const std::vector<std::string>& faults) {
  std::string text;
  for (const std::string& f : faults) text += "\n  - " + f;
  return text;
}

}  // namespace mwtest
