// The synthetic catalogue: books made one at a time from the word lists
// with a seeded generator of our own (the standard distributions may differ
// between library versions, so they are not used), written straight through
// TTableWriter so that a million books need no more memory than a few ids.
#include "dbase/catalogue_generator.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "dbase/catalogue_words.h"
#include "dbase/library_builder.h"

namespace Mirel::Dbase {
namespace {

using namespace Words;

// splitmix64: small, fast, and the same on every platform.
class TRandom {
 public:
  explicit TRandom(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 <= result < n (n > 0).
  long long below(long long n) { return static_cast<long long>(next() % static_cast<uint64_t>(n)); }
  long long between(long long lo, long long hi) { return lo + below(hi - lo + 1); }
  // True with probability per_mille / 1000.
  bool chance(int per_mille) { return below(1000) < per_mille; }
  template <typename T>
  const T& pick(const T* items, size_t n) {
    return items[below(static_cast<long long>(n))];
  }

 private:
  uint64_t state_;
};

// Days since 1970-01-01 and back (proleptic Gregorian calendar).
long long days_from_civil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

std::string civil_text(long long z) {
  z += 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  long long y = static_cast<long long>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  y += m <= 2;
  char buf[48];
  std::snprintf(buf, sizeof(buf), "%04lld%02u%02u", y, m, d);
  return buf;
}

long long parse_day(const std::string& text) {
  bool digits = text.size() == 8 &&
                std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) {
    long long y = std::stoll(text.substr(0, 4));
    unsigned m = static_cast<unsigned>(std::stoi(text.substr(4, 2)));
    unsigned d = static_cast<unsigned>(std::stoi(text.substr(6, 2)));
    long long z = days_from_civil(y, m, d);
    if (m >= 1 && m <= 12 && d >= 1 && civil_text(z) == text) return z;
  }
  throw EDbaseError(u"日付 " + from_utf8(text) + u" は yyyymmdd 形式の日付ではありません");
}

// Titles of the information class use Latin letters, full width and half
// width, so that width folding has something to do.
const TWord kComputerNouns[] = {
    {"Ｐｙｔｈｏｎ", "パイソン"},         {"Ｃ言語", "シーゲンゴ"},
    {"ＳＱＬ", "エスキューエル"},         {"Excel", "エクセル"},
    {"Ｗｅｂデザイン", "ウェブデザイン"}, {"AI", "エーアイ"},
};

// First character (UTF-8) of a reading: the initial of a call number.
std::string initial(const std::string& kana) {
  if (kana.empty()) return {};
  unsigned char b = static_cast<unsigned char>(kana[0]);
  size_t len = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  return kana.substr(0, std::min(len, kana.size()));
}

struct TPerson {
  std::string name, kana;
};

TPerson make_person(TRandom& rng) {
  if (rng.chance(100)) {
    const TWord& f = rng.pick(kForeignNames, kForeignNameCount);
    return {f.text, f.kana};
  }
  const TWord& fam = rng.pick(kFamilyNames, kFamilyNameCount);
  const TWord& giv = rng.pick(kGivenNames, kGivenNameCount);
  // Catalogues write names with or without a full-width space.
  std::string sep = rng.chance(400) ? "\u3000" : "";
  return {fam.text + sep + giv.text, std::string(fam.kana) + "," + giv.kana};
}

const TSubject& pick_subject(TRandom& rng) {
  static const int total = [] {
    int t = 0;
    for (size_t i = 0; i < kSubjectCount; ++i) t += kSubjects[i].weight;
    return t;
  }();
  long long r = rng.below(total);
  for (size_t i = 0; i < kSubjectCount; ++i) {
    r -= kSubjects[i].weight;
    if (r < 0) return kSubjects[i];
  }
  return kSubjects[0];
}

struct TTitle {
  std::string text, kana;
};

TTitle make_title(TRandom& rng, const TSubject& subject) {
  bool computing = std::string_view(subject.ndc) == "007.6";
  auto noun = [&]() -> const TWord& {
    return computing && rng.chance(600) ? rng.pick(kComputerNouns, std::size(kComputerNouns))
                                        : rng.pick(kNouns, kNounCount);
  };
  TTitle t;
  auto add = [&](const char* text, const char* kana) {
    t.text += text;
    t.kana += kana;
  };
  switch (rng.below(5)) {
    case 0: {
      const TWord& a = rng.pick(kAdjectives, kAdjectiveCount);
      const TWord& n = noun();
      add(a.text, a.kana);
      add(n.text, n.kana);
      break;
    }
    case 1:
    case 2: {
      const TWord& a = noun();
      const TWord& b = noun();
      add(a.text, a.kana);
      if (rng.chance(700))
        add("の", "ノ");
      else
        add("と", "ト");
      add(b.text, b.kana);
      break;
    }
    case 3: {
      const TWord& a = rng.pick(kAdjectives, kAdjectiveCount);
      const TWord& b = noun();
      const TWord& c = noun();
      add(a.text, a.kana);
      add(b.text, b.kana);
      add("の", "ノ");
      add(c.text, c.kana);
      break;
    }
    default: {
      const TWord& n = noun();
      add(n.text, n.kana);
      break;
    }
  }
  if (*subject.suffix)
    add(subject.suffix, subject.suffix_kana);
  else if (rng.chance(40)) {
    if (rng.chance(500))
      add("\u3000上", " ジョウ");
    else
      add("\u3000下", " ゲ");
  }
  return t;
}

std::string isbn_text(TRandom& rng, const TPublisher& pub, int year) {
  std::string nine = std::string("4") + pub.code;
  while (nine.size() < 9) nine.push_back(static_cast<char>('0' + rng.below(10)));
  size_t code_len = std::string_view(pub.code).size();
  std::string title = nine.substr(1 + code_len);
  bool hyphens = !rng.chance(100);
  if (year >= 2007) {
    std::string twelve = "978" + nine;
    char check = isbn13_check(twelve);
    if (!hyphens) return twelve + check;
    return "978-4-" + std::string(pub.code) + "-" + title + "-" + check;
  }
  char check = isbn10_check(nine);
  if (!hyphens) return nine + check;
  return "4-" + std::string(pub.code) + "-" + title + "-" + check;
}

class TGenerator {
 public:
  TGenerator(const std::string& dir, const TCatalogueOptions& options)
      : options_(options),
        rng_(options.seed ^ 0x6D6972656C776562ull),
        today_(parse_day(options.today)) {
    if (options.books < 0 || options.books > 99999999 || options.features < 0)
      throw EDbaseError(u"蔵書数またはおすすめの数が不正です");
    std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
    TWriteOptions w;
    w.year = std::stoi(options.today.substr(0, 4));
    w.month = std::stoi(options.today.substr(4, 2));
    w.day = std::stoi(options.today.substr(6, 2));
    for (const TTableSchema& t : library_schema()) {
      std::string name = t.file;
      if (options.upper_case)
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
      writers_.push_back(TTableWriter::create(prefix + name, t.fields, w));
    }
    // Stocktaking every year on 10 March; the last one before today.
    std::string year = options.today.substr(0, 4);
    long long this_year = parse_day(year + "0310");
    stocktaking_ =
        this_year < today_ ? this_year : parse_day(std::to_string(std::stoi(year) - 1) + "0310");
    plan_accession_days();
  }

