#include "CallsetConverter/Support/Text.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

namespace {

// Decodes one code point starting at `pos`; returns its length in bytes, or
// 0 when the bytes there are not a well-formed UTF-8 sequence (overlong
// forms, surrogates and values beyond U+10FFFF included).
std::size_t decode_one(std::string_view s, std::size_t pos, char32_t& out) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned char b0 = byte(pos);
  if (b0 < 0x80) {
    out = b0;
    return 1;
  }
  std::size_t len = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (pos + len > s.size()) return 0;
  for (std::size_t i = 1; i < len; ++i) {
    const unsigned char b = byte(pos + i);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  out = cp;
  return len;
}

bool is_space(char32_t c) {
  if (c < 0x80) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D) || (c >= 0x1C && c <= 0x1F);
  }
  const auto ch = static_cast<UChar32>(c);
  if (u_charType(ch) == U_SPACE_SEPARATOR) return true;
  const UCharDirection dir = u_charDirection(ch);
  return dir == U_WHITE_SPACE_NEUTRAL || dir == U_BLOCK_SEPARATOR || dir == U_SEGMENT_SEPARATOR;
}

bool is_printable(char32_t c) {
  if (c == ' ') return true;
  switch (u_charType(static_cast<UChar32>(c))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
    case U_SPACE_SEPARATOR:
      return false;
    default:
      return true;
  }
}

std::string hex_escape(char32_t c) {
  char buf[12];
  if (c <= 0xFF) {
    std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned>(c));
  } else if (c <= 0xFFFF) {
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
  } else {
    std::snprintf(buf, sizeof buf, "\\U%08x", static_cast<unsigned>(c));
  }
  return buf;
}

bool is_ascii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::optional<std::size_t> find_invalid_utf8(std::string_view bytes) {
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < bytes.size()) {
    // Most input is ASCII: pass eight such bytes at a time.
    if (pos + 8 <= bytes.size()) {
      std::uint64_t word = 0;
      std::memcpy(&word, bytes.data() + pos, sizeof word);
      if ((word & 0x8080808080808080ULL) == 0) {
        pos += 8;
        continue;
      }
    }
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const std::size_t len = decode_one(bytes, pos, cp);
    if (len == 0) return pos;
    pos += len;
  }
  return std::nullopt;
}

void require_utf8(std::string_view bytes, std::string_view origin) {
  const auto bad = find_invalid_utf8(bytes);
  if (!bad) return;
  char byte[8];
  std::snprintf(byte, sizeof byte, "0x%02x", static_cast<unsigned>(static_cast<unsigned char>(bytes[*bad])));
  throw TextDecodeError(std::string(origin) + ": not valid UTF-8: cannot decode byte " + byte + " at offset " +
                        std::to_string(*bad));
}

std::string trim(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  char32_t cp = 0;
  while (begin < end) {
    const std::size_t len = decode_one(text, begin, cp);
    if (len == 0 || !is_space(cp)) break;
    begin += len;
  }
  while (end > begin) {
    // Step back to the start of the last code point.
    std::size_t start = end - 1;
    while (start > begin && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    const std::size_t len = decode_one(text, start, cp);
    if (len == 0 || start + len != end || !is_space(cp)) break;
    end = start;
  }
  return std::string(text.substr(begin, end - begin));
}

std::string to_lower(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  }
  std::string out;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
      .toLower(icu::Locale::getRoot())
      .toUTF8String(out);
  return out;
}

std::string to_upper(std::string_view text) {
  if (is_ascii(text)) {
    std::string out(text);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
  }
  std::string out;
  icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
      .toUpper(icu::Locale::getRoot())
      .toUTF8String(out);
  return out;
}

bool starts_with(std::string_view text, std::string_view prefix) { return text.starts_with(prefix); }
bool ends_with(std::string_view text, std::string_view suffix) { return text.ends_with(suffix); }

std::string join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

std::vector<std::string> split(std::string_view text, char separator) {
  return split(text, std::string_view(&separator, 1));
}

std::vector<std::string> split(std::string_view text, std::string_view separator) {
  if (separator.empty()) return {std::string(text)};
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t end = text.find(separator); end != std::string_view::npos; end = text.find(separator, start)) {
    pieces.emplace_back(text.substr(start, end - start));
    start = end + separator.size();
  }
  pieces.emplace_back(text.substr(start));
  return pieces;
}

std::vector<std::string> distinct_in_order(std::vector<std::string> items) {
  std::unordered_set<std::string> seen;
  std::vector<std::string> kept;
  for (auto& item : items) {
    if (seen.insert(item).second) kept.push_back(std::move(item));
  }
  return kept;
}

