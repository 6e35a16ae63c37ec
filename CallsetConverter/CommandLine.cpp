#include "CallsetConverter/CommandLine.h"

namespace callset_converter {

// Implementation in progress.
int from_cli(int /*argc*/, char** /*argv*/) { return 1; }

}  // namespace callset_converter
