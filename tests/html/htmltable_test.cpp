#include <gtest/gtest.h>

#include <stdexcept>

#include "html/htmltable.h"

namespace Mirel::MirelWeb {
namespace {

// Fills row `row` the way the query echo does.
void echo_row(Thtmltable& table, uint32_t row, const UnicodeString& caption,
              const UnicodeString& value) {
  table.set_cell_content(0, row, caption);
  table.set_cell_content(1, row, u" = ");
  table.set_cell_content(2, row, value);
  table.set_cell_attribute(0, row, u"class", u"query_caption");
  table.set_cell_attribute(1, row, u"class", u"query_equal");
  table.set_cell_attribute(2, row, u"class", u"query_key");
}

TEST(HtmlTable, RendersTheQueryEcho) {
  Thtmltable table(3, 5);
  table.set_attribute(u"border", u"0");
  echo_row(table, 0, u"書名", u"猫");
  table.set_row_count(1);
  EXPECT_EQ(table.to_html(),
            u"<table border=\"0\"><tr><td class=\"query_caption\">書名</td>"
            u"<td class=\"query_equal\"> = </td><td class=\"query_key\">猫</td></tr></table>");
}

TEST(HtmlTable, NewTableHasEmptyCells) {
  EXPECT_EQ(Thtmltable(2, 2).to_html(),
            u"<table><tr><td></td><td></td></tr><tr><td></td><td></td></tr></table>");
  EXPECT_EQ(Thtmltable(0, 1).to_html(), u"<table><tr></tr></table>");
  Thtmltable none(3, 0);
  none.set_attribute(u"border", u"0");
  EXPECT_EQ(none.to_html(), u"<table border=\"0\"></table>");
}

TEST(HtmlTable, LoweredRowsComeBackWithTheirContents) {
  Thtmltable table(1, 3);
  table.set_cell_content(0, 0, u"a");
  table.set_cell_content(0, 1, u"b");
  table.set_cell_attribute(0, 2, u"class", u"c");
  table.set_row_count(1);
  EXPECT_EQ(table.row_count(), 1u);
  EXPECT_EQ(table.to_html(), u"<table><tr><td>a</td></tr></table>");
  table.set_row_count(0);
  EXPECT_EQ(table.to_html(), u"<table></table>");
  table.set_row_count(3);
  EXPECT_EQ(table.to_html(),
            u"<table><tr><td>a</td></tr><tr><td>b</td></tr><tr><td class=\"c\"></td></tr></table>");
}

TEST(HtmlTable, RowsBeyondTheConstructedOnesAreEmpty) {
  Thtmltable table(3, 1);
  echo_row(table, 0, u"著者名", u"<b>");
  table.set_row_count(0);
  table.set_row_count(3);
  EXPECT_EQ(table.to_html(),
            u"<table><tr><td class=\"query_caption\">著者名</td><td class=\"query_equal\"> = </td>"
            u"<td class=\"query_key\"><b></td></tr>"
            u"<tr><td></td><td></td><td></td></tr><tr><td></td><td></td><td></td></tr></table>");
  // The new rows are cells of their own too.
  table.set_cell_attribute(1, 2, u"id", u"x");
  table.set_cell_content(2, 1, u"y");
  EXPECT_EQ(table.to_html(),
            u"<table><tr><td class=\"query_caption\">著者名</td><td class=\"query_equal\"> = </td>"
            u"<td class=\"query_key\"><b></td></tr>"
            u"<tr><td></td><td></td><td>y</td></tr><tr><td></td><td id=\"x\"></td><td></td></tr></table>");
}

TEST(HtmlTable, CellAttributesStayOnTheirCell) {
  Thtmltable table(2, 2);
  table.set_cell_attribute(1, 0, u"class", u"only");
  table.set_cell_attribute(1, 0, u"title", u"q\"q");
  EXPECT_EQ(table.to_html(),
            u"<table><tr><td></td><td class=\"only\" title=\"q&quot;q\"></td></tr>"
            u"<tr><td></td><td></td></tr></table>");

  Thtmltable copy(table);
  copy.set_cell_attribute(0, 1, u"class", u"copy");
  EXPECT_EQ(table.to_html(),
            u"<table><tr><td></td><td class=\"only\" title=\"q&quot;q\"></td></tr>"
            u"<tr><td></td><td></td></tr></table>");
}

TEST(HtmlTable, IndicesOutsideTheGridThrow) {
  Thtmltable table(2, 1);
  EXPECT_THROW(table.set_cell_content(2, 0, u"x"), std::out_of_range);
  EXPECT_THROW(table.set_cell_attribute(0, 1, u"a", u"b"), std::out_of_range);
  // A hidden row is still stored and may be written.
  table.set_row_count(0);
  EXPECT_NO_THROW(table.set_cell_content(1, 0, u"x"));
}

}  // namespace
}  // namespace Mirel::MirelWeb
