// The yardstick of the benchmark: what a process that does nothing but load
// a JSON file and parse it with simdjson's DOM parser costs. The benchmark
// times it as a whole process, exactly as it times the converter, so that
// start-up, reading and page faults count on both sides.
//
//   callset-yardstick FILE
//
// Exit status 0 when FILE is valid JSON, 1 otherwise.

#include <simdjson.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: callset-yardstick FILE\n", stderr);
    return 2;
  }
  simdjson::padded_string text;
  if (simdjson::padded_string::load(argv[1]).get(text) != simdjson::SUCCESS) {
    std::fprintf(stderr, "callset-yardstick: cannot read %s\n", argv[1]);
    return 1;
  }
  simdjson::dom::parser parser;
  simdjson::dom::element root;
  if (const auto error = parser.parse(text).get(root); error != simdjson::SUCCESS) {
    std::fprintf(stderr, "callset-yardstick: %s: %s\n", argv[1], simdjson::error_message(error));
    return 1;
  }
  return 0;
}
