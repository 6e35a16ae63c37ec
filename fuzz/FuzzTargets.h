#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace callset_converter::fuzzing {

// One fuzz target: a name (also the name of its fuzz program and of its
// folder in the regression corpus) and the function that feeds one input
// through the same code a real input takes.
//
// A target returns normally when the product accepted the input or refused
// it with one of the documented error kinds (InvalidArgumentError, which
// includes TextDecodeError; IoError, which includes FileNotFoundError;
// MalformedStructureError). Any other exception escapes, and a broken
// property of the result (output that is not pure ASCII, a written JSON
// text that does not read back) escapes as a FuzzFinding. The libFuzzer
// programs and the corpus replay test call the same functions.
struct FuzzTarget {
  const char* name;
  void (*run)(std::string_view input);
};

// A property of the product that one input broke.
class FuzzFinding : public std::logic_error {
 public:
  explicit FuzzFinding(const std::string& message);
  ~FuzzFinding() override;
};

// Every target, in a fixed order.
const std::vector<FuzzTarget>& fuzz_targets();

// The target of that name, or nullptr.
const FuzzTarget* find_fuzz_target(std::string_view name);

// Once per process, before the first input: routes log records to a sink
// that formats them as the command line would and then drops them, with
// every level enabled, so that logging runs on every input without
// flooding the fuzzer's output.
void prepare_fuzzing();

}  // namespace callset_converter::fuzzing
