#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace callset_converter {

// Text is held as UTF-8 in std::string throughout the system.

// Offset of the first byte that does not belong to a well-formed UTF-8
// sequence, or nothing when the whole text is valid UTF-8.
std::optional<std::size_t> find_invalid_utf8(std::string_view bytes);

// Throws TextDecodeError naming `origin` and the offending byte when `bytes`
// is not valid UTF-8.
void require_utf8(std::string_view bytes, std::string_view origin);

// Removes surrounding whitespace. Whitespace is Unicode whitespace (the
// characters with a whitespace bidirectional class or the space-separator
// category), so a non-breaking space pasted from a spreadsheet is trimmed.
std::string trim(std::string_view text);

// Unicode-aware case mapping (full mappings, root locale).
std::string to_lower(std::string_view text);
std::string to_upper(std::string_view text);

bool starts_with(std::string_view text, std::string_view prefix);
bool ends_with(std::string_view text, std::string_view suffix);
std::string join(const std::vector<std::string>& items, std::string_view separator);
// The pieces of `text` between its `separator` characters, as written:
// empty pieces included, so join(split(t, c), c) gives t back.
std::vector<std::string> split(std::string_view text, char separator);
// The same for a separator of several characters; an empty one gives the
// whole text as one piece.
std::vector<std::string> split(std::string_view text, std::string_view separator);
// `items` in order with each repeat left out, in one pass.
std::vector<std::string> distinct_in_order(std::vector<std::string> items);

// The quoted literal: text between single quotes (double quotes when the
// text holds a single quote and no double quote), with backslash escapes for
// the backslash, the enclosing quote, tab, line feed and carriage return,
// and hexadecimal escapes for every other non-printable character. Printable
// non-ASCII characters are kept as they are.
std::string quoted_literal(std::string_view text);
std::string quoted_literal(const std::string& text);
std::string quoted_literal(const char* text);
// An absent value is written as None.
std::string quoted_literal(const std::optional<std::string>& text);
// A list is written as "[" + the items' literals joined by ", " + "]".
std::string quoted_literal(const std::vector<std::string>& items);

// An absent value as None, any other text unchanged (the %s rendering).
std::string text_or_none(const std::optional<std::string>& text);

// `text` made safe to write to a terminal: every control character other
// than tab and line feed (the C0 controls, DEL and the C1 controls U+0080 to
// U+009F) is written as a visible escape \xNN of its code point, and so is
// every byte that is not part of well-formed UTF-8. The invisible format
// characters (Unicode's format category: the bidirectional marks, embeddings,
// overrides and isolates, zero-width space and joiners, the word joiner,
// U+FEFF, the soft hyphen, the tag characters) and the line and paragraph
// separators U+2028 and U+2029 are written as \uNNNN (\UNNNNNNNN above
// U+FFFF): they would reorder a line, or make "CYP2D6" followed by a
// zero-width space look like CYP2D6. All else is kept, so a message without
// such characters comes out unchanged.
std::string escape_terminal_controls(std::string_view text);
// The same text appended to `out`.
void append_terminal_safe(std::string& out, std::string_view text);

// `text` with each line feed written as \n and each carriage return as \r,
// so that a value placed in a log or error line cannot start a line of its
// own that reads like another record.
std::string escape_line_breaks(std::string_view text);

// Bytes from the file system (a file name) as text: each well-formed UTF-8
// sequence is kept, and each byte that is not part of one (a surrogate code
// point is not well-formed) becomes the lone surrogate U+DC80 to U+DCFF of
// that byte, written in the three-byte form the JSON writer turns into
// \udcXX; nothing after such a byte is lost.
std::string decode_file_name(std::string_view bytes);

// Each line of `text` with its number, line ends ("\n", "\r\n") removed.
template <typename Visit>
void for_each_line(std::string_view text, Visit&& visit) {
  std::size_t number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (line.ends_with('\r')) line.remove_suffix(1);
    visit(++number, line);
    start = end + 1;
  }
}

}  // namespace callset_converter
