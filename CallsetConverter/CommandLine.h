#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Log.h"

namespace callset_converter {

inline constexpr const char* PROGRAM_NAME = "callset-converter";
inline constexpr const char* PROGRAM_DESCRIPTION =
    "Convert PharmCAT / pbStarPhase / diplotype-table PGx output into the Helvara PGx JSON format for upload to "
    "Helvara Analysis.";

// A command line the program cannot accept; what() is the error line's text
// (without the program-name prefix).
class UsageError : public std::runtime_error, public FullMessage {
 public:
  explicit UsageError(const std::string& message);
  ~UsageError() override;
};

// What the arguments ask for.
struct CommandLineOptions {
  enum class Action { Run, Help, Version };
  Action action = Action::Run;
  // Always the nine request members, in request order, then "sample" when
  // --sample is given, "cohort" when --cohort is given and "fhir" (true)
  // when --fhir is given.
  JsonDict request;
  // The --log-level value as given.
  std::string log_level = "INFO";
};

// Parses the arguments after the program name. Long options may be
// shortened to any unambiguous prefix and take their value from the next
// argument or after "="; --genes takes every following argument up to the
// next one starting with "-"; "--" ends the options. -h/--help and
// --version end the parse at once. Raises UsageError for an unknown or
// ambiguous option, a missing value or a value given to a flag.
CommandLineOptions parse_command_line(const std::vector<std::string>& arguments);

// The logging threshold for a --log-level value: the level of that name
// (case-insensitive; WARN for WARNING, FATAL for CRITICAL, NOTSET), else INFO.
LogLevel log_level_from_name(std::string_view name);

// "usage: callset-converter ..." and the full help listing, each ending
// with a line break.
std::string usage_text();
std::string help_text();

// The command-line program: parses the arguments, configures logging,
// builds the request, runs the converter and returns the exit status
// (0 success, 1 conversion error, 2 usage error). With --cohort: 0 when
// every sample succeeded, 1 when any failed, 2 for a sheet that cannot be
// used.
int from_cli(int argc, char** argv);

}  // namespace callset_converter