std::string quoted_literal(std::string_view text) {
  const bool has_single = text.find('\'') != std::string_view::npos;
  const bool has_double = text.find('"') != std::string_view::npos;
  const char quote = (has_single && !has_double) ? '"' : '\'';
  std::string out;
  out.reserve(text.size() + 2);
  out += quote;
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < text.size()) {
    const std::size_t len = decode_one(text, pos, cp);
    if (len == 0) {
      // A byte outside any UTF-8 sequence (possible only in text that never
      // passed a decoder, such as a raw command-line argument).
      out += hex_escape(static_cast<unsigned char>(text[pos]));
      ++pos;
      continue;
    }
    if (cp == static_cast<char32_t>(quote) || cp == '\\') {
      out += '\\';
      out += static_cast<char>(cp);
    } else if (cp == '\t') {
      out += "\\t";
    } else if (cp == '\n') {
      out += "\\n";
    } else if (cp == '\r') {
      out += "\\r";
    } else if (cp != 0x7F && (cp >= 0x20 && (cp < 0x7F || is_printable(cp)))) {
      out.append(text.substr(pos, len));
    } else {
      // ASCII controls, DEL and non-printable characters.
      out += hex_escape(cp);
    }
    pos += len;
  }
  out += quote;
  return out;
}

std::string quoted_literal(const std::string& text) { return quoted_literal(std::string_view(text)); }
std::string quoted_literal(const char* text) { return quoted_literal(std::string_view(text)); }

std::string quoted_literal(const std::optional<std::string>& text) {
  return text ? quoted_literal(std::string_view(*text)) : std::string("None");
}

std::string quoted_literal(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += quoted_literal(std::string_view(items[i]));
  }
  out += "]";
  return out;
}

std::string text_or_none(const std::optional<std::string>& text) { return text ? *text : std::string("None"); }

namespace {

// Characters that show nothing or move text around when displayed: the
// format category (bidirectional controls, zero-width characters, U+FEFF,
// the soft hyphen, tag characters) and the line and paragraph separators,
// which some terminals treat as line breaks.
bool is_invisible_format(char32_t cp) {
  if (cp < 0xA0) return false;
  switch (u_charType(static_cast<UChar32>(cp))) {
    case U_FORMAT_CHAR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    default:
      return false;
  }
}

std::string unicode_escape(char32_t cp) {
  char buf[12];
  if (cp <= 0xFFFF) {
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
  } else {
    std::snprintf(buf, sizeof buf, "\\U%08x", static_cast<unsigned>(cp));
  }
  return buf;
}

}  // namespace

void append_terminal_safe(std::string& out, std::string_view text) {
  // Printable ASCII, tabs and line feeds, the whole of most log lines, stay.
  const bool plain =
      std::all_of(text.begin(), text.end(), [](char c) { return (c >= 0x20 && c < 0x7F) || c == '\t' || c == '\n'; });
  if (plain) {
    out.append(text);
    return;
  }
  out.reserve(out.size() + text.size());
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < text.size()) {
    const std::size_t len = decode_one(text, pos, cp);
    if (len == 0) {
      out += hex_escape(static_cast<unsigned char>(text[pos]));
      ++pos;
      continue;
    }
    const bool control = (cp < 0x20 && cp != '\t' && cp != '\n') || (cp >= 0x7F && cp <= 0x9F);
    if (control) {
      out += hex_escape(cp);
    } else if (is_invisible_format(cp)) {
      out += unicode_escape(cp);
    } else {
      out.append(text.substr(pos, len));
    }
    pos += len;
  }
}

std::string escape_terminal_controls(std::string_view text) {
  std::string out;
  append_terminal_safe(out, text);
  return out;
}

std::string escape_line_breaks(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

std::string decode_file_name(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t pos = 0;
  char32_t cp = 0;
  while (pos < bytes.size()) {
    const std::size_t len = decode_one(bytes, pos, cp);
    if (len > 0) {
      out.append(bytes.substr(pos, len));
      pos += len;
      continue;
    }
    // U+DC00 plus the byte (0x80 to 0xFF), in UTF-8's three-byte form.
    const auto surrogate = static_cast<unsigned>(0xDC00 + static_cast<unsigned char>(bytes[pos]));
    out += static_cast<char>(0xE0 | (surrogate >> 12));
    out += static_cast<char>(0x80 | ((surrogate >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (surrogate & 0x3F));
    ++pos;
  }
  return out;
}

}  // namespace callset_converter
