// The one exception family of the program.
//
// Every failure the program raises itself is an Exception (or a class derived
// from it): it carries a UTF-16 message meant for a librarian, and the class
// name that the last-resort error page prints. Boundaries (actions, tag
// handlers, module construction, the request as a whole) catch Exception;
// anything else that is thrown (a std::exception of the library, any other
// object) is replaced there by an Exception with a fixed message.
#pragma once

#include <exception>
#include <string>

#include "platform/unicode_string.h"

namespace Mirel {

class Exception : public std::exception {
 public:
  explicit Exception(UnicodeString message = {});
  ~Exception() override = default;

  const UnicodeString& message() const { return message_; }
  // The class name shown by the last-resort page ("Exception", "EMutexTimeout" ...).
  virtual const char* class_name() const { return "Exception"; }
  // The message as UTF-8, for diagnostics and test output.
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  UnicodeString message_;
  std::string what_;
};

// Declares a subclass that only changes the class name.
#define MIREL_DECLARE_EXCEPTION(Name, Base)                      \
  class Name : public Base {                                     \
   public:                                                       \
    using Base::Base;                                            \
    const char* class_name() const override { return #Name; }    \
  }

}  // namespace Mirel
