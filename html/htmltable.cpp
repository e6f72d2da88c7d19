// Storage and rendering of the HTML table builder (see htmltable.h). Rows and
// cells are copies of one prototype element each; copies never share their
// attribute lists, so attributes set on one cell stay on that cell.

#include "html/htmltable.h"

namespace Mirel::MirelWeb {

Thtmltable::Thtmltable(uint32_t columns, uint32_t rows)
    : Tbasic_html_tag(u"table"), columns_(columns) {
  append_rows(rows);
  row_count_ = rows;
}

void Thtmltable::append_rows(uint32_t n) {
  const Thtml_tag row(u"tr");
  const Thtml_tag cell(u"td");
  for (uint32_t i = 0; i < n; ++i) {
    rows_.push_back(row);
    cells_.emplace_back(columns_, cell);
  }
}

void Thtmltable::set_cell_content(uint32_t column, uint32_t row, UnicodeString text) {
  cells_.at(row).at(column).set_content(std::move(text));
}

void Thtmltable::set_cell_attribute(uint32_t column, uint32_t row, std::u16string_view name,
                                    std::u16string_view value) {
  cells_.at(row).at(column).set_attribute(name, value);
}

void Thtmltable::set_row_count(uint32_t n) {
  if (n > rows_.size()) append_rows(n - static_cast<uint32_t>(rows_.size()));
  row_count_ = n;
}

UnicodeString Thtmltable::to_html() const {
  UnicodeString out = start_tag();
  for (uint32_t i = 0; i < row_count_; ++i) {
    out += rows_[i].start_tag();
    for (const auto& cell : cells_[i]) out += cell.to_html();
    out += rows_[i].end_tag();
  }
  out += end_tag();
  return out;
}

}  // namespace Mirel::MirelWeb
