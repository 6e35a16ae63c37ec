# Instrumented builds, each switched on by one option (the presets in
# CMakePresets.json set them):
#
#   CALLSET_SANITIZE  AddressSanitizer and UndefinedBehaviorSanitizer on
#                     every target. Nothing recovers: the first report ends
#                     the program with a failure, so a test run fails on it.
#   CALLSET_FUZZ      The libFuzzer programs in fuzz/ (clang only). Every
#                     target is built with coverage feedback and both
#                     sanitizers; only the fuzz programs link libFuzzer.
#   CALLSET_COVERAGE  Line coverage through gcov (--coverage, no
#                     optimisation); run the tests, then gcov or gcovr.
option(CALLSET_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(CALLSET_FUZZ "Build the libFuzzer programs (requires clang)" OFF)
option(CALLSET_COVERAGE "Build with gcov line coverage" OFF)

set(CALLSET_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)

if(CALLSET_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "CALLSET_FUZZ needs clang with libFuzzer (configure with the fuzz preset)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link ${CALLSET_SANITIZER_FLAGS})
  add_link_options(${CALLSET_SANITIZER_FLAGS})
elseif(CALLSET_SANITIZE)
  add_compile_options(${CALLSET_SANITIZER_FLAGS})
  add_link_options(${CALLSET_SANITIZER_FLAGS})
endif()

if(CALLSET_COVERAGE)
  add_compile_options(--coverage -O0)
  add_link_options(--coverage)
endif()
