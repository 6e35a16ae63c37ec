#pragma once

#include <cstddef>

#include <nlohmann/json.hpp>

namespace callset_converter {

// A JSON value whose objects keep their members in insertion order, also
// when written out. Requests, mapping tables, loaded input documents and the
// result and provenance objects are all of this type.
using JsonDict = nlohmann::ordered_json;

// An empty object with room for `members` members. An object's members sit
// in a vector whose growth copies them (their names are const), so an object
// built member by member is given its size first.
inline JsonDict json_object(std::size_t members) {
  JsonDict object = JsonDict::object();
  object.get_ref<JsonDict::object_t&>().reserve(members);
  return object;
}

}  // namespace callset_converter
