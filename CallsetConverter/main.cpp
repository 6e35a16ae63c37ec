#include "CallsetConverter/CommandLine.h"
#include "CallsetConverter/Support/Digest.h"

int main(int argc, char** argv) {
  callset_converter::start_digest_for_program();
  return callset_converter::from_cli(argc, argv);
}
