#include "CallsetConverter/Support/JsonLoading.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <exception>
#include <iterator>
#include <optional>
#include <unordered_map>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Text.h"

#if JSON_DIAGNOSTICS
#error "The document builder does not maintain the parent links that JSON_DIAGNOSTICS needs"
#endif

namespace callset_converter {

JsonSelection JsonSelection::everything() {
  JsonSelection selection;
  selection.whole_ = true;
  return selection;
}

JsonSelection JsonSelection::member_names() { return {}; }

JsonSelection& JsonSelection::keep(std::initializer_list<std::string_view> path) {
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
  node->whole_ = true;
  node->members_.clear();
  return *this;
}

const JsonSelection* JsonSelection::member(std::string_view name) const {
  if (whole_) return this;
  for (const auto& [member_name, selection] : members_) {
    if (member_name == name) return &selection;
  }
  return nullptr;
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
// before anything else the parser finds wrong with it; the builder below
// stops at the same bracket for a document that is valid up to there, and
// calls this to report it, and calls it on every failure, so that a
// document with both faults reports its nesting.
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

// Receives the parser's events and builds what a selection names. Values
// outside the selection are skipped by counting their brackets only.
class DocumentBuilder {
 public:
  using number_integer_t = JsonDict::number_integer_t;
  using number_unsigned_t = JsonDict::number_unsigned_t;
  using number_float_t = JsonDict::number_float_t;
  using string_t = JsonDict::string_t;
  using binary_t = JsonDict::binary_t;

  explicit DocumentBuilder(const JsonSelection& selection) : next_(&selection) {}

  bool null() {
    return scalar([] { return JsonDict(nullptr); });
  }
  bool boolean(bool value) {
    return scalar([value] { return JsonDict(value); });
  }
  bool number_integer(number_integer_t value) {
    return scalar([value] { return JsonDict(value); });
  }
  bool number_unsigned(number_unsigned_t value) {
    return scalar([value] { return JsonDict(value); });
  }
  bool number_float(number_float_t value, const string_t& /*text*/) {
    return scalar([value] { return JsonDict(value); });
  }
  bool string(string_t& value) {
    return scalar([&value] { return JsonDict(value); });
  }
  bool binary(binary_t& value) {
    return scalar([&value] { return JsonDict(std::move(value)); });
  }

  bool start_object(std::size_t /*size*/) { return open(true); }
  bool start_array(std::size_t /*size*/) { return open(false); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }

  bool key(string_t& name) {
    if (skipped_levels_ > 0) return true;
    Frame& frame = stack_.back();
    next_ = frame.selection->member(name);
    // A discarded member keeps its name; its value is never built.
    frame.members.emplace_back(name, next_ == nullptr ? JsonDict(JsonDict::value_t::discarded) : JsonDict());
    return true;
  }

  template <class Exception>
  bool parse_error(std::size_t /*position*/, const std::string& /*token*/, const Exception& error) {
    error_ = std::make_exception_ptr(error);
    return false;
  }

  bool nesting_exceeded() const { return nesting_exceeded_; }
  const std::exception_ptr& error() const { return error_; }
  JsonDict take_root() { return std::move(root_); }

 private:
  // One array or object being built.
  struct Frame {
    bool is_object;
    // What to build of the members (objects) or elements (arrays).
    const JsonSelection* selection;
    JsonDict elements;
    std::vector<Member> members;
  };

  // What to build of the value that begins now: nullptr when it is skipped.
  const JsonSelection* selection_of_next() const {
    if (stack_.empty() || stack_.back().is_object) return next_;
    return stack_.back().selection;
  }

  template <class Make>
  bool scalar(Make make) {
    if (skipped_levels_ > 0) return true;
    const JsonSelection* selection = selection_of_next();
    if (selection == nullptr) return true;
    place(selection->keeps_whole() ? make() : JsonDict(JsonDict::value_t::discarded));
    return true;
  }

  bool open(bool is_object) {
    if (++depth_ > kMaxNesting) {
      nesting_exceeded_ = true;
      return false;
    }
    if (skipped_levels_ > 0) {
      ++skipped_levels_;
      return true;
    }
    const JsonSelection* selection = selection_of_next();
    if (selection != nullptr && !selection->keeps_whole() && !is_object) {
      // Only objects are opened by a partial selection.
      place(JsonDict(JsonDict::value_t::discarded));
      selection = nullptr;
    }
    if (selection == nullptr) {
      skipped_levels_ = 1;
      return true;
    }
    stack_.push_back(Frame{is_object, selection, is_object ? JsonDict() : JsonDict::array(), {}});
    return true;
  }

  bool close() {
    --depth_;
    if (skipped_levels_ > 0) {
      --skipped_levels_;
      return true;
    }
    Frame frame = std::move(stack_.back());
    stack_.pop_back();
    place(frame.is_object ? object_of(frame.members) : std::move(frame.elements));
    return true;
  }

  // Stores a finished value where it belongs.
  void place(JsonDict&& value) {
    if (stack_.empty()) {
      root_ = std::move(value);
    } else if (stack_.back().is_object) {
      stack_.back().members.back().second = std::move(value);
    } else {
      stack_.back().elements.get_ref<JsonDict::array_t&>().push_back(std::move(value));
    }
  }

  JsonDict root_;
  std::vector<Frame> stack_;
  // The selection for the value after the last member name (or the root).
  const JsonSelection* next_;
  std::size_t depth_ = 0;
  // Levels of the value being skipped that are still open; 0 when building.
  std::size_t skipped_levels_ = 0;
  bool nesting_exceeded_ = false;
  std::exception_ptr error_;
};

// A plain character pointer of this file's own type. The parser is
// instantiated for the iterator type it reads from; for this type the
// instantiation is local to the library, so the scanner's per-character
// calls are direct and can be inlined, instead of going through the dynamic
// linker's indirection that every shared function which might be replaced
// at load time costs. The characters read, and so every result and error
// position, are those of a plain pointer.
struct TextCursor {
  using iterator_category = std::forward_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  const char* at;

  reference operator*() const { return *at; }
  TextCursor& operator++() {
    ++at;
    return *this;
  }
  TextCursor operator++(int) { return TextCursor{at++}; }
  bool operator==(const TextCursor&) const = default;
};

// Reads a file block by block for the parser. A failed read ends the text
// early and is remembered, so that the caller does not take a document that
// was read in part for the whole.
class BlockReader {
 public:
  explicit BlockReader(int fd) : fd_(fd), buffer_(kBlockSize) {}

  // Points [next, limit) at the next block; false at the end of the text.
  bool refill(const char*& next, const char*& limit) {
    while (!done_) {
      const ssize_t got = ::read(fd_, buffer_.data(), buffer_.size());
      if (got > 0) {
        next = buffer_.data();
        limit = next + got;
        return true;
      }
      if (got < 0 && errno == EINTR) continue;
      failed_ = got < 0;
      done_ = true;
    }
    return false;
  }
  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kBlockSize = 1 << 16;

  int fd_;
  std::vector<char> buffer_;
  bool done_ = false;
  bool failed_ = false;
};

// The parser's view of a BlockReader: an input iterator over the current
// block that moves to the next one when it is compared with the end (the
// parser compares before every character it takes). Like TextCursor, a
// type of this file's own; kept to a pointer step so that reading block by
// block costs the parser no more than reading from memory.
struct BlockCursor {
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = char;

  BlockReader* reader;  // nullptr for the end
  mutable const char* next = nullptr;
  mutable const char* limit = nullptr;

  reference operator*() const { return *next; }
  BlockCursor& operator++() {
    ++next;
    return *this;
  }
  BlockCursor operator++(int) {
    BlockCursor before = *this;
    ++next;
    return before;
  }
  // Whether this cursor has run out of text; the end cursor always has.
  bool operator==(const BlockCursor& /*end*/) const {
    return next == limit && (reader == nullptr || !reader->refill(next, limit));
  }
};

// Closes a descriptor when the function that opened it returns or fails.
struct DescriptorCloser {
  int fd;
  ~DescriptorCloser() { ::close(fd); }
};

// The common case of a readable regular file holding valid JSON, parsed
// while it is read, so that the file is never held whole. Nothing when the
// file is of another kind (a pipe is read once, whole), cannot be opened or
// read, or does not parse: the caller then loads it the whole-text way,
// which reports each fault as it always does.
std::optional<JsonDict> parse_file_in_blocks(const std::string& path, const JsonSelection& selection) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  const DescriptorCloser closer{fd};
  BlockReader reader(fd);
  BlockCursor begin{&reader};
  // The parser would pass over a byte-order mark, which a JSON input must
  // not carry; a text that begins with its first byte is never valid.
  if (begin == BlockCursor{nullptr} || *begin == '\xEF') return std::nullopt;
  DocumentBuilder builder(selection);
  if (!JsonDict::sax_parse(begin, BlockCursor{nullptr}, &builder) || reader.failed()) {
    return std::nullopt;
  }
  return builder.take_root();
}

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

}  // namespace

