#include "CallsetConverter/Support/Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "CallsetConverter/Support/JsonLoading.h"

namespace callset_converter {

namespace {

// The binary subtype that marks an exact_integer value; the system reads no
// binary JSON, so no other binary value ever carries it.
constexpr std::uint8_t kExactIntegerSubtype = 'I';

}  // namespace

JsonDict exact_integer(std::string_view text) {
  return JsonDict::binary(JsonDict::binary_t::container_type(text.begin(), text.end()), kExactIntegerSubtype);
}

std::optional<std::string_view> exact_integer_text(const JsonDict& value) {
  if (!value.is_binary()) return std::nullopt;
  const auto& bytes = value.get_binary();
  if (!bytes.has_subtype() || bytes.subtype() != kExactIntegerSubtype) return std::nullopt;
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool is_blank(const JsonDict* value) { return value == nullptr || is_blank(*value); }

bool is_blank(const JsonDict& value) {
  switch (value.type()) {
    case JsonDict::value_t::null:
    case JsonDict::value_t::discarded:
      return true;
    case JsonDict::value_t::boolean:
      return !value.get<bool>();
    case JsonDict::value_t::number_integer:
      return value.get<std::int64_t>() == 0;
    case JsonDict::value_t::number_unsigned:
      return value.get<std::uint64_t>() == 0;
    case JsonDict::value_t::number_float:
      return value.get<double>() == 0.0;
    case JsonDict::value_t::string:
      return value.get_ref<const std::string&>().empty();
    case JsonDict::value_t::array:
    case JsonDict::value_t::object:
    case JsonDict::value_t::binary:
      return value.empty();
  }
  return false;
}

const JsonDict* find_member(const JsonDict& object, std::string_view key) {
  if (!object.is_object()) return nullptr;
  const auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::string kind_name(const JsonDict& value) {
  switch (value.type()) {
    case JsonDict::value_t::object:
      return "dict";
    case JsonDict::value_t::array:
      return "list";
    case JsonDict::value_t::string:
      return "str";
    case JsonDict::value_t::number_integer:
    case JsonDict::value_t::number_unsigned:
      return "int";
    case JsonDict::value_t::number_float:
      return "float";
    case JsonDict::value_t::boolean:
      return "bool";
    case JsonDict::value_t::binary:
      return exact_integer_text(value) ? "int" : "bytes";
    case JsonDict::value_t::null:
    case JsonDict::value_t::discarded:
      break;
  }
  return "NoneType";
}

std::string float_text(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  // Shortest round-trip digits in scientific form, e.g. "1.5e+16".
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
  const std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));
  const std::size_t epos = sci.find('e');
  std::string_view mantissa = sci.substr(0, epos);
  const int exponent = std::atoi(std::string(sci.substr(epos + 1)).c_str());
  std::string out;
  if (!mantissa.empty() && mantissa.front() == '-') {
    out += '-';
    mantissa.remove_prefix(1);
  }
  std::string digits;
  for (const char c : mantissa) {
    if (c != '.') digits += c;
  }
  if (exponent < -4 || exponent >= 16) {
    out += digits[0];
    if (digits.size() > 1) {
      out += '.';
      out.append(digits, 1, std::string::npos);
    }
    char exp[16];
    std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += exp;
  } else if (exponent >= 0) {
    const auto int_digits = static_cast<std::size_t>(exponent) + 1;
    if (digits.size() <= int_digits) {
      out += digits;
      out.append(int_digits - digits.size(), '0');
      out += ".0";
    } else {
      out.append(digits, 0, int_digits);
      out += '.';
      out += std::string_view(digits).substr(int_digits);
    }
  } else {
    out += "0.";
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out += digits;
  }
  return out;
}

std::optional<std::string> scalar_text(const JsonDict& value) {
  switch (value.type()) {
    case JsonDict::value_t::null:
    case JsonDict::value_t::discarded:
      return std::nullopt;
    case JsonDict::value_t::string:
      return value.get<std::string>();
    case JsonDict::value_t::number_integer:
      return std::to_string(value.get<std::int64_t>());
    case JsonDict::value_t::number_unsigned:
      return std::to_string(value.get<std::uint64_t>());
    case JsonDict::value_t::number_float:
      return float_text(value.get<double>());
    case JsonDict::value_t::boolean:
      return value.get<bool>() ? "True" : "False";
    case JsonDict::value_t::binary:
      if (const auto digits = exact_integer_text(value)) return std::string(*digits);
      [[fallthrough]];
    default:
      return to_json_text(value, JsonStyle::Compact);
  }
}

namespace {

void append_hex4(std::string& out, unsigned unit) {
  static const char* const digits = "0123456789abcdef";
  out += "\\u";
  out += digits[(unit >> 12) & 0xF];
  out += digits[(unit >> 8) & 0xF];
  out += digits[(unit >> 4) & 0xF];
  out += digits[unit & 0xF];
}

void append_string(std::string& out, std::string_view text) {
  out += '"';
  std::size_t pos = 0;
  const std::size_t size = text.size();
  while (pos < size) {
    // A run of characters written as they are goes in at once.
    const std::size_t run_start = pos;
    while (pos < size) {
      const auto plain = static_cast<unsigned char>(text[pos]);
      if (plain < 0x20 || plain >= 0x7F || plain == '"' || plain == '\\') break;
      ++pos;
    }
    out.append(text, run_start, pos - run_start);
    if (pos == size) break;
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c < 0x80) {
      switch (c) {
        case '"':
          out += "\\\"";
          break;
        case '\\':
          out += "\\\\";
          break;
        case '\b':
          out += "\\b";
          break;
        case '\f':
          out += "\\f";
          break;
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          // DEL is a control character too.
          if (c < 0x20 || c == 0x7F) {
            append_hex4(out, c);
          } else {
            out += static_cast<char>(c);
          }
      }
      ++pos;
      continue;
    }
    // Multi-byte UTF-8 sequence: decode and escape as UTF-16 units. Bytes
    // that do not form a sequence are written as their own code point so
    // the output stays ASCII whatever the input held.
    std::size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    char32_t cp = 0;
    if (len == 1 || pos + len > size) {
      cp = c, len = 1;
    } else {
      cp = c & (0xFF >> (len + 1));
      for (std::size_t i = 1; i < len; ++i) cp = (cp << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    }
    if (cp >= 0x10000) {
      const char32_t v = cp - 0x10000;
      append_hex4(out, 0xD800 + static_cast<unsigned>(v >> 10));
      append_hex4(out, 0xDC00 + static_cast<unsigned>(v & 0x3FF));
    } else {
      append_hex4(out, static_cast<unsigned>(cp));
    }
    pos += len;
  }
  out += '"';
}

void append_scalar(std::string& out, const JsonDict& value) {
  switch (value.type()) {
    case JsonDict::value_t::string:
      append_string(out, value.get_ref<const std::string&>());
      break;
    case JsonDict::value_t::boolean:
      out += value.get<bool>() ? "true" : "false";
      break;
    case JsonDict::value_t::number_integer:
      out += std::to_string(value.get<std::int64_t>());
      break;
    case JsonDict::value_t::number_unsigned:
      out += std::to_string(value.get<std::uint64_t>());
      break;
    case JsonDict::value_t::number_float: {
      const double d = value.get<double>();
      if (std::isnan(d)) {
        out += "NaN";
      } else if (std::isinf(d)) {
        out += d < 0 ? "-Infinity" : "Infinity";
      } else {
        out += float_text(d);
      }
      break;
    }
    case JsonDict::value_t::binary:
      if (const auto digits = exact_integer_text(value)) {
        out += *digits;
        break;
      }
      [[fallthrough]];
    default:
      out += "null";
  }
}

// One open array or object while writing a document; the writer keeps its
// own stack so that documents of any depth are written without recursion.
struct Frame {
  const JsonDict* node;
  std::size_t next;
};

void newline_indent(std::string& out, std::size_t depth) {
  out += '\n';
  out.append(depth * 4, ' ');
}

}  // namespace

JsonTextWriter::JsonTextWriter(JsonStyle style, std::size_t reserve) : indented_(style == JsonStyle::Indented) {
  out_.reserve(reserve);
}

void JsonTextWriter::next_place() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (levels_.empty()) return;
  if (levels_.back().count++ > 0) out_ += indented_ ? "," : ", ";
  if (indented_) newline_indent(out_, levels_.size());
}

