// The libFuzzer entry of one fuzz program; which target it drives is fixed
// when the program is built (CALLSET_FUZZ_TARGET).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "FuzzTargets.h"

namespace {

const callset_converter::fuzzing::FuzzTarget& target() {
  static const callset_converter::fuzzing::FuzzTarget* const found =
      callset_converter::fuzzing::find_fuzz_target(CALLSET_FUZZ_TARGET);
  if (found == nullptr) {
    std::fprintf(stderr, "no fuzz target named %s\n", CALLSET_FUZZ_TARGET);
    std::abort();
  }
  return *found;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  callset_converter::fuzzing::prepare_fuzzing();
  (void)target();
  return 0;
}

// An exception escaping here ends the program through std::terminate, which
// libFuzzer reports as a crash with the input that caused it.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  target().run(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
