// Code objects of the catalogue search component: a location (Tkubun) and a
// lending class (Tkkubun), each a code with its name as the library's code
// tables give them. The search object hands them out for the current hit;
// the recommended-books source creates and fills its own with set_code.
// Held through std::shared_ptr; nothing here throws.
#pragma once

#include "platform/unicode_string.h"

namespace Mirelsearch_tlb {

using Mirel::UnicodeString;

// A location ("category"): get_Value is its name (SY_SYOZAI of syozai.dbf),
// empty when the code has none.
class Ikubun {
 public:
  virtual ~Ikubun() = default;
  virtual void set_code(const UnicodeString& code, const UnicodeString& name) = 0;
  virtual UnicodeString get_code() const = 0;
  virtual UnicodeString get_Value() const = 0;
};

class Tkubun : public Ikubun {
 public:
  void set_code(const UnicodeString& code, const UnicodeString& name) override {
    code_ = code;
    name_ = name;
  }
  UnicodeString get_code() const override { return code_; }
  UnicodeString get_Value() const override { return name_; }

 private:
  UnicodeString code_, name_;
};

// A lending class (KK_KKNAME of kkubun.dbf for the book's MS_KKUBUN).
// get_is_kinsi: lending is forbidden when the class name contains the
// character 禁 (U+7981), as in 禁帯出 or 貸出禁止; the librarians name such
// classes that way. A class without a name never forbids lending.
class Ikkubun {
 public:
  virtual ~Ikkubun() = default;
  virtual void set_code(const UnicodeString& code, const UnicodeString& name) = 0;
  virtual UnicodeString get_code() const = 0;
  virtual UnicodeString get_name() const = 0;
  virtual bool get_is_kinsi() const = 0;
};

class Tkkubun : public Ikkubun {
 public:
  void set_code(const UnicodeString& code, const UnicodeString& name) override {
    code_ = code;
    name_ = name;
  }
  UnicodeString get_code() const override { return code_; }
  UnicodeString get_name() const override { return name_; }
  bool get_is_kinsi() const override { return name_.find(u'\u7981') != UnicodeString::npos; }

 private:
  UnicodeString code_, name_;
};

}  // namespace Mirelsearch_tlb