  TCatalogueSummary run() {
    write_lookups();
    for (long long i = 0; i < options_.books; ++i) write_book(i);
    write_features();
    for (auto& w : writers_) w->close();
    return summary_;
  }

 private:
  TTableWriter& table(const char* file) {
    const auto& schema = library_schema();
    for (size_t i = 0; i < schema.size(); ++i)
      if (schema[i].file == file) return *writers_[i];
    throw EDbaseError(u"テーブルがありません");
  }

  void write_lookups() {
    for (const char* name : {"skubun", "kkubun", "kounyu", "himoku", "syozai"})
      for (const auto& [code, text] : standard_lookup(name))
        table((std::string(name) + ".dbf").c_str()).append({code, text});
  }

  // Working days spread over 30 years; the last one is today, so the newest
  // arrivals are always recent. Larger catalogues use more days.
  void plan_accession_days() {
    long long first = today_ - 30 * 365;
    long long workdays = 0;
    for (long long z = first; z <= today_; ++z) workdays += weekday(z) >= 1 && weekday(z) <= 5;
    int per_mille = static_cast<int>(std::clamp<long long>(
        options_.books * 1000 / std::max<long long>(1, workdays * 3), 20, 600));
    for (long long z = first; z < today_; ++z)
      if (weekday(z) >= 1 && weekday(z) <= 5 && rng_.chance(per_mille)) days_.push_back(z);
    days_.push_back(today_);
  }

