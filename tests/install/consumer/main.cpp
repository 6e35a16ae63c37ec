// Converts a directory of caller outputs through the installed library and
// prints the result array.
#include <CallsetConverter/CallsetConverter.h>

#include <iostream>

int main(int argc, char** argv) {
  using callset_converter::JsonDict;
  JsonDict request = {{"input_dir", argc > 1 ? argv[1] : "."}};
  callset_converter::CallsetConverter converter(request);
  std::cout << converter.run(true)->dump(4) << "\n";
}
