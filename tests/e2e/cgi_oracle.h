// Checks that every answer of the program must pass, whatever the request:
// the process ended by itself, the CGI output is well formed, no visitor
// text became markup, and the error log holds whole lines only. Used by the
// bad-request battery and the damaged-table tests; each check returns the
// list of what is wrong (empty: all is well), so a test prints all of it.
#pragma once

#include <string>
#include <vector>

#include "cgi_runner.h"

namespace mwtest {

// The header lines of a CGI answer, split at CR LF (empty when the output
// has no header block).
std::vector<std::string> header_lines(const CgiResult& r);
// The value of header `name` ("Location"), "" when absent.
std::string header(const CgiResult& r, const std::string& name);

// The process ended normally, within the time limit, with nothing on
// standard error (where the sanitizers report).
std::vector<std::string> process_faults(const CgiResult& r);

// The output is a header block and a body (`with_headers`), or the body
// alone: Status first, only the program's own header lines, no CR, LF or
// NUL inside a header value, Content-Type text/html, and Content-Length
// equal to the body length (absent exactly when the body is empty).
std::vector<std::string> cgi_faults(const CgiResult& r, bool with_headers);

// The body is valid code page 932 text (no half character that could eat
// the quote after it) and, read as HTML, holds no element and no attribute
// that only visitor text could have brought: no <script>, <img> or <mwx>
// element, no attribute whose name starts with "on", no "<#" left over.
std::vector<std::string> markup_faults(const std::string& body);

// Error.txt (`text`) consists of whole lines, each ending in CR LF, each
// of the form "[date time] [error] [client ADDRESS] message".
std::vector<std::string> log_faults(const std::string& text, const std::string& client);
// The lines of Error.txt without their line ends.
std::vector<std::string> split_log(const std::string& text);

// Joins faults for a test message.
std::string describe(const std::vector<std::string>& faults);

}  // namespace mwtest
