#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/Models/JsonDict.h"

namespace callset_converter {

// Blank: absent (a null pointer), null, false, a number equal to zero, the
// empty string, an empty array or an empty object. Text is not trimmed.
bool is_blank(const JsonDict* value);
bool is_blank(const JsonDict& value);
inline bool is_truthy(const JsonDict* value) { return !is_blank(value); }

// The member `key` of `object`, or nullptr when `object` is not an object or
// has no such member.
const JsonDict* find_member(const JsonDict& object, std::string_view key);

// The kind name of a JSON value as messages write it: "dict", "list", "str",
// "int", "float", "bool" or "NoneType".
std::string kind_name(const JsonDict& value);

// An integer of the input that does not fit in 64 bits. It is held as its
// decimal text (a leading '-' when negative, digits as written) inside a
// binary value of its own subtype, so that every copy of it keeps every
// digit: kind_name calls it "int", scalar_text gives its digits, the writer
// writes them as a JSON number and it is never blank (it is never zero).
JsonDict exact_integer(std::string_view text);
// The decimal text of an exact_integer value; nothing for any other value.
std::optional<std::string_view> exact_integer_text(const JsonDict& value);

// The shortest decimal text that reads back as the same double, always with
// a fraction part or an exponent: 2.0, 1.5, 100.0, 1e-05, 1e+16.
std::string float_text(double value);

// Text form of a scalar: a string unchanged, an integer as its digits, any
// other number as float_text, true and false as "True" and "False", null as
// nothing. Arrays and objects give their compact JSON text.
std::optional<std::string> scalar_text(const JsonDict& value);

// The two JSON text forms the system writes. Both are pure ASCII (non-ASCII
// characters as lower-case \u escapes, surrogate pairs beyond U+FFFF), keep
// member order and end without a line break.
enum class JsonStyle {
  Indented,  // four spaces per level, one element or member per line
  Compact,   // one line, ", " and ": " separators
};
std::string to_json_text(const JsonDict& value, JsonStyle style);

// Writes JSON text as to_json_text writes it, value by value, so that a
// document that is only built to be written (a sample's result and sidecar)
// need not be built first. Each value goes where the writer stands: the
// whole text, the next element of an open array, or the member of an open
// object whose name key() gave.
class JsonTextWriter {
 public:
  // `reserve`: the room taken for the text up front.
  explicit JsonTextWriter(JsonStyle style, std::size_t reserve = 0);

  JsonTextWriter& begin_array();
  JsonTextWriter& begin_object();
  // Closes the innermost open array or object.
  JsonTextWriter& end();
  // The name of the next member of the open object.
  JsonTextWriter& key(std::string_view name);

  JsonTextWriter& value(std::string_view text);
  JsonTextWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonTextWriter& value(const std::string& text) { return value(std::string_view(text)); }
  // null when absent.
  JsonTextWriter& value(const std::optional<std::string>& text);
  JsonTextWriter& value(const std::vector<std::string>& texts);
  JsonTextWriter& value(const JsonDict& document);

  // The text written; the writer is left empty.
  std::string take() { return std::move(out_); }

 private:
  // Separator and line break before a value or member at the current level.
  void next_place();

  std::string out_;
  bool indented_;
  struct Level {
    bool object;
    std::size_t count;  // values written so far
  };
  std::vector<Level> levels_;  // the open arrays and objects, outermost first
  bool after_key_ = false;
};

// Parses `text` as one JSON document. A leading byte-order mark is not
// skipped: it makes the document invalid, and so does nesting of arrays and
// objects deeper than 1000 levels (no input needs it; it would exhaust the
// stack when nested values are copied). Invalid JSON raises
// InvalidArgumentError "<origin> is not valid JSON: <parser description>",
// with the parser's error nested as its cause.
JsonDict parse_json_document(std::string_view text, const std::string& origin);

// Reads `path` (file-system failures raise IoError), requires UTF-8
// (TextDecodeError) and parses it with parse_json_document.
JsonDict load_json_file(const std::string& path);

}  // namespace callset_converter
