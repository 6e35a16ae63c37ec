#include "CallsetConverter/Support/JsonLoading.h"

#include <simdjson.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iterator>
#include <optional>
#include <unordered_map>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Text.h"

#if JSON_DIAGNOSTICS
#error "The document walker does not maintain the parent links that JSON_DIAGNOSTICS needs"
#endif

namespace callset_converter {

JsonSelection JsonSelection::everything() {
  JsonSelection selection;
  selection.whole_ = true;
  return selection;
}

JsonSelection JsonSelection::member_names() { return {}; }

JsonSelection& JsonSelection::keep(std::initializer_list<std::string_view> path) { return select(path, everything()); }

JsonSelection& JsonSelection::select(std::initializer_list<std::string_view> path, const JsonSelection& selection) {
  JsonSelection* node = this;
  for (const std::string_view name : path) {
    if (node->whole_) return *this;
    auto found = std::find_if(node->members_.begin(), node->members_.end(),
                              [&](const auto& member) { return member.first == name; });
    if (found == node->members_.end()) {
      node->members_.emplace_back(std::string(name), JsonSelection());
      found = std::prev(node->members_.end());
    }
    node = &found->second;
  }
  if (node->whole_) return *this;
  *node = selection;
  return *this;
}

JsonSelection& JsonSelection::other_members(const JsonSelection& each) {
  other_members_ = std::make_shared<const JsonSelection>(each);
  return *this;
}

JsonSelection& JsonSelection::elements(const JsonSelection& each) {
  elements_ = std::make_shared<const JsonSelection>(each);
  return *this;
}

JsonSelection& JsonSelection::scalars() {
  scalars_ = true;
  return *this;
}

const JsonSelection* JsonSelection::member(std::string_view name) const {
  if (whole_) return this;
  for (const auto& [member_name, selection] : members_) {
    if (member_name == name) return &selection;
  }
  return other_members_.get();
}

namespace {

// Deepest nesting of arrays and objects a document may have. Caller outputs
// and mapping tables nest a dozen levels at most; far deeper documents
// would exhaust the stack when nested values are copied, so they are
// refused as invalid JSON instead.
constexpr std::size_t kMaxNesting = 1000;

// Raises the parser's kind of error, with its position, when `text` opens
// more than kMaxNesting arrays and objects inside one another (brackets
// inside strings do not count). A document is refused for its nesting
// before anything else the parser finds wrong with it: the walk below stops
// at the same bracket for a document that is valid up to there, and every
// refused document is checked with this first, so that a document with both
// faults reports its nesting.
void require_bounded_nesting(std::string_view text) {
  std::size_t depth = 0;
  std::size_t line = 0;
  std::size_t line_start = 0;
  bool in_string = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    if (c == '"') {
      in_string = true;
    } else if (c == '\n') {
      ++line;
      line_start = i + 1;
    } else if (c == ']' || c == '}') {
      if (depth > 0) --depth;
    } else if ((c == '[' || c == '{') && ++depth > kMaxNesting) {
      throw JsonDict::parse_error::create(101, nlohmann::detail::position_t{i + 1, i + 1 - line_start, line},
                                          "syntax error while parsing value - nesting deeper than " +
                                              std::to_string(kMaxNesting) + " levels is not supported",
                                          static_cast<const JsonDict*>(nullptr));
    }
  }
}

using Member = std::pair<std::string, JsonDict>;

// Objects of up to this many members find duplicates by comparing names;
// larger ones through a hash index.
constexpr std::size_t kLinearDuplicateSearch = 16;

// An ordered object of `members`, in order, where a name that occurs again
// keeps the later value at the first occurrence's place. The object's
// storage is reserved once: growing it would copy every member (its keys
// are const, so the members cannot be moved), nested values included.
JsonDict object_of(std::vector<Member>& members) {
  const std::size_t count = members.size();
  // slot[i]: the place of member i's name in the object.
  std::vector<std::size_t> slot(count);
  std::size_t places = 0;
  if (count <= kLinearDuplicateSearch) {
    for (std::size_t i = 0; i < count; ++i) {
      std::size_t j = 0;
      while (j < i && members[j].first != members[i].first) ++j;
      slot[i] = j < i ? slot[j] : places++;
    }
  } else {
    std::unordered_map<std::string_view, std::size_t> index;
    index.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const auto [found, added] = index.try_emplace(members[i].first, places);
      slot[i] = found->second;
      if (added) ++places;
    }
  }
  JsonDict object(JsonDict::value_t::object);
  auto& storage = object.get_ref<JsonDict::object_t&>();
  storage.reserve(places);
  for (std::size_t i = 0; i < count; ++i) {
    if (slot[i] == storage.size()) {
      storage.emplace_back(std::move(members[i].first), std::move(members[i].second));
    } else {
      (storage.begin() + static_cast<std::ptrdiff_t>(slot[i]))->second = std::move(members[i].second);
    }
  }
  return object;
}

