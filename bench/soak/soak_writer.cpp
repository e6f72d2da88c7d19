// mirelweb-soak-writer: the library system's side of the soak test. While
// web requests read the tables, it changes them the way the library system
// does, with the project's dBASE writer:
//
//   mirelweb-soak-writer DATADIR SECONDS FIRST_NEW_ID STATEFILE [PAUSE_MS]
//
// Until SECONDS have passed it repeats, with a random pause of half to one
// and a half times PAUSE_MS (default 250) after each step: append one to three books to master.dbf (ids FIRST_NEW_ID on,
// titles "Soak book <id>", see soak_data.h), and write the next generation
// of loans into kasidasi.dbf — every other time as a new file (created anew,
// as a program that writes the whole table does), otherwise record by record
// in place in the existing file. At the end it writes STATEFILE:
//
//   books <number of books>
//   loans <id> <id> ...          (the books on loan now)
//   steps <appends> <rewrites>
//
// Exit status 0 on success, 2 for bad arguments, 1 when a table cannot be
// written.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/soak/soak_data.h"
#include "dbase/dbf.h"
#include "dbase/library_builder.h"
#include "dbase/library_schema.h"

namespace {

using namespace Mirel::Dbase;

std::vector<std::string> loan_row(const TTableWriter& w, long long id, bool on_loan) {
  std::vector<std::string> values(w.fields().size());
  values[static_cast<size_t>(w.field_index("KA_BOOKID"))] = book_id(id);
  values[static_cast<size_t>(w.field_index("KA_RIYOSYA"))] = "U" + std::to_string(id % 1000);
  values[static_cast<size_t>(w.field_index("KA_KDATE"))] = "20240401";
  // A returned loan keeps its row with a blank due date.
  values[static_cast<size_t>(w.field_index("KA_HDATE"))] = on_loan ? "20991231" : "";
  return values;
}

// Generation g of the loans, written as a new file.
void write_loans_anew(const std::string& path, const std::vector<long long>& loans) {
  auto w = TTableWriter::create(path, library_table("kasidasi.dbf").fields);
  for (long long id : loans) w->append(loan_row(*w, id, true));
  w->close();
}

// Generation g written over the existing records, one by one; rows left
// over become returned loans.
void write_loans_in_place(const std::string& path, const std::vector<long long>& loans) {
  auto w = TTableWriter::open(path);
  const uint32_t existing = w->record_count();
  for (size_t i = 0; i < loans.size(); ++i) {
    if (i < existing) w->rewrite(static_cast<uint32_t>(i), loan_row(*w, loans[i], true));
    else w->append(loan_row(*w, loans[i], true));
    w->flush();
  }
  for (uint32_t i = static_cast<uint32_t>(loans.size()); i < existing; ++i) {
    w->rewrite(i, loan_row(*w, 1, false));
    w->flush();
  }
  w->close();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: %s DATADIR SECONDS FIRST_NEW_ID STATEFILE [PAUSE_MS]\n", argv[0]);
    return 2;
  }
  const std::string data = argv[1];
  const int seconds = std::atoi(argv[2]);
  long long next_id = std::atoll(argv[3]);
  const std::string state_path = argv[4];
  std::mt19937 random(static_cast<unsigned>(::getpid()));
  const int pause_ms = argc == 6 ? std::atoi(argv[5]) : 250;
  if (seconds <= 0 || next_id <= 0 || pause_ms <= 0) return 2;
  auto pause = [&] {
    const int ms = pause_ms / 2 + static_cast<int>(random() % static_cast<unsigned>(pause_ms + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  };

  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  long long appends = 0, rewrites = 0;
  int generation = 1;
  try {
    while (std::chrono::steady_clock::now() < deadline) {
      {
        auto master = TTableWriter::open(data + "/master.dbf");
        const int n = 1 + static_cast<int>(random() % 3);
        for (int i = 0; i < n; ++i) master->append(master_row(soak::soak_book(next_id++)));
        master->close();
        ++appends;
      }
      pause();
      const auto loans = soak::loans_of_generation(generation, next_id - 1);
      if (generation % 2 == 0) write_loans_anew(data + "/kasidasi.dbf", loans);
      else write_loans_in_place(data + "/kasidasi.dbf", loans);
      ++generation;
      ++rewrites;
      pause();
    }
    std::ofstream state(state_path + ".part", std::ios::trunc);
    state << "books " << next_id - 1 << "\nloans";
    for (long long id : soak::loans_of_generation(generation - 1, next_id - 1)) state << ' ' << id;
    state << "\nsteps " << appends << ' ' << rewrites << "\n";
    state.close();
    if (!state || std::rename((state_path + ".part").c_str(), state_path.c_str()) != 0) return 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mirelweb-soak-writer: %s\n", e.what());
    return 1;
  }
  return 0;
}
