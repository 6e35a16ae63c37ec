#pragma once

#include <string>

namespace callset_converter {

// The package version compiled in from the build ("0.0.0+unknown" when the
// build recorded none). It is the converter's own version in every
// provenance sidecar and the package's __version__.
const std::string& package_version();

}  // namespace callset_converter
