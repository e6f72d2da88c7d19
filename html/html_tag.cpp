// Attribute storage, quoting and rendering of single HTML elements
// (see html_tag.h).

#include "html/html_tag.h"

namespace Mirel::MirelWeb {

UnicodeString quote_attribute_value(std::u16string_view value) {
  UnicodeString out;
  out.reserve(value.size() + 2);
  out += u'"';
  for (char16_t c : value) {
    if (c == u'"')
      out += u"&quot;";
    else
      out += c;
  }
  out += u'"';
  return out;
}

Tbasic_html_tag::Tbasic_html_tag(UnicodeString name)
    : name_(std::move(name)), attributes_(std::make_shared<std::vector<UnicodeString>>()) {}

Tbasic_html_tag::Tbasic_html_tag(const Tbasic_html_tag& other)
    : name_(other.name_),
      attributes_(std::make_shared<std::vector<UnicodeString>>(*other.attributes_)) {}

Tbasic_html_tag& Tbasic_html_tag::operator=(const Tbasic_html_tag& other) {
  // Copy the source's entries before giving up ours: safe on self-assignment.
  auto copy = std::make_shared<std::vector<UnicodeString>>(*other.attributes_);
  name_ = other.name_;
  attributes_ = std::move(copy);
  return *this;
}

void Tbasic_html_tag::set_attribute(std::u16string_view name, std::u16string_view value) {
  UnicodeString entry(name);
  entry += u'=';
  entry += quote_attribute_value(value);
  for (auto& existing : *attributes_) {
    // The entry's name is its text before the first '='.
    const std::u16string_view existing_name =
        std::u16string_view(existing).substr(0, existing.find(u'='));
    if (same_text_ascii_ci(existing_name, name)) {
      existing = std::move(entry);
      return;
    }
  }
  attributes_->push_back(std::move(entry));
}

UnicodeString Tbasic_html_tag::start_tag() const {
  UnicodeString out = u"<" + name_;
  for (const auto& entry : *attributes_) {
    out += u' ';
    out += entry;
  }
  out += u'>';
  return out;
}

UnicodeString Tbasic_html_tag::end_tag() const { return u"</" + name_ + u">"; }

Thtml_tag::Thtml_tag(UnicodeString name, UnicodeString content)
    : Tbasic_html_tag(std::move(name)), content_(std::move(content)) {}

UnicodeString Thtml_tag::to_html() const { return start_tag() + content_ + end_tag(); }

}  // namespace Mirel::MirelWeb
