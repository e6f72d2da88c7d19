// The default code page and UTF-8 are converted without iconv; these tests
// hold the converters to what glibc iconv gives, byte for byte, through the
// same bad-input loop the program used before: every single byte and byte
// pair, every UTF-16 unit, the surrogate cases, and seeded random strings.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/exception.h"
#include "platform/unicode_string.h"

using namespace Mirel;

namespace {

// The reference: iconv with the replacement rules of unicode_string.h
// (one U+FFFD or '?' per rejected byte or unit, a pair skipped whole, one
// replacement for a sequence cut off at the end).
class IconvReference {
 public:
  explicit IconvReference(const char* codepage)
      : dec_(iconv_open("UTF-16LE", codepage)), enc_(iconv_open(codepage, "UTF-16LE")) {}
  ~IconvReference() {
    if (ok()) {
      iconv_close(dec_);
      iconv_close(enc_);
    }
  }
  bool ok() const {
    return dec_ != reinterpret_cast<iconv_t>(-1) && enc_ != reinterpret_cast<iconv_t>(-1);
  }

  UnicodeString decode(std::string_view bytes) {
    iconv(dec_, nullptr, nullptr, nullptr, nullptr);
    UnicodeString out;
    char* in = const_cast<char*>(bytes.data());
    size_t in_left = bytes.size();
    while (in_left > 0) {
      char16_t buf[64];
      char* dst = reinterpret_cast<char*>(buf);
      size_t dst_left = sizeof buf;
      size_t r = iconv(dec_, &in, &in_left, &dst, &dst_left);
      const int err = errno;
      out.append(buf, (sizeof buf - dst_left) / sizeof(char16_t));
      if (r != static_cast<size_t>(-1)) break;
      if (err == E2BIG) continue;
      out += u'\uFFFD';
      if (err == EINVAL) break;
      ++in;
      --in_left;
      iconv(dec_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

  std::string encode(std::u16string_view text) {
    iconv(enc_, nullptr, nullptr, nullptr, nullptr);
    std::string out;
    char* in = reinterpret_cast<char*>(const_cast<char16_t*>(text.data()));
    size_t in_left = text.size() * sizeof(char16_t);
    while (in_left > 0) {
      char buf[256];
      char* dst = buf;
      size_t dst_left = sizeof buf;
      size_t r = iconv(enc_, &in, &in_left, &dst, &dst_left);
      const int err = errno;
      out.append(buf, sizeof buf - dst_left);
      if (r != static_cast<size_t>(-1)) break;
      if (err == E2BIG) continue;
      out += '?';
      size_t skip = 2;
      if (in_left >= 4) {
        char16_t hi, lo;
        std::memcpy(&hi, in, 2);
        std::memcpy(&lo, in + 2, 2);
        if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) skip = 4;
      }
      if (err == EINVAL || skip > in_left) break;
      in += skip;
      in_left -= skip;
      iconv(enc_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t dec_, enc_;
};

std::string hex(std::string_view s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    std::snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  return out;
}

std::string hex(std::u16string_view s) {
  std::string out;
  char buf[8];
  for (char16_t c : s) {
    std::snprintf(buf, sizeof buf, "%04X ", static_cast<unsigned>(c));
    out += buf;
  }
  return out;
}

struct Codec {
  const char* name;
  UnicodeString (*decode)(std::string_view);
  std::string (*encode)(std::u16string_view);
};

const Codec kCodecs[] = {
    {"CP932", from_ansi, to_ansi},
    {"UTF-8", from_utf8, to_utf8},
};

class AgainstIconv : public ::testing::TestWithParam<Codec> {
 protected:
  void SetUp() override {
    reference_ = std::make_unique<IconvReference>(GetParam().name);
    ASSERT_TRUE(reference_->ok()) << "iconv lacks " << GetParam().name;
  }
  // Compares one input, counting mismatches and reporting the first few.
  void check_decode(const std::string& bytes) {
    const UnicodeString want = reference_->decode(bytes);
    const UnicodeString got = GetParam().decode(bytes);
    if (got != want && ++mismatches_ <= 5)
      ADD_FAILURE() << GetParam().name << " decode " << hex(bytes) << ": got " << hex(got)
                    << "want " << hex(want);
  }
  void check_encode(const UnicodeString& text) {
    const std::string want = reference_->encode(text);
    const std::string got = GetParam().encode(text);
    if (got != want && ++mismatches_ <= 5)
      ADD_FAILURE() << GetParam().name << " encode " << hex(text) << ": got " << hex(got) << "want "
                    << hex(want);
  }
  void TearDown() override { EXPECT_EQ(mismatches_, 0); }

  std::unique_ptr<IconvReference> reference_;
  int mismatches_ = 0;
};

TEST_P(AgainstIconv, EveryByteAndBytePairAloneAndFollowed) {
  for (int a = 0; a < 256; ++a) {
    const std::string one(1, static_cast<char>(a));
    check_decode(one);
    check_decode(one + "A");
    for (int b = 0; b < 256; ++b) {
      const std::string two = one + static_cast<char>(b);
      check_decode(two);
      check_decode(two + "\x82\xA0");
    }
  }
}

TEST_P(AgainstIconv, EveryThreeByteSequenceWithAUtf8LeadByte) {
  // Three-byte UTF-8 sequences (and what code page 932 makes of the same
  // bytes): lead E0..EF with every second and a spread of third bytes.
  for (int a = 0xE0; a <= 0xEF; ++a)
    for (int b = 0; b < 256; ++b)
      for (int c : {0x00, 0x41, 0x7F, 0x80, 0x9F, 0xA0, 0xBF, 0xC0, 0xE3, 0xFF}) {
        const std::string s{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
        check_decode(s);
      }
}

TEST_P(AgainstIconv, FourByteAndLongerSequences) {
  for (int a = 0xF0; a <= 0xFF; ++a) {
    for (int b : {0x80, 0x8F, 0x90, 0xBF, 0x41, 0xC0})
      for (int c : {0x80, 0xBF, 0x41})
        for (int d : {0x80, 0xBF, 0x41, -1}) {
          std::string s{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
          if (d >= 0) s += static_cast<char>(d);
          check_decode(s);
        }
    // The retired five- and six-byte forms, whole, cut off and followed.
    for (size_t continuation = 1; continuation <= 6; ++continuation) {
      const std::string s =
          std::string(1, static_cast<char>(a)) + std::string(continuation, '\x80');
      check_decode(s);
      check_decode(s + "A");
    }
  }
}

TEST_P(AgainstIconv, EveryUtf16UnitAloneAndBetweenCharacters) {
  for (int u = 0; u < 0x10000; ++u) {
    const char16_t c = static_cast<char16_t>(u);
    check_encode(UnicodeString(1, c));
    check_encode(UnicodeString(u"あ") + c + u"A");
  }
}

TEST_P(AgainstIconv, SurrogatesPairedLoneAndCutOff) {
  const UnicodeString cases[] = {
      u"\U0001F600",                                          // a pair
      UnicodeString(u"a") + char16_t(0xD83D),                 // high at the end
      UnicodeString(1, char16_t(0xDE00)) + u"b",              // lone low
      UnicodeString(1, char16_t(0xD83D)) + u"c",              // high before a non-surrogate
      UnicodeString(2, char16_t(0xD83D)) + char16_t(0xDE00),  // high, then a pair
      UnicodeString(1, char16_t(0xDBFF)) + char16_t(0xDFFF),  // the last pair
  };
  for (const auto& text : cases) check_encode(text);
}

TEST_P(AgainstIconv, SeededRandomStrings) {
  std::mt19937 rng(932);
  // Bytes that matter at boundaries, mixed with uniform ones.
  const unsigned char edges[] = {0x00, 0x41, 0x5C, 0x7E, 0x7F, 0x80, 0x81, 0x9F, 0xA0,
                                 0xA1, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF,
                                 0xF0, 0xF4, 0xF5, 0xF8, 0xFC, 0xFD, 0xFF, 0x40, 0x82};
  for (int i = 0; i < 20000; ++i) {
    std::string s(rng() % 12 + 1, '\0');
    for (char& c : s) c = static_cast<char>(rng() % 2 ? edges[rng() % sizeof edges] : rng() % 256);
    check_decode(s);
  }
  const char16_t units[] = {0x0041, 0x00A5, 0x00E9, 0x203E, 0x3042, 0x30A2, 0x4E00, 0x9FA0,
                            0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xF8F0, 0xFF5E, 0xFF61,
                            0xFFE5, 0xFFFD, 0xFFFF, 0x2460, 0x2225, 0x301C, 0xFF0D, 0x0000};
  for (int i = 0; i < 20000; ++i) {
    UnicodeString t(rng() % 8 + 1, u'\0');
    for (char16_t& c : t)
      c = rng() % 2 ? units[rng() % (sizeof units / sizeof units[0])]
                    : static_cast<char16_t>(rng() % 0x10000);
    check_encode(t);
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, AgainstIconv, ::testing::ValuesIn(kCodecs), [](const auto& info) {
  return std::string(info.param.name[0] == 'C' ? "Cp932" : "Utf8");
});

TEST(CodePageNames, TheDefaultCodePageAndUtf8ByNameMatchTheirShortHands) {
  const std::string bytes = "\x90\x7D\x8F\x91 \xE3\x81\x82 \x81";
  EXPECT_EQ(from_codepage(bytes, "CP932"), from_ansi(bytes));
  EXPECT_EQ(from_codepage(bytes, "cp932"), from_ansi(bytes));
  EXPECT_EQ(from_codepage(bytes, "UTF-8"), from_utf8(bytes));
  EXPECT_EQ(from_codepage(bytes, "utf8"), from_utf8(bytes));
  const UnicodeString text = u"図書 \u00e9 \U0001F600";
  EXPECT_EQ(to_codepage(text, "cp932"), to_ansi(text));
  EXPECT_EQ(to_codepage(text, "UTF-8"), to_utf8(text));
  // Other code pages still go through iconv.
  EXPECT_EQ(from_codepage("caf\xE9", "CP1252"), u"caf\u00e9");
  EXPECT_THROW(from_codepage("x", "NO-SUCH-CODEPAGE"), Exception);
}

TEST(CodePageExamples, TheRulesOnReadableCases) {
  struct Case {
    std::string bytes;
    UnicodeString ansi, utf8;
  };
  const Case cases[] = {
      {"\x82\xA0", u"あ", u"\uFFFD\uFFFD"},
      {"\x5C\x7E", u"\\~", u"\\~"},
      {"\x81\x7F", u"\uFFFD\x7F", u"\uFFFD\x7F"},      // a pair iconv rejects: resume at the trail
      {"\xE3\x81", u"\u7E3A", u"\uFFFD"},              // UTF-8 cut off at the end
      {"\xC0\xAF", u"\uFF80\uFF6F", u"\uFFFD\uFFFD"},  // overlong UTF-8
      {"\xB1", u"\uFF71", u"\uFFFD"},                  // half-width katakana
  };
  for (const auto& c : cases) {
    EXPECT_EQ(from_ansi(c.bytes), c.ansi) << hex(c.bytes);
    EXPECT_EQ(from_utf8(c.bytes), c.utf8) << hex(c.bytes);
  }
  EXPECT_EQ(to_ansi(u"\uFF71\u3042"), "\xB1\x82\xA0");
  EXPECT_EQ(to_utf8(UnicodeString(1, char16_t(0xDC00))), "?");
}

}  // namespace
