// Single request parameters: a name and a typed value that encode themselves
// as one "NAME=value" pair of a query string. The leaves fix the parameter
// names the program uses on the wire; Tmwrequests (mwrequests.h) reads them
// from a request, and renderers build single leaves to encode one value into a
// link (a book's BOOKID, an author's CHOSYA).
//
// encode(): the name as it is, '=', then the value as text (signed or unsigned
// decimal, or the text itself) converted to the default code page and
// percent-encoded by url_encode. The name is never encoded. Value objects;
// nothing here throws except for allocation failure.
#pragma once

#include <utility>

#include "platform/unicode_string.h"
#include "platform/url_codec.h"

namespace Mirel::MirelWeb {

// Anything that can be written as part of a query string.
class Iencodable {
 public:
  virtual UnicodeString encode() const = 0;
  virtual ~Iencodable() = default;
};

// The value of a parameter as the text that is percent-encoded.
inline UnicodeString parameter_text(int value) { return int_to_text(value); }
inline UnicodeString parameter_text(unsigned int value) {
  return int_to_text(static_cast<long long>(value));
}
inline const UnicodeString& parameter_text(const UnicodeString& value) { return value; }

template <class T>
class Tmwrequest : public Iencodable {
 public:
  Tmwrequest(UnicodeString name, T value) : name_(std::move(name)), value_(std::move(value)) {}

  UnicodeString encode() const override {
    return name_ + u'=' + url_encode(std::u16string_view(parameter_text(value_)));
  }
  ~Tmwrequest() override = default;
  virtual void rename(const UnicodeString& name) { name_ = name; }
  virtual void assign(const UnicodeString& name, const T& value) {
    rename(name);
    value_ = value;
  }

  const UnicodeString& name() const { return name_; }
  const T& value() const { return value_; }
  void set_value(const T& value) { value_ = value; }

 private:
  UnicodeString name_;
  T value_;
};

// The three instantiations the program uses live in mwrequest.cpp.
extern template class Tmwrequest<int>;
extern template class Tmwrequest<unsigned int>;
extern template class Tmwrequest<UnicodeString>;

class Tmwreq_status : public Tmwrequest<int> {
 public:
  explicit Tmwreq_status(int value = 0) : Tmwrequest(u"STATUS", value) {}
};

class Tmwreq_page : public Tmwrequest<unsigned int> {
 public:
  explicit Tmwreq_page(unsigned int value = 0) : Tmwrequest(u"PAGENUM", value) {}
};

class Tmwreq_string : public Tmwrequest<UnicodeString> {
 public:
  Tmwreq_string(UnicodeString name, UnicodeString value)
      : Tmwrequest(std::move(name), std::move(value)) {}
};

// Text parameters; each fixes its name and defaults to the empty text.
#define MW_DECLARE_STRING_PARAMETER(Class, Name)                                    \
  class Class : public Tmwreq_string {                                              \
   public:                                                                          \
    explicit Class(UnicodeString value = {}) : Tmwreq_string(Name, std::move(value)) {} \
  }

MW_DECLARE_STRING_PARAMETER(Tmwreq_bookid, u"BOOKID");
MW_DECLARE_STRING_PARAMETER(Tmwreq_syomei, u"SYOMEI");
MW_DECLARE_STRING_PARAMETER(Tmwreq_chosya, u"CHOSYA");
MW_DECLARE_STRING_PARAMETER(Tmwreq_syupan, u"SYUPAN");
MW_DECLARE_STRING_PARAMETER(Tmwreq_isbn, u"ISBN");
MW_DECLARE_STRING_PARAMETER(Tmwreq_kenmei, u"KENMEI");
MW_DECLARE_STRING_PARAMETER(Tmwreq_order_field, u"ORDER");
MW_DECLARE_STRING_PARAMETER(Tmwreq_order_kind, u"ORDERKIND");

#undef MW_DECLARE_STRING_PARAMETER

}  // namespace Mirel::MirelWeb
