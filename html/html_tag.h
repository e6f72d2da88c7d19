// HTML elements built as text: a tag name, an ordered list of attributes and,
// for Thtml_tag, a raw content. Every piece of generated markup with
// attributes (links, table cells, the lending-status box) goes through these
// classes so that attribute values are quoted in one place.
//
// Attribute values are written in double quotes; a double quote inside a
// value is written as "&quot;" so the value cannot end early and inject
// further attributes. Nothing else is escaped: '&', '<', '>' and '\'' in
// values, and the whole content, are emitted exactly as given (the content is
// trusted markup or record text by design). No line breaks are added.
//
// Copies are deep: an element made from another, or assigned from it, gets
// its own attribute list, so setting an attribute on one never changes the
// other. Nothing here throws except for allocation failure.
#pragma once

#include <memory>
#include <utility>
#include <string_view>
#include <vector>

#include "platform/unicode_string.h"

namespace Mirel::MirelWeb {

class Ihtml_tag {
 public:
  virtual UnicodeString to_html() const = 0;
  virtual ~Ihtml_tag() = default;
};

class Tbasic_html_tag : public Ihtml_tag {
 public:
  explicit Tbasic_html_tag(UnicodeString name);
  Tbasic_html_tag(const Tbasic_html_tag& other);
  Tbasic_html_tag& operator=(const Tbasic_html_tag& other);
  ~Tbasic_html_tag() override = default;

  // Stores name="value". An existing entry with the same name, compared
  // without regard to ASCII letter case, is rewritten in place (with the name
  // as passed now); otherwise the entry is appended. An empty value gives
  // name="" ; there is no way to remove an attribute.
  void set_attribute(std::u16string_view name, std::u16string_view value);

  // "<name" + " entry" for each attribute in order + ">".
  UnicodeString start_tag() const;
  // "</name>".
  UnicodeString end_tag() const;

  const UnicodeString& name() const { return name_; }
  // Entries of the form name="value", in the order each name was first set.
  const std::vector<UnicodeString>& attributes() const { return *attributes_; }

 private:
  UnicodeString name_;
  std::shared_ptr<std::vector<UnicodeString>> attributes_;
};

class Thtml_tag : public Tbasic_html_tag {
 public:
  explicit Thtml_tag(UnicodeString name, UnicodeString content = {});

  void set_content(UnicodeString text) { content_ = std::move(text); }
  const UnicodeString& content() const { return content_; }

  // start_tag() + content + end_tag(); both tags even when content is empty.
  UnicodeString to_html() const override;

 private:
  UnicodeString content_;
};

// The attribute value as written between the tags' quotes: '"' becomes
// "&quot;", everything else is kept. Exposed for the few places that write
// an attribute by hand.
UnicodeString quote_attribute_value(std::u16string_view value);

}  // namespace Mirel::MirelWeb
