#pragma once

#include <string>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Reads the pbStarPhase diplotype table ("#gene" TAB "diplotype"): one
// statement per usable row, in file order, with the same caller identifier
// as the summary JSON.
class SummaryTsvReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_PBSTARPHASE;

  using ICallReader::ICallReader;

  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;
};

}  // namespace callset_converter
