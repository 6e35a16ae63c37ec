#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace callset_converter {

// How a delimited table is written: the cell separator, the quote character
// and whether spaces right after a separator are skipped.
struct CsvDialect {
  char delimiter = ',';
  char quotechar = '"';
  bool skip_initial_space = false;
};

inline constexpr CsvDialect kTabSeparated{'\t', '"', false};

using TextRow = std::vector<std::string>;

// Reads rows of delimited text, one at a time, from UTF-8 text that is
// already decoded. Rows end at LF, CR or CR LF. A cell that begins with the
// quote character is quoted: it runs to the next quote that is not doubled,
// a doubled quote stands for one quote, and separators and line breaks
// inside belong to the cell; text after the closing quote is kept. An empty
// line is a row without cells. Text that ends inside a quoted cell ends that
// cell and its row.
class DelimitedTextReader {
 public:
  DelimitedTextReader(std::string_view text, CsvDialect dialect);

  // The next row, or nothing at the end of the text. Only the first
  // `kept_cells` cells are built; the rest of the row is passed over, so
  // that a row can be told by its first cell without the cost of the others.
  std::optional<TextRow> next_row(std::size_t kept_cells = SIZE_MAX);
  // Offset of the first byte not yet read.
  std::size_t position() const { return pos_; }

 private:
  std::string_view text_;
  CsvDialect dialect_;
  std::size_t pos_ = 0;
};

// Every row of `text`.
std::vector<TextRow> read_delimited_rows(std::string_view text, CsvDialect dialect);

// Reads `path` as UTF-8 text with a leading byte-order mark skipped and
// returns its rows. TextDecodeError for bytes that are not UTF-8; IoError
// when the file cannot be read.
std::vector<TextRow> read_delimited_file(const std::string& path, CsvDialect dialect);

// Infers the dialect of a comma-, semicolon- or tab-separated table from
// the start of its text (whole lines; a cut-off last line weakens the
// guess). The quote character is the double quote unless the sample holds
// more single-quoted than double-quoted cells. The separator is the
// candidate that splits the first row into at least two cells and splits
// the most later rows into as many; ties go to comma, then tab, then
// semicolon. Spaces after a separator are skipped when every non-empty
// cell after a separator begins with one. When no candidate splits the
// first row the result is comma, double quote and no skipping.
CsvDialect detect_csv_dialect(std::string_view sample);

// The first row of `bytes` (an empty row for empty bytes), a leading
// byte-order mark removed. The bytes the row uses must be UTF-8
// (TextDecodeError naming `origin`); the rest is not looked at.
TextRow first_row_of(std::string_view bytes, CsvDialect dialect, std::string_view origin);

// The first row of `path`, as first_row_of gives it; file-system failures
// raise IoError (FileNotFoundError for a missing file).
TextRow read_first_row(const std::string& path, CsvDialect dialect);

}  // namespace callset_converter
