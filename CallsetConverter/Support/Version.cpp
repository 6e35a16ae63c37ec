#include "CallsetConverter/Support/Version.h"

namespace callset_converter {

const std::string& package_version() {
#ifdef CALLSET_CONVERTER_VERSION
  static const std::string recorded = CALLSET_CONVERTER_VERSION;
#else
  static const std::string recorded;
#endif
  static const std::string version = recorded.empty() ? std::string("0.0.0+unknown") : recorded;
  return version;
}

}  // namespace callset_converter
