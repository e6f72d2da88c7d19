// The other forms of a record field: ISBN-13 and ISBN-10 with their check
// digits, the accession date in Japanese and as an RFC 3339 time, and the
// edges of the escapings that the end-to-end tests do not reach.
#include <gtest/gtest.h>

#include "platform/exception.h"
#include "render/field_forms.h"

using namespace Mirel;
using namespace Mirel::MirelWeb;

TEST(FieldForms, IsbnBothWays) {
  const struct {
    const char16_t* field;
    const char* isbn13;
    const char* isbn10;
  } cases[] = {
      {u"978-4-00-310101-8", "9784003101018", "4003101014"},
      {u"4-00-310101-4", "9784003101018", "4003101014"},
      {u"ISBN-13: 978 4003101018", "9784003101018", "4003101014"},
      {u"ISBN4-10-101003-x", "9784101010038", "410101003X"},
      {u"979-10-0000-001-5", "9791000000015", ""},
      {u"", "", ""},
      {u"4-00-310101-5", "", ""},          // wrong check digit
      {u"978-4-00-310101-9", "", ""},      // wrong check digit
      {u"977-4-00-310101-5", "", ""},      // not a book prefix
      {u"40031010X4", "", ""},             // X only as the last character
      {u"4003101014 4101010013", "", ""},  // two numbers
  };
  for (const auto& c : cases) {
    EXPECT_EQ(to_utf8(isbn13_of(c.field)), c.isbn13) << to_utf8(c.field);
    EXPECT_EQ(to_utf8(isbn10_of(c.field)), c.isbn10) << to_utf8(c.field);
  }
}

TEST(FieldForms, AccessionDates) {
  EXPECT_EQ(japanese_date(u"20030114"), u"2003年1月14日");
  EXPECT_EQ(japanese_date(u"20240229"), u"2024年2月29日");
  for (const char16_t* kept : {u"", u"20230229", u"20031301", u"2003011", u"2003-1-1"})
    EXPECT_EQ(japanese_date(kept), kept);
  const std::string day = to_utf8(rfc3339_day(u"20030114"));
  EXPECT_EQ(day.substr(0, 19), "2003-01-14T00:00:00");
  EXPECT_EQ(day.size(), 25u) << day;  // and a +hh:mm offset
  EXPECT_EQ(rfc3339_day(u"20230229"), u"");
  EXPECT_EQ(today_yyyymmdd().size(), 8u);
}

TEST(FieldForms, EscapeEdges) {
  EXPECT_EQ(escape_field(u"a\tb\nc", Tfield_escape::html), u"a\tb\nc");
  EXPECT_EQ(escape_field(u"a\tb\nc", Tfield_escape::attr), u"a&#9;b&#10;c");
  // XML 1.0 has no place for other controls or lone surrogates; pairs stay.
  EXPECT_EQ(escape_field(u"a\x01\xFFFF\xD800z\xD842\xDFB7", Tfield_escape::xml), u"az\xD842\xDFB7");
  EXPECT_EQ(escape_field(u"</script>\x2028\x01", Tfield_escape::json), u"\\u003c/script\\u003e\\u2028\\u0001");
  EXPECT_EQ(escape_field(u"図 a~", Tfield_escape::url), u"%E5%9B%B3%20a~");
  EXPECT_EQ(parse_field_escape(u"Json"), Tfield_escape::json);
  EXPECT_EQ(parse_field_escape(u""), Tfield_escape::none);
  EXPECT_THROW(parse_field_escape(u"sql"), Exception);
}
