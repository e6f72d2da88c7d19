#include <gtest/gtest.h>

#include <functional>

#include "html/html_tag.h"

namespace Mirel::MirelWeb {
namespace {

TEST(HtmlTag, RendersExactly) {
  struct Case {
    const char* what;
    std::function<void(Thtml_tag&)> build;
    UnicodeString name;
    UnicodeString expected;
  };
  const Case cases[] = {
      {"class on a div", [](Thtml_tag& t) { t.set_content(u"貸出可"); t.set_attribute(u"class", u"enabled"); },
       u"div", u"<div class=\"enabled\">貸出可</div>"},
      {"spaces in content", [](Thtml_tag& t) { t.set_content(u" = "); t.set_attribute(u"class", u"query_equal"); },
       u"td", u"<td class=\"query_equal\"> = </td>"},
      {"nothing set", [](Thtml_tag&) {}, u"td", u"<td></td>"},
      {"replacement without letter case",
       [](Thtml_tag& t) { t.set_attribute(u"class", u"a"); t.set_attribute(u"CLASS", u"b"); },
       u"td", u"<td CLASS=\"b\"></td>"},
      {"empty value", [](Thtml_tag& t) { t.set_attribute(u"title", u""); }, u"td", u"<td title=\"\"></td>"},
      // A quote inside a value must not end the value.
      {"double quote", [](Thtml_tag& t) { t.set_attribute(u"title", u"a\"b"); }, u"td",
       u"<td title=\"a&quot;b\"></td>"},
      {"injection attempt", [](Thtml_tag& t) { t.set_attribute(u"href", u"x\" onclick=\"y"); }, u"a",
       u"<a href=\"x&quot; onclick=&quot;y\"></a>"},
      {"markup passes unchanged",
       [](Thtml_tag& t) { t.set_attribute(u"href", u"/l?A=1&B=<'>"); t.set_content(u"<b>&amp;</b>"); },
       u"a", u"<a href=\"/l?A=1&B=<'>\"><b>&amp;</b></a>"},
  };
  for (const auto& c : cases) {
    Thtml_tag tag(c.name);
    c.build(tag);
    EXPECT_EQ(tag.to_html(), c.expected) << c.what;
  }
}

TEST(HtmlTag, AttributesKeepTheOrderOfTheirFirstSetting) {
  Thtml_tag tag(u"td", u"x");
  tag.set_attribute(u"class", u"c1");
  tag.set_attribute(u"title", u"t");
  tag.set_attribute(u"id", u"i");
  tag.set_attribute(u"Title", u"t2");
  tag.set_attribute(u"CLASS", u"");
  EXPECT_EQ(tag.attributes().size(), 3u);
  EXPECT_EQ(tag.start_tag(), u"<td CLASS=\"\" Title=\"t2\" id=\"i\">");
  EXPECT_EQ(tag.end_tag(), u"</td>");
}

TEST(HtmlTag, ANameThatIsOnlyAPrefixIsADifferentAttribute) {
  Thtml_tag tag(u"td");
  tag.set_attribute(u"data", u"1");
  tag.set_attribute(u"data-x", u"2");
  tag.set_attribute(u"dat", u"3");
  EXPECT_EQ(tag.start_tag(), u"<td data=\"1\" data-x=\"2\" dat=\"3\">");
}

TEST(HtmlTag, CopiesDoNotShareAttributes) {
  Thtml_tag original(u"td", u"o");
  original.set_attribute(u"class", u"a");

  Thtml_tag copy(original);
  copy.set_attribute(u"class", u"b");
  copy.set_attribute(u"title", u"t");
  copy.set_content(u"c");
  EXPECT_EQ(original.to_html(), u"<td class=\"a\">o</td>");
  EXPECT_EQ(copy.to_html(), u"<td class=\"b\" title=\"t\">c</td>");

  Thtml_tag assigned(u"div");
  assigned.set_attribute(u"id", u"gone");
  assigned = original;
  EXPECT_EQ(assigned.to_html(), u"<td class=\"a\">o</td>");
  assigned.set_attribute(u"class", u"z");
  original.set_attribute(u"id", u"i");
  EXPECT_EQ(original.to_html(), u"<td class=\"a\" id=\"i\">o</td>");
  EXPECT_EQ(assigned.to_html(), u"<td class=\"z\">o</td>");

  const Thtml_tag& self = assigned;
  assigned = self;
  EXPECT_EQ(assigned.to_html(), u"<td class=\"z\">o</td>");

  Thtml_tag moved(std::move(copy));
  EXPECT_EQ(moved.to_html(), u"<td class=\"b\" title=\"t\">c</td>");
}

}  // namespace
}  // namespace Mirel::MirelWeb
