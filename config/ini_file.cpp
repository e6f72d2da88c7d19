// Reading ini files: the loaded document with its lookups, and the
// single-value reader and writer classes built on it.
#include "config/ini_file.h"

#include "config/file_bytes.h"
#include "config/ini_lines.h"

using Mirel::same_text_ascii_ci;
using System::UnicodeString;
using Mirel::Config::TIniLine;

Tini_document Tini_document::load(const std::string& path) {
  std::string bytes;
  Mirel::Config::read_file_bytes(path, bytes);  // failure: empty bytes, empty document
  return parse(bytes);
}

Tini_document Tini_document::parse(std::string_view bytes) {
  Tini_document doc;
  Section* current = nullptr;
  for (auto& line : Mirel::Config::scan_ini_lines(bytes)) {
    if (line.kind == TIniLine::Kind::section) {
      // A repeated section name adds nothing: lookups see the first one only.
      current = doc.find(line.name) ? nullptr : &doc.sections_.emplace_back(Section{line.name, {}});
    } else if (line.kind == TIniLine::Kind::key && current) {
      current->entries.push_back(Entry{std::move(line.name), std::move(line.value)});
    }
  }
  return doc;
}

const Tini_document::Section* Tini_document::find(std::u16string_view section) const {
  for (const auto& s : sections_)
    if (same_text_ascii_ci(s.name, section)) return &s;
  return nullptr;
}

std::optional<UnicodeString> Tini_document::value(std::u16string_view section,
                                                  std::u16string_view key) const {
  if (const Section* s = find(section))
    for (const auto& e : s->entries)
      if (same_text_ascii_ci(e.key, key)) return e.value;
  return std::nullopt;
}

std::vector<UnicodeString> Tini_document::keys(std::u16string_view section) const {
  std::vector<UnicodeString> out;
  if (const Section* s = find(section))
    for (const auto& e : s->entries) {
      bool seen = false;
      for (const auto& k : out) seen = seen || same_text_ascii_ci(k, e.key);
      if (!seen) out.push_back(e.key);
    }
  return out;
}

bool Tini_document::has_section(std::u16string_view section) const {
  return find(section) != nullptr;
}

UnicodeString Tread_ini_file<UnicodeString>::read(const std::string& ini_file) {
  return read(Tini_document::load(ini_file));
}

UnicodeString Tread_ini_file<UnicodeString>::read(const Tini_document& document) const {
  return document.value(section_, key_).value_or(default_);
}

void Tini_file<UnicodeString>::write(const std::string& ini_file, const UnicodeString& value) {
  write_ini_values(ini_file, {Tini_value{get_section(), get_key(), value}});
}
