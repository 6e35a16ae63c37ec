#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Support/Files.h"

namespace callset_converter {

// The mapping tables: gene rules, phenotype terms and genotype terms, each
// one JSON object stored as "<identifier>.json". The defaults are embedded
// in the library at build time. An override directory replaces them all:
// set by the host through set_mappings_dir, else taken from the environment
// variable CALLSET_CONVERTER_MAPPINGS_DIR. In an override directory a
// missing table is an error, never a silent fall-back to the default.

inline constexpr const char* MAPPINGS_DIR_VARIABLE = "CALLSET_CONVERTER_MAPPINGS_DIR";

// Sets (or, with nothing, clears) the host's override directory.
void set_mappings_dir(std::optional<std::string> directory);

// The override directory in effect, if any.
std::optional<std::string> mappings_dir();

// Where the table for `identifier` is read from: its path in the override
// directory, else "<embedded>/<identifier>.json". Used to name the table in
// errors.
std::string mapping_origin(const std::string& identifier);
// Logs at INFO the directory the tables come from when
// CALLSET_CONVERTER_MAPPINGS_DIR replaces the defaults (and the host has set
// no directory of its own).
void log_mappings_source();

// The whole table for `identifier`. Errors: FileNotFoundError "File not
// found: <path>" for a missing table; InvalidArgumentError "<path> is not
// valid JSON: ..." for malformed JSON; InvalidArgumentError naming the path
// when the root is not an object or the file holds more than
// `max_input_size` bytes (a table file is read once, with the same limit as
// an input).
JsonDict load_mapping(const std::string& identifier, std::uint64_t max_input_size = kDefaultMaxInputSize);

}  // namespace callset_converter
