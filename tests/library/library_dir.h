// A throw-away library installation for one test: a scratch directory with
// aliases.ini (alias MirelWin -> data/), the program directory of the
// database engine pointed at it, and small dBASE tables written with the
// project's own writer.
#pragma once

#include <string>
#include <vector>

#include "database/database.h"
#include "dbase/dbf.h"
#include "scratch_dir.h"

class LibraryDir {
 public:
  LibraryDir() {
    std::filesystem::create_directories(data());
    std::ofstream(dir_.path() + "aliases.ini") << "[Aliases]\r\nMirelWin=data\r\nOther=data\r\n";
    Mirel::Database::set_program_directory(dir_.path());
  }

  // Where the tables live, with a trailing '/'.
  std::string data() const { return dir_.path() + "data/"; }
  // The scratch directory itself, also the place of the lock file.
  const std::string& root() const { return dir_.path(); }

  // Writes `file` with `fields` and `rows` (UTF-8 values in field order).
  void table(const std::string& file, const std::vector<Mirel::Dbase::TFieldDef>& fields,
             const std::vector<std::vector<std::string>>& rows) const {
    auto writer = Mirel::Dbase::TTableWriter::create(data() + file, fields);
    for (const auto& row : rows) writer->append(row);
    writer->close();
  }

 private:
  ScratchDir dir_;
};