JsonTextWriter& JsonTextWriter::begin_array() {
  next_place();
  out_ += '[';
  levels_.push_back({false, 0});
  return *this;
}

JsonTextWriter& JsonTextWriter::begin_object() {
  next_place();
  out_ += '{';
  levels_.push_back({true, 0});
  return *this;
}

JsonTextWriter& JsonTextWriter::end() {
  const Level level = levels_.back();
  levels_.pop_back();
  // An empty one closes on its line: [] or {}.
  if (indented_ && level.count > 0) newline_indent(out_, levels_.size());
  out_ += level.object ? '}' : ']';
  return *this;
}

JsonTextWriter& JsonTextWriter::key(std::string_view name) {
  next_place();
  append_string(out_, name);
  out_ += ": ";
  after_key_ = true;
  return *this;
}

JsonTextWriter& JsonTextWriter::value(std::string_view text) {
  next_place();
  append_string(out_, text);
  return *this;
}

JsonTextWriter& JsonTextWriter::value(const std::optional<std::string>& text) {
  if (text) return value(std::string_view(*text));
  next_place();
  out_ += "null";
  return *this;
}

JsonTextWriter& JsonTextWriter::value(const std::vector<std::string>& texts) {
  begin_array();
  for (const auto& text : texts) value(std::string_view(text));
  return end();
}

