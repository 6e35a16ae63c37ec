#pragma once

#include <nlohmann/json.hpp>

namespace callset_converter {

// A JSON value whose objects keep their members in insertion order, also
// when written out. Requests, mapping tables, loaded input documents and the
// result and provenance objects are all of this type.
using JsonDict = nlohmann::ordered_json;

}  // namespace callset_converter
