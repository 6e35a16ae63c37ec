#pragma once

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "CallsetConverter/Models/JsonDict.h"

namespace callset_converter {

// The parts of a JSON document that a reader looks at. Loading with a
// selection validates the whole document exactly as a full load does (same
// parser, same errors), but builds only what the selection names, so the
// bulk of a large input that no reader reads (PharmCAT's drug annotations
// and variant lists, say) is validated where it lies and never copied into
// values.
//
// A selection is a tree of member names below the root. An object at a
// point of the tree lists every member, in file order, with the later of two
// duplicate members at the first one's place, as a full load does; the
// value of a member is built in full when the selection keeps it whole,
// opened the same way when the selection names members below it (or opens
// every other member, other_members), and otherwise a discarded value
// (JsonDict::value_t::discarded), which is blank, has the kind name
// "NoneType" and is present for find_member. A value at a point of the tree
// that is not an object (a root array, say) is likewise a discarded value,
// unless the point opens arrays (elements) or builds scalars (scalars).
class JsonSelection {
 public:
  // The whole document, exactly as a full load builds it.
  static JsonSelection everything();
  // The root object's member names; every value discarded. Add members to
  // keep with keep().
  static JsonSelection member_names();

  // Also builds the whole value found by following `path`, member names
  // from the root (an empty path keeps the whole document).
  JsonSelection& keep(std::initializer_list<std::string_view> path);
  // Builds the value found by following `path` as `selection` says, in
  // place of what this selection named there (nothing changes below a point
  // kept whole).
  JsonSelection& select(std::initializer_list<std::string_view> path, const JsonSelection& selection);
  // Builds every member of an object at this point that the selection does
  // not name as `each` says, rather than discarding it.
  JsonSelection& other_members(const JsonSelection& each);
  // Builds an array at this point, each element as `each` says, rather
  // than discarding it.
  JsonSelection& elements(const JsonSelection& each);
  // Builds a string, number or literal at this point rather than
  // discarding it, so that its kind and value can be told.
  JsonSelection& scalars();

  bool keeps_whole() const { return whole_; }
  bool keeps_scalars() const { return whole_ || scalars_; }
  // What to build of the member `name` of an object at this point: nullptr
  // when its value is discarded.
  const JsonSelection* member(std::string_view name) const;
  // What to build of each element of an array at this point: nullptr when
  // the array is discarded.
  const JsonSelection* element() const { return whole_ ? this : elements_.get(); }

 private:
  bool whole_ = false;
  bool scalars_ = false;
  std::vector<std::pair<std::string, JsonSelection>> members_;
  // Shared, never changed once made: a selection is copied as a value.
  std::shared_ptr<const JsonSelection> other_members_;
  std::shared_ptr<const JsonSelection> elements_;
};

// Parses `text` as one JSON document and builds what `selection` names.
// Errors are those of parse_json_document (Json.h): a leading byte-order
// mark, invalid JSON and nesting deeper than 1000 levels raise
// InvalidArgumentError "<origin> is not valid JSON: <parser description>"
// with the parser's error nested as its cause, whatever the selection. Object
// members are indexed while they are built, so a large object costs time in
// proportion to its size. An integer beyond 64 bits is kept exactly
// (exact_integer, Json.h).
//
// The parser reads up to 64 bytes past the end of the text: a string whose
// spare capacity holds them is parsed where it is; other text is copied
// first.
JsonDict parse_json_document(std::string_view text, const std::string& origin, const JsonSelection& selection);
JsonDict parse_json_document(const std::string& text, const std::string& origin, const JsonSelection& selection);
inline JsonDict parse_json_document(const char* text, const std::string& origin, const JsonSelection& selection) {
  return parse_json_document(std::string_view(text), origin, selection);
}

// Parses `bytes`, the content of the file `path`, with the selective
// parse_json_document. Bytes that are not UTF-8 raise TextDecodeError,
// before any fault of the JSON itself.
JsonDict parse_json_file_bytes(const std::string& bytes, const std::string& path, const JsonSelection& selection);

// Reads `path` (file-system failures raise IoError) once and parses it with
// parse_json_file_bytes. Bytes that are not UTF-8 raise
// TextDecodeError, before any fault of the JSON itself.
JsonDict load_json_file(const std::string& path, const JsonSelection& selection);

}  // namespace callset_converter