// Why the fast parse refused a document (the simdjson error, or what the
// walk below found wrong), with the byte offset where it stopped when known.
// Only a document that is not valid JSON is refused, so this is thrown on
// the failure path alone.
struct Refusal {
  std::string reason;
  std::optional<std::size_t> offset;
};

// The value of a simdjson result, or a Refusal naming its error.
template <class T>
T take(simdjson::simdjson_result<T>&& result) {
  T value;
  if (const simdjson::error_code error = std::move(result).get(value); error != simdjson::SUCCESS) {
    throw Refusal{simdjson::error_message(error), std::nullopt};
  }
  return value;
}

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view without_trailing_space(std::string_view token) {
  while (!token.empty() && is_json_space(token.back())) token.remove_suffix(1);
  return token;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of the four hexadecimal digits at `at`, or -1.
long hex4(const char* at, const char* end) {
  if (end - at < 4) return -1;
  long unit = 0;
  for (int i = 0; i < 4; ++i) {
    const int digit = hex_value(at[i]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Walks the simdjson on-demand view of a document: validates every value,
// also those no reader reads, and builds what a selection names. The index
// pass before it has already checked the UTF-8, the control characters in
// strings and where each string ends; the walk checks the grammar, the
// escapes, the numbers and the literals, and the nesting depth. Strings and
// numbers are checked on their text here rather than by the parser's own
// conversions, so that unread text is never copied and an integer of any
// length keeps its digits.
class DocumentWalker {
 public:
  explicit DocumentWalker(std::string_view text) : text_(text) {}

  JsonDict root(simdjson::ondemand::document& document, const JsonSelection& selection) {
    const std::string_view token = take(document.raw_json_token());
    if (!is_container(token)) {
      // A scalar document: its one token runs to the end of the text, or
      // something follows it.
      const char* after = token.data() + token.size();
      if (after != text_.data() + text_.size()) refuse(after, "unexpected text after the document");
      return scalar(token, &selection);
    }
    simdjson::ondemand::value value = take(document.get_value());
    JsonDict root = walk(value, token, &selection, 0);
    // Where the walk stopped: beyond the last token unless text follows.
    const char* rest = nullptr;
    if (document.current_location().get(rest) == simdjson::SUCCESS) refuse(rest, "unexpected text after the document");
    return root;
  }

 private:
  using Member = std::pair<std::string, JsonDict>;

  static bool is_container(std::string_view token) {
    return !token.empty() && (token.front() == '[' || token.front() == '{');
  }

  [[noreturn]] void refuse(const char* at, const char* reason) const {
    std::optional<std::size_t> offset;
    if (at != nullptr) offset = static_cast<std::size_t>(at - text_.data());
    throw Refusal{reason, offset};
  }

  // Validates `value`, whose text begins with `token`, and builds what
  // `selection` names of it: the whole value, an object's members, or
  // nothing (nullptr: validated only, an empty result).
  JsonDict walk(simdjson::ondemand::value& value, std::string_view token, const JsonSelection* selection,
                std::size_t depth) {
    if (!is_container(token)) return scalar(token, selection);
    if (++depth > kMaxNesting) refuse(token.data(), "nesting too deep");
    const bool is_object = token.front() == '{';
    if (selection != nullptr && !selection->keeps_whole() && !is_object) {
      // A partial selection opens an array only when it says how to build
      // its elements.
      if (const JsonSelection* element = selection->element()) return array(value, element, depth);
      array(value, nullptr, depth);
      return JsonDict(JsonDict::value_t::discarded);
    }
    return is_object ? object(value, selection, depth) : array(value, selection, depth);
  }

  JsonDict array(simdjson::ondemand::value& value, const JsonSelection* selection, std::size_t depth) {
    JsonDict out = selection == nullptr ? JsonDict() : JsonDict::array();
    simdjson::ondemand::array elements = take(value.get_array());
    for (auto element_result : elements) {
      simdjson::ondemand::value element = take(std::move(element_result));
      const std::string_view token = element.raw_json_token();
      JsonDict built = walk(element, token, selection, depth);
      if (selection != nullptr) out.get_ref<JsonDict::array_t&>().push_back(std::move(built));
    }
    return out;
  }

  JsonDict object(simdjson::ondemand::value& value, const JsonSelection* selection, std::size_t depth) {
    std::vector<Member> members;
    simdjson::ondemand::object fields = take(value.get_object());
    for (auto field_result : fields) {
      simdjson::ondemand::field field = take(std::move(field_result));
      const char* name = field.key().raw();
      if (selection == nullptr) {
        string_end(name, nullptr);
      } else {
        members.emplace_back();
        string_end(name, &members.back().first);
      }
      simdjson::ondemand::value& member = field.value();
      const std::string_view token = member.raw_json_token();
      if (selection == nullptr) {
        walk(member, token, nullptr, depth);
        continue;
      }
      const JsonSelection* kept = selection->member(members.back().first);
      JsonDict built = walk(member, token, kept, depth);
      // A discarded member keeps its name; its value is only validated.
      members.back().second = kept == nullptr ? JsonDict(JsonDict::value_t::discarded) : std::move(built);
    }
    if (selection == nullptr) return JsonDict();
    return object_of(members);
  }

  // Checks the string whose text begins at `content` (after its opening
  // quote) and returns the position of its closing quote; when `out` is
  // given, appends the decoded text to it.
  const char* string_end(const char* content, std::string* out) const {
    const char* const end = text_.data() + text_.size();
    const char* at = content;
    for (;;) {
      const auto* quote = static_cast<const char*>(std::memchr(at, '"', static_cast<std::size_t>(end - at)));
      if (quote == nullptr) refuse(content, "unterminated string");
      const auto* escape = static_cast<const char*>(std::memchr(at, '\\', static_cast<std::size_t>(quote - at)));
      if (escape == nullptr) {
        if (out != nullptr) out->append(at, quote);
        return quote;
      }
      if (out != nullptr) out->append(at, escape);
      at = unescape(escape, end, out);
    }
  }

  // Checks the escape sequence at `escape` (its backslash) and returns the
  // position after it; decodes it into `out` when given.
  const char* unescape(const char* escape, const char* end, std::string* out) const {
    if (end - escape < 2) refuse(escape, "invalid escape");
    char decoded = 0;
    switch (escape[1]) {
      case '"':
      case '\\':
      case '/':
        decoded = escape[1];
        break;
      case 'b':
        decoded = '\b';
        break;
      case 'f':
        decoded = '\f';
        break;
      case 'n':
        decoded = '\n';
        break;
      case 'r':
        decoded = '\r';
        break;
      case 't':
        decoded = '\t';
        break;
      case 'u': {
        const long unit = hex4(escape + 2, end);
        if (unit < 0) refuse(escape, "invalid \\u escape");
        auto cp = static_cast<char32_t>(unit);
        const char* after = escape + 6;
        if (unit >= 0xDC00 && unit <= 0xDFFF) refuse(escape, "lone low surrogate");
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          const long low = end - after >= 2 && after[0] == '\\' && after[1] == 'u' ? hex4(after + 2, end) : -1;
          if (low < 0xDC00 || low > 0xDFFF) refuse(escape, "lone high surrogate");
          cp = 0x10000 + ((cp - 0xD800) << 10) + static_cast<char32_t>(low - 0xDC00);
          after += 6;
        }
        if (out != nullptr) append_utf8(*out, cp);
        return after;
      }
      default:
        refuse(escape, "invalid escape");
    }
    if (out != nullptr) *out += decoded;
    return escape + 2;
  }

  // A string, number or literal, from its token (its text up to the next
  // token).
  JsonDict scalar(std::string_view token, const JsonSelection* selection) const {
    const bool build = selection != nullptr && selection->keeps_scalars();
    // A scalar where a partial selection expects an object is discarded,
    // as any value a selection does not build, unless it keeps scalars.
    const JsonDict discarded(JsonDict::value_t::discarded);
    if (token.empty()) refuse(token.data(), "missing value");
    if (token.front() == '"') {
      std::string text;
      const char* quote = string_end(token.data() + 1, build ? &text : nullptr);
      const std::string_view rest(quote + 1, static_cast<std::size_t>(token.data() + token.size() - quote - 1));
      if (!without_trailing_space(rest).empty()) refuse(quote + 1, "text after a string");
      if (!build) return selection == nullptr ? JsonDict() : discarded;
      return JsonDict(std::move(text));
    }
    const std::string_view literal = without_trailing_space(token);
    JsonDict value;
    if (literal == "true") {
      value = true;
    } else if (literal == "false") {
      value = false;
    } else if (literal == "null") {
      value = nullptr;
    } else {
      value = number(literal);
    }
    if (!build) return selection == nullptr ? JsonDict() : discarded;
    return value;
  }

  // A number as the loader has always read it: an integer without a sign as
  // unsigned, one with a minus sign as signed, either beyond 64 bits as an
  // exact_integer; a number with a fraction or an exponent as the nearest
  // double, and one beyond the double range refused.
  JsonDict number(std::string_view literal) const {
    const char* const begin = literal.data();
    const char* const end = begin + literal.size();
    const char* at = begin;
    const auto digits = [&] {
      const char* first = at;
      while (at < end && *at >= '0' && *at <= '9') ++at;
      return at > first;
    };
    if (at < end && *at == '-') ++at;
    const char* integer_start = at;
    if (!digits() || (*integer_start == '0' && at - integer_start > 1)) refuse(begin, "invalid literal");
    bool is_integer = true;
    if (at < end && *at == '.') {
      ++at;
      if (!digits()) refuse(begin, "invalid number");
      is_integer = false;
    }
    if (at < end && (*at == 'e' || *at == 'E')) {
      ++at;
      if (at < end && (*at == '+' || *at == '-')) ++at;
      if (!digits()) refuse(begin, "invalid number");
      is_integer = false;
    }
    if (at != end) refuse(begin, "invalid number");
    if (is_integer) {
      if (*begin == '-') {
        std::int64_t value = 0;
        if (std::from_chars(begin, end, value).ec == std::errc()) return JsonDict(value);
      } else {
        std::uint64_t value = 0;
        if (std::from_chars(begin, end, value).ec == std::errc()) return JsonDict(value);
      }
      return exact_integer(literal);
    }
    double value = 0;
    if (std::from_chars(begin, end, value).ec == std::errc()) return JsonDict(value);
    // Out of range: a value too small for a double reads as the C library
    // reads it (zero or the nearest subnormal); one too large is refused.
    const std::string copy(literal);
    value = std::strtod(copy.c_str(), nullptr);
    if (!std::isfinite(value)) refuse(begin, "number out of range");
    return JsonDict(value);
  }

  std::string_view text_;
};

// The parser's description quotes the token it stopped in ("last read:
// '...'"), which for an unterminated string runs to the end of the text. A
// long description keeps its beginning (where and what the fault is) and its
// end (what was expected), so that a broken 50 MB file does not give a 50 MB
// message; the nested cause keeps the description whole.
std::string bounded_description(const std::string& description) {
  constexpr std::size_t kLongest = 400;
  constexpr std::size_t kHead = 240;
  constexpr std::size_t kTail = 120;
  if (description.size() <= kLongest) return description;
  const auto is_continuation = [&](std::size_t at) {
    return (static_cast<unsigned char>(description[at]) & 0xC0) == 0x80;
  };
  std::size_t head = kHead;
  while (head > 0 && is_continuation(head)) --head;
  std::size_t tail = description.size() - kTail;
  while (tail < description.size() && is_continuation(tail)) ++tail;
  return description.substr(0, head) + "..." + description.substr(tail);
}

[[noreturn]] void raise_invalid(const std::string& origin) {
  try {
    throw;
  } catch (const JsonDict::exception& e) {
    std::throw_with_nested(InvalidArgumentError(origin + " is not valid JSON: " + bounded_description(e.what())));
  }
}

// Validates `text` with the JSON library's own parser, building nothing;
// it counts the nesting as the fast parse does.
class ValidatingHandler {
 public:
  bool null() { return true; }
  bool boolean(bool /*value*/) { return true; }
  bool number_integer(JsonDict::number_integer_t /*value*/) { return true; }
  bool number_unsigned(JsonDict::number_unsigned_t /*value*/) { return true; }
  bool number_float(JsonDict::number_float_t /*value*/, const std::string& /*text*/) { return true; }
  bool string(std::string& /*value*/) { return true; }
  bool binary(JsonDict::binary_t& /*value*/) { return true; }
  bool key(std::string& /*name*/) { return true; }
  bool start_object(std::size_t /*size*/) { return ++depth_ <= kMaxNesting; }
  bool start_array(std::size_t /*size*/) { return ++depth_ <= kMaxNesting; }
  bool end_object() { return --depth_, true; }
  bool end_array() { return --depth_, true; }

  template <class Exception>
  bool parse_error(std::size_t /*position*/, const std::string& token, const Exception& error) {
    error_ = std::make_exception_ptr(error);
    // An integer too large for a double is a fault to the library's
    // parser alone: the fast parse keeps such integers exactly.
    overflow_ = error.id == 406 && token.find_first_of(".eE") == std::string::npos;
    return false;
  }

  const std::exception_ptr& error() const { return overflow_ ? no_error_ : error_; }

 private:
  std::size_t depth_ = 0;
  std::exception_ptr error_;
  std::exception_ptr no_error_;
  bool overflow_ = false;
};

// The error for a document that the fast parse refused, in the form the
// loader has always given: the JSON library's description, with its line
// and column, of the first fault in the text; a document nested too deeply
// is refused for that before anything else. Where the library finds no
// fault (a document beyond what the fast parser can index, say), the fast
// parse's own reason is given, at its position when known.
[[noreturn]] void raise_parser_error(std::string_view text, const Refusal& refusal) {
  require_bounded_nesting(text);
  ValidatingHandler handler;
  JsonDict::sax_parse(text.data(), text.data() + text.size(), &handler);
  if (handler.error()) std::rethrow_exception(handler.error());
  nlohmann::detail::position_t position{};
  if (refusal.offset) {
    const std::size_t offset = std::min(*refusal.offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const std::size_t line_start = before.rfind('\n') == std::string_view::npos ? 0 : before.rfind('\n') + 1;
    position = {offset + 1, offset + 1 - line_start,
                static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'))};
  }
  throw JsonDict::parse_error::create(101, position, "syntax error while parsing value - " + refusal.reason,
                                      static_cast<const JsonDict*>(nullptr));
}

JsonDict parse_padded(simdjson::padded_string_view padded, const std::string& origin, const JsonSelection& selection) {
  const std::string_view text(padded.data(), padded.size());
  try {
    if (text.starts_with("\xEF\xBB\xBF")) {
      // A JSON input must not carry a byte-order mark.
      throw JsonDict::parse_error::create(
          101, nlohmann::detail::position_t{1, 1, 0},
          "syntax error while parsing value - unexpected byte-order mark; expected '[', '{', or a literal",
          static_cast<const JsonDict*>(nullptr));
    }
    try {
      simdjson::ondemand::parser parser;
      simdjson::ondemand::document document = take(parser.iterate(padded));
      return DocumentWalker(text).root(document, selection);
    } catch (const Refusal& refusal) {
      raise_parser_error(text, refusal);
    }
  } catch (const JsonDict::exception&) {
    raise_invalid(origin);
  }
}

}  // namespace

JsonDict parse_json_document(std::string_view text, const std::string& origin, const JsonSelection& selection) {
  const simdjson::padded_string copy(text);
  return parse_padded(copy, origin, selection);
}

JsonDict parse_json_document(const std::string& text, const std::string& origin, const JsonSelection& selection) {
  if (text.capacity() - text.size() >= simdjson::SIMDJSON_PADDING) {
    return parse_padded(simdjson::padded_string_view(text.data(), text.size(), text.capacity()), origin, selection);
  }
  return parse_json_document(std::string_view(text), origin, selection);
}

JsonDict parse_json_file_bytes(const std::string& bytes, const std::string& path, const JsonSelection& selection) {
  try {
    return parse_json_document(bytes, path, selection);
  } catch (const InvalidArgumentError&) {
    // Bytes that are not UTF-8 are reported before any fault of the JSON.
    // A document the parser accepts never has any (its index pass checks
    // the whole text), so only a refused one needs the search.
    require_utf8(bytes, path);
    throw;
  }
}

JsonDict load_json_file(const std::string& path, const JsonSelection& selection) {
  return parse_json_file_bytes(read_file_bytes(path), path, selection);
}

}  // namespace callset_converter
