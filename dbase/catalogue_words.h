// Word lists of the synthetic catalogue (private to the generator): each
// word with its reading in katakana, so that titles and authors come with
// consistent readings.
#pragma once

#include <cstddef>

namespace Mirel::Dbase::Words {

struct TWord {
  const char* text;
  const char* kana;
};

struct TSubject {
  const char* ndc;     // classification number of the call number
  const char* kenmei;  // subject heading
  const char* suffix;  // typical title ending for the class ("" for fiction)
  const char* suffix_kana;
  int weight;  // relative share of the collection
};

struct TPublisher {
  const char* name;
  const char* code;  // ISBN publisher prefix
};

extern const TWord kNouns[];
extern const size_t kNounCount;
extern const TWord kAdjectives[];
extern const size_t kAdjectiveCount;
extern const TWord kFamilyNames[];
extern const size_t kFamilyNameCount;
extern const TWord kGivenNames[];
extern const size_t kGivenNameCount;
extern const TWord kForeignNames[];
extern const size_t kForeignNameCount;
extern const TSubject kSubjects[];
extern const size_t kSubjectCount;
extern const TPublisher kPublishers[];
extern const size_t kPublisherCount;
extern const char* const kMemos[];
extern const size_t kMemoCount;
extern const char* const kSentences[];
extern const size_t kSentenceCount;

}  // namespace Mirel::Dbase::Words
