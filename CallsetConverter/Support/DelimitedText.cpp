#include "CallsetConverter/Support/DelimitedText.h"

#include <algorithm>
#include <string_view>

#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

DelimitedTextReader::DelimitedTextReader(std::string_view text, CsvDialect dialect) : text_(text), dialect_(dialect) {}

std::optional<TextRow> DelimitedTextReader::next_row(std::size_t kept_cells) {
  if (pos_ >= text_.size()) return std::nullopt;
  enum class State { StartField, InField, InQuoted, QuoteInQuoted };
  TextRow row;
  row.reserve(8);
  std::string cell;
  State state = State::StartField;
  bool row_started = false;
  const auto end_cell = [&] {
    if (row.size() < kept_cells) row.push_back(std::move(cell));
    cell.clear();
  };
  // Characters of a cell that is not kept are not copied.
  const auto add = [&](char c) {
    if (row.size() < kept_cells) cell += c;
  };
  // From `from`, the characters up to the first that `stops` (or the end)
  // join the cell at once; returns where that run ends.
  const auto add_run = [&](std::size_t from, auto stops) {
    std::size_t end = from;
    while (end < text_.size() && !stops(text_[end])) ++end;
    if (row.size() < kept_cells) cell.append(text_.substr(from, end - from));
    return end;
  };
  const auto ends_field = [&](char c) { return c == dialect_.delimiter || c == '\n' || c == '\r'; };
  const auto ends_quoted = [&](char c) { return c == dialect_.quotechar; };
  const auto end_line = [&](std::size_t at) {
    // Consumes the line break at `at` (CR LF counts as one).
    pos_ = at + 1;
    if (text_[at] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
  };
  std::size_t i = pos_;
  for (; i < text_.size(); ++i) {
    const char c = text_[i];
    const bool line_break = c == '\n' || c == '\r';
    switch (state) {
      case State::StartField:
        if (line_break) {
          if (row_started) end_cell();
          end_line(i);
          return row;
        }
        row_started = true;
        if (c == dialect_.quotechar) {
          state = State::InQuoted;
        } else if (c == ' ' && dialect_.skip_initial_space) {
          // spaces after a separator are not part of the cell
        } else if (c == dialect_.delimiter) {
          end_cell();
        } else {
          add(c);
          state = State::InField;
        }
        break;
      case State::InField:
        if (line_break) {
          end_cell();
          end_line(i);
          return row;
        }
        if (c == dialect_.delimiter) {
          end_cell();
          state = State::StartField;
        } else {
          i = add_run(i, ends_field) - 1;
        }
        break;
      case State::InQuoted:
        if (c == dialect_.quotechar) {
          state = State::QuoteInQuoted;
        } else {
          i = add_run(i, ends_quoted) - 1;
        }
        break;
      case State::QuoteInQuoted:
        if (c == dialect_.quotechar) {
          add(c);
          state = State::InQuoted;
        } else if (c == dialect_.delimiter) {
          end_cell();
          state = State::StartField;
        } else if (line_break) {
          end_cell();
          end_line(i);
          return row;
        } else {
          add(c);
          state = State::InField;
        }
        break;
    }
  }
  // End of text without a line break: the pending cell closes the row.
  pos_ = text_.size();
  if (row_started) end_cell();
  return row;
}

std::vector<TextRow> read_delimited_rows(std::string_view text, CsvDialect dialect) {
  std::vector<TextRow> rows;
  DelimitedTextReader reader(text, dialect);
  while (auto row = reader.next_row()) rows.push_back(std::move(*row));
  return rows;
}

std::vector<TextRow> read_delimited_file(const std::string& path, CsvDialect dialect) {
  const std::string text = read_text_file(path, /*skip_bom=*/true);
  return read_delimited_rows(text, dialect);
}

namespace {

constexpr char kSeparatorCandidates[] = {',', '\t', ';'};

bool ends_cell_text(char c) { return c == ',' || c == '\t' || c == ';' || c == '\n' || c == '\r'; }

// Whether the character at `at` starts a cell: it stands at the start of a
// line, or after a separator with nothing but spaces in between.
bool opens_cell(std::string_view sample, std::size_t at) {
  while (at > 0 && sample[at - 1] == ' ') --at;
  return at == 0 || ends_cell_text(sample[at - 1]);
}

// Cells of `sample` wholly enclosed in `quote`: the quote opens a cell and
// its closing partner (a doubled quote does not close) is followed, after
// optional spaces, by a separator, a line break or the end of the sample.
std::size_t count_quoted_cells(std::string_view sample, char quote) {
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < sample.size()) {
    if (sample[i] != quote || !opens_cell(sample, i)) {
      ++i;
      continue;
    }
    std::size_t close = i + 1;
    while (close < sample.size()) {
      if (sample[close] == quote) {
        if (close + 1 < sample.size() && sample[close + 1] == quote) {
          close += 2;
          continue;
        }
        break;
      }
      ++close;
    }
    if (close >= sample.size()) break;
    std::size_t after = close + 1;
    while (after < sample.size() && sample[after] == ' ') ++after;
    if (after == sample.size() || ends_cell_text(sample[after])) {
      ++count;
      i = after;
    } else {
      ++i;
    }
  }
  return count;
}

// Whether every non-empty cell after a separator begins with a space (and
// there is at least one such cell).
bool spaces_follow_separators(const std::vector<TextRow>& rows) {
  bool any = false;
  for (const auto& row : rows) {
    for (std::size_t i = 1; i < row.size(); ++i) {
      if (row[i].empty()) continue;
      if (row[i].front() != ' ') return false;
      any = true;
    }
  }
  return any;
}

}  // namespace

CsvDialect detect_csv_dialect(std::string_view sample) {
  const char quote = count_quoted_cells(sample, '\'') > count_quoted_cells(sample, '"') ? '\'' : '"';
  std::optional<CsvDialect> best;
  // The best share so far as matching rows over compared rows.
  std::size_t best_matching = 0;
  std::size_t best_compared = 1;
  for (const char separator : kSeparatorCandidates) {
    CsvDialect dialect{separator, quote, false};
    std::vector<TextRow> rows = read_delimited_rows(sample, dialect);
    // Read again only when skipping spaces changes the dialect.
    dialect.skip_initial_space = spaces_follow_separators(rows);
    if (dialect.skip_initial_space) rows = read_delimited_rows(sample, dialect);
    std::size_t width = 0;
    std::size_t matching = 0;
    std::size_t compared = 0;
    for (const auto& row : rows) {
      if (row.empty()) continue;
      if (width == 0) {
        width = row.size();
        continue;
      }
      ++compared;
      if (row.size() == width) ++matching;
    }
    if (width < 2) continue;
    if (compared == 0) matching = compared = 1;
    if (!best || matching * best_compared > best_matching * compared) {
      best = dialect;
      best_matching = matching;
      best_compared = compared;
    }
  }
  return best.value_or(CsvDialect{',', '"', false});
}

TextRow first_row_of(std::string_view bytes, CsvDialect dialect, std::string_view origin) {
  std::string_view view = bytes;
  if (view.starts_with("\xEF\xBB\xBF")) view.remove_prefix(3);
  DelimitedTextReader reader(view, dialect);
  std::optional<TextRow> row = reader.next_row();
  require_utf8(bytes.substr(0, reader.position() + (bytes.size() - view.size())), origin);
  return row.value_or(TextRow{});
}

TextRow read_first_row(const std::string& path, CsvDialect dialect) {
  return first_row_of(read_file_bytes(path), dialect, path);
}

}  // namespace callset_converter