  static int weekday(long long z) { return static_cast<int>(((z + 4) % 7 + 7) % 7); }  // 0 Sunday

  long long accession_day(long long i) const {
    long long d = static_cast<long long>(days_.size());
    long long from_end = (options_.books - 1 - i) * d / std::max<long long>(1, options_.books);
    return days_[static_cast<size_t>(d - 1 - std::min(from_end, d - 1))];
  }

  void write_book(long long i) {
    TBook b;
    b.bookid = book_id(i + 1);
    long long day = accession_day(i);
    b.ukeire = civil_text(day);
    if (copy_of_) {
      // A second copy of the previous book: same description, own id.
      b = *copy_of_;
      b.bookid = book_id(i + 1);
      b.fukuid = copy_of_->bookid;
      b.ukeire = civil_text(day);
      b.naiyo.clear();
      b.memo.clear();
      table("fukuhon.dbf").append({copy_of_->bookid, "2", rng_.chance(300) ? "1" : "0"});
      copy_of_.reset();
    } else {
      describe(b, day);
      if (rng_.chance(40)) copy_of_ = b;
    }
    b.toroku = b.ukeire;
    b.kosin =
        rng_.chance(100) ? civil_text(std::min(today_, day + rng_.between(1, 400))) : b.ukeire;
    stocktake(b, day);
    b.deleted = rng_.chance(10);
    table("master.dbf").append(master_row(b), b.deleted);
    ++summary_.books;
    if (b.deleted) {
      ++summary_.deleted;
      return;
    }
    if (i >= options_.books - std::max<long long>(options_.books / 10, options_.features))
      recent_.push_back(static_cast<uint32_t>(i + 1));
    circulate(b);
  }

  void describe(TBook& b, long long day) {
    const TSubject& subject = pick_subject(rng_);
    bool picture_book = std::string_view(subject.ndc) == "726.6";
    bool local = subject.ndc[0] == 'K';
    bool reference = std::string_view(subject.ndc) == "031";
    TTitle title = make_title(rng_, subject);
    b.syomei = title.text;
    b.syokana = title.kana;
    TPerson author = make_person(rng_);
    b.chosya = author.name;
    b.chokana = author.kana;
    if (picture_book) {
      TPerson artist = make_person(rng_);
      b.chosya += " 文／" + artist.name + " 絵";
      b.chokana += "／" + artist.kana;
    } else if (rng_.chance(80)) {
      TPerson second = make_person(rng_);
      b.chosya += "／" + second.name;
      b.chokana += "／" + second.kana;
    }
    const TPublisher& pub = rng_.pick(kPublishers, kPublisherCount);
    b.syupan = pub.name;
    int accession_year = std::stoi(civil_text(day).substr(0, 4));
    int year = accession_year - static_cast<int>(rng_.chance(700) ? rng_.below(2) : rng_.below(30));
    b.syunen = std::to_string(year);
    if (!local && !rng_.chance(50)) b.isbn = isbn_text(rng_, pub, year);
    std::string init = initial(author.kana);
    b.seikyu = picture_book ? "E/" + init : std::string(subject.ndc) + "/" + init;
    b.kenmei = subject.kenmei;
    if (picture_book) {
      b.page = "32p";
      b.ookisa = rng_.chance(500) ? "27cm" : "22×27cm";
    } else {
      b.page = std::to_string(rng_.between(80, 480)) + "p";
      static const char* const sizes[] = {"19cm", "20cm", "15cm", "21cm", "26cm"};
      b.ookisa = sizes[rng_.below(std::string_view(subject.suffix).empty() ? 3 : 5)];
    }
    long long how = rng_.below(100);
    b.kounyu = how < 80 ? "01" : how < 98 ? "02" : "03";
    if (b.kounyu == "01")
      b.kingaku = std::to_string(rng_.between(50, 400) * 10);
    else if (b.kounyu == "03")
      b.kingaku = "0";
    long long kind = rng_.below(100);
    b.skubun = kind < 90 ? "01" : kind < 95 ? "02" : kind < 98 ? "03" : "04";
    b.himoku = b.skubun == "02" ? "02" : b.skubun == "03" ? "03" : "01";
    long long lending = rng_.below(100);
    b.kkubun = reference || local ? "02"
               : lending < 85     ? "01"
               : lending < 93     ? "02"
               : lending < 98     ? "03"
                                  : "04";
    b.syozai = picture_book                                    ? "002"
               : reference                                     ? "003"
               : local                                         ? "004"
               : year < accession_year - 20 || rng_.chance(30) ? "005"
                                                               : "001";
    long long edition = rng_.below(100);
    b.hansu = edition < 60 ? "初版" : edition < 90 ? "" : edition < 97 ? "第2版" : "新装版";
    if (rng_.chance(200)) {
      long long n = rng_.between(1, 3);
      for (long long k = 0; k < n; ++k) b.naiyo += rng_.pick(kSentences, kSentenceCount);
    }
    if (rng_.chance(30)) b.memo = rng_.pick(kMemos, kMemoCount);
    if (rng_.chance(30)) {
      char buf[16];
      std::snprintf(buf, sizeof(buf), "A%06lld", rng_.below(1000000));
      b.kyuid = buf;
    }
  }

