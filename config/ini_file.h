// Ini files: reading one value, listing a section, and writing values in place.
//
// Rules (the same for every ini file of the system: mirelweb.ini, the
// database engine's aliases.ini):
//   * A line "[name]" opens a section; "key=value" lines hold values. Lines
//     before the first section, blank lines, lines starting with ';' and
//     lines without '=' hold nothing.
//   * Section and key names match without regard to ASCII letter case; the
//     first matching section, and in it the first matching key, count.
//   * Blanks (spaces, tabs) around a value are dropped; a value enclosed in a
//     pair of double or single quotes then loses them; at most 2047
//     characters of a value are read.
//   * Files read are text of the default code page (932) with CR LF, LF or CR
//     line ends. Files written are code page 932 text with CR LF line ends.
//   * Writing a value replaces it in place, or adds the key at the end of its
//     section, or the section at the end of the file, or creates the file;
//     every other line stays byte for byte as it was. The new file is written
//     beside the old one and renamed over it, so readers and concurrent
//     writers never see a damaged file.
//
// Paths are file names as the operating system takes them (bytes; shown in
// messages as UTF-8, the encoding of file names on the hosts).
// Failures: a missing or unreadable file reads as an empty one (missing
// values are not failures). A write that cannot be completed throws
// Mirel::Exception "<path> に書き込めません" and leaves the file unchanged.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unicode_string.h"

// An ini file loaded once, for many lookups.
class Tini_document {
 public:
  // A missing or unreadable file gives an empty document.
  static Tini_document load(const std::string& path);
  static Tini_document parse(std::string_view bytes);

  // The value of (section, key), or nothing when the file has no such key.
  std::optional<System::UnicodeString> value(std::u16string_view section, std::u16string_view key) const;
  // The keys of the first section of that name, in file order, each once
  // (first spelling); empty when the section is absent.
  std::vector<System::UnicodeString> keys(std::u16string_view section) const;
  bool has_section(std::u16string_view section) const;

 private:
  struct Entry {
    System::UnicodeString key;
    System::UnicodeString value;
  };
  struct Section {
    System::UnicodeString name;
    std::vector<Entry> entries;
  };
  std::vector<Section> sections_;
  const Section* find(std::u16string_view section) const;
};

// One value to store: (section, key) := value.
struct Tini_value {
  System::UnicodeString section;
  System::UnicodeString key;
  System::UnicodeString value;
};

// Stores all `values` into the file `path` with one replacement of the file
// (in order; a later value for the same key wins). Nothing is written when
// `values` is empty or the file already holds exactly these values. CR and LF
// in names or values become spaces, so a value can never add a line. Throws
// Mirel::Exception "<path> に書き込めません" on failure, the file unchanged.
void write_ini_values(const std::string& path, const std::vector<Tini_value>& values);

// The place of one value in an ini file.
class Iini_file {
 public:
  virtual void set_section(const System::UnicodeString& section) = 0;
  virtual void set_key(const System::UnicodeString& key) = 0;
  virtual System::UnicodeString get_section() const = 0;
  virtual System::UnicodeString get_key() const = 0;
  virtual ~Iini_file() = default;
};

template <typename T>
class Iread_ini_file {
 public:
  virtual T read(const std::string& ini_file) = 0;
  virtual ~Iread_ini_file() = default;
};

template <typename T>
class Iwrite_ini_file {
 public:
  virtual void write(const std::string& ini_file, const T& value) = 0;
  virtual ~Iwrite_ini_file() = default;
};

template <typename T>
class Tread_ini_file;
template <typename T>
class Tini_file;

// Reads the text of one (section, key), or a default value when it is absent.
template <>
class Tread_ini_file<System::UnicodeString> : public Iread_ini_file<System::UnicodeString>, public Iini_file {
 public:
  Tread_ini_file(System::UnicodeString section, System::UnicodeString key, System::UnicodeString default_value = {})
      : section_(std::move(section)), key_(std::move(key)), default_(std::move(default_value)) {}

  // Loads the file and returns the value, or the default.
  System::UnicodeString read(const std::string& ini_file) override;
  // The same from a document already loaded.
  System::UnicodeString read(const Tini_document& document) const;
  ~Tread_ini_file() override = default;

  void set_section(const System::UnicodeString& section) override { section_ = section; }
  void set_key(const System::UnicodeString& key) override { key_ = key; }
  System::UnicodeString get_section() const override { return section_; }
  System::UnicodeString get_key() const override { return key_; }
  const System::UnicodeString& get_default() const { return default_; }

 private:
  System::UnicodeString section_;
  System::UnicodeString key_;
  System::UnicodeString default_;
};

// Reads and writes the text of one (section, key).
template <>
class Tini_file<System::UnicodeString> : public Tread_ini_file<System::UnicodeString>,
                                 public Iwrite_ini_file<System::UnicodeString> {
 public:
  using Tread_ini_file<System::UnicodeString>::Tread_ini_file;
  using Tread_ini_file<System::UnicodeString>::read;
  // Stores `value` under (section, key); see write_ini_values.
  void write(const std::string& ini_file, const System::UnicodeString& value) override;
};