JsonTextWriter& JsonTextWriter::value(const JsonDict& document) {
  std::vector<Frame> stack;
  // Writes `node`: scalars at once, arrays and objects by opening a frame
  // whose elements the loop below writes one at a time.
  const auto open = [&](const JsonDict& node) {
    if (node.is_array() || node.is_object()) {
      if (node.is_array()) {
        begin_array();
      } else {
        begin_object();
      }
      stack.push_back(Frame{&node, 0});
      return;
    }
    next_place();
    append_scalar(out_, node);
  };
  open(document);
  while (!stack.empty()) {
    Frame& frame = stack.back();
    const JsonDict& node = *frame.node;
    if (frame.next == node.size()) {
      end();
      stack.pop_back();
      continue;
    }
    const std::size_t index = frame.next++;
    if (node.is_array()) {
      open(node.get_ref<const JsonDict::array_t&>()[index]);
    } else {
      // The ordered object is a vector of members underneath.
      const auto& members =
          static_cast<const std::vector<JsonDict::object_t::value_type>&>(node.get_ref<const JsonDict::object_t&>());
      key(members[index].first);
      open(members[index].second);
    }
  }
  return *this;
}

std::string to_json_text(const JsonDict& value, JsonStyle style) {
  // A document of a few genes takes a few kilobytes: room for one at once
  // rather than by repeated doubling.
  JsonTextWriter writer(style, (value.is_array() || value.is_object()) && !value.empty() ? 4096 : 0);
  writer.value(value);
  return writer.take();
}

JsonDict parse_json_document(std::string_view text, const std::string& origin) {
  return parse_json_document(text, origin, JsonSelection::everything());
}

JsonDict load_json_file(const std::string& path) { return load_json_file(path, JsonSelection::everything()); }

}  // namespace callset_converter