  void stocktake(TBook& b, long long day) {
    if (day >= stocktaking_) return;  // not checked yet: both blank
    if (rng_.chance(3)) {
      b.tzenkai.clear();
      b.tfmsuu = std::to_string(rng_.between(1, 3));
    } else {
      b.tzenkai = civil_text(stocktaking_);
      b.tfmsuu = "0";
    }
  }

  void circulate(const TBook& b) {
    bool lendable = b.kkubun == "01" || b.kkubun == "03";
    if (!lendable || b.ukeire == options_.today) return;
    char user[16];
    if (rng_.chance(30)) {
      long long kdate = today_ - rng_.between(0, 20);
      long long hdate = kdate + (b.kkubun == "03" ? 7 : 14);
      std::snprintf(user, sizeof(user), "U%06lld", rng_.below(1000000));
      table("kasidasi.dbf").append({b.bookid, user, civil_text(kdate), civil_text(hdate), "0"});
      ++summary_.loans;
      if (rng_.chance(300)) {
        int reservations = rng_.chance(150) ? 2 : 1;
        for (int r = 1; r <= reservations; ++r) {
          std::snprintf(user, sizeof(user), "U%06lld", rng_.below(1000000));
          long long ydate = kdate + rng_.between(0, today_ - kdate);
          table("yoyaku.dbf").append({b.bookid, user, civil_text(ydate), std::to_string(r)});
          ++summary_.reservations;
        }
      }
    } else if (rng_.chance(5)) {
      // Returned, not yet cleared from the loans table.
      long long kdate = today_ - rng_.between(15, 60);
      std::snprintf(user, sizeof(user), "U%06lld", rng_.below(1000000));
      table("kasidasi.dbf").append({b.bookid, user, civil_text(kdate), "", "0"});
      ++summary_.loans;
    }
  }

  void write_features() {
    std::vector<uint32_t> chosen;
    while (static_cast<long long>(chosen.size()) < options_.features && !recent_.empty()) {
      size_t k = static_cast<size_t>(rng_.below(static_cast<long long>(recent_.size())));
      chosen.push_back(recent_[k]);
      recent_[k] = recent_.back();
      recent_.pop_back();
    }
    std::sort(chosen.begin(), chosen.end());
    for (uint32_t id : chosen) {
      table("feature.dbf")
          .append({book_id(id), civil_text(today_ - rng_.below(30)), "司書のおすすめ"});
      ++summary_.features;
    }
  }

  TCatalogueOptions options_;
  TRandom rng_;
  long long today_;
  long long stocktaking_ = 0;
  std::vector<long long> days_;
  std::vector<std::unique_ptr<TTableWriter>> writers_;
  std::optional<TBook> copy_of_;
  std::vector<uint32_t> recent_;
  TCatalogueSummary summary_;
};

}  // namespace

char isbn13_check(std::string_view first12) {
  int sum = 0;
  for (size_t i = 0; i < first12.size() && i < 12; ++i)
    sum += (first12[i] - '0') * (i % 2 == 0 ? 1 : 3);
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

char isbn10_check(std::string_view first9) {
  int sum = 0;
  for (size_t i = 0; i < first9.size() && i < 9; ++i)
    sum += (first9[i] - '0') * (10 - static_cast<int>(i));
  int check = (11 - sum % 11) % 11;
  return check == 10 ? 'X' : static_cast<char>('0' + check);
}

TCatalogueSummary generate_catalogue(const std::string& dir, const TCatalogueOptions& options) {
  return TGenerator(dir, options).run();
}

}  // namespace Mirel::Dbase
