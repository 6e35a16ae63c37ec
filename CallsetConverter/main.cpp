#include "CallsetConverter/CommandLine.h"

int main(int argc, char** argv) { return callset_converter::from_cli(argc, argv); }
