// An HTML table of fixed width built as one string: a grid of td cells whose
// content and attributes are set one by one, plus attributes on the table
// element. Used for the echo of the search query on the list page, where the
// row count is fixed generously at construction and then lowered to the
// number of rows actually filled.
//
// Indices count from 0; a column must be below columns() and a row below the
// number of stored rows. An index outside the grid throws std::out_of_range
// (a programming error, caught as any foreign exception at the handler's
// boundary). Rendering adds no line breaks; cell contents are not escaped.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "html/html_tag.h"

namespace Mirel::MirelWeb {

class Thtmltable : public Tbasic_html_tag {
 public:
  // A "table" element with `rows` rows of `columns` empty cells, no
  // attributes anywhere; row_count() == rows.
  Thtmltable(uint32_t columns, uint32_t rows);

  void set_cell_content(uint32_t column, uint32_t row, UnicodeString text);
  void set_cell_attribute(uint32_t column, uint32_t row, std::u16string_view name,
                          std::u16string_view value);

  // Sets how many rows are rendered. Lowering keeps the stored rows (and their
  // contents) hidden; raising shows them again and appends new rows of empty
  // cells where none were stored.
  void set_row_count(uint32_t n);

  uint32_t columns() const { return columns_; }
  uint32_t row_count() const { return row_count_; }

  // <table…>, then per rendered row <tr…> + each cell's to_html() + </tr>,
  // then </table>.
  UnicodeString to_html() const override;

 private:
  void append_rows(uint32_t n);

  uint32_t columns_;
  uint32_t row_count_ = 0;
  std::vector<Thtml_tag> rows_;
  std::vector<std::vector<Thtml_tag>> cells_;
};

}  // namespace Mirel::MirelWeb
