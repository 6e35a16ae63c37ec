#pragma once

namespace callset_converter {

// The command-line program: parses the arguments, configures logging,
// builds the request, runs the converter and returns the exit status
// (0 success, 1 conversion error, 2 usage error).
int from_cli(int argc, char** argv);

}  // namespace callset_converter