JsonDict parse_json_document(std::string_view text, const std::string& origin, const JsonSelection& selection) {
  try {
    if (text.starts_with("\xEF\xBB\xBF")) {
      // The parser would skip a byte-order mark; a JSON input must not carry one.
      throw JsonDict::parse_error::create(
          101, nlohmann::detail::position_t{1, 1, 0},
          "syntax error while parsing value - unexpected byte-order mark; expected '[', '{', or a literal",
          static_cast<const JsonDict*>(nullptr));
    }
    DocumentBuilder builder(selection);
    const TextCursor begin{text.data()};
    const TextCursor end{text.data() + text.size()};
    if (JsonDict::sax_parse(begin, end, &builder)) return builder.take_root();
    require_bounded_nesting(text);
    if (builder.error()) std::rethrow_exception(builder.error());
    // The builder stopped for nesting the scan above did not find; report it
    // without a position rather than build the document.
    throw JsonDict::parse_error::create(101, nlohmann::detail::position_t{},
                                        "syntax error while parsing value - nesting deeper than " +
                                            std::to_string(kMaxNesting) + " levels is not supported",
                                        static_cast<const JsonDict*>(nullptr));
  } catch (const JsonDict::exception&) {
    raise_invalid(origin);
  }
}

JsonDict load_json_file(const std::string& path, const JsonSelection& selection) {
  if (std::optional<JsonDict> root = parse_file_in_blocks(path, selection)) return std::move(*root);
  // A fault, or a file that cannot be read block by block: read it whole
  // and report what is wrong. Bytes that are not UTF-8 come first; a
  // document the parser accepts never has any, since the parser allows
  // nothing but ASCII outside strings and checks every multi-byte sequence
  // inside them by the same rules, so they need no search on success.
  const std::string bytes = read_file_bytes(path);
  require_utf8(bytes, path);
  return parse_json_document(bytes, path, selection);
}

}  // namespace callset_converter
