#pragma once

#include <string>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Reads the pbStarPhase summary JSON: one statement per gene with a called
// diplotype, genes in code-point order, plus the tool and database versions.
class SummaryJsonReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_PBSTARPHASE;

  using ICallReader::ICallReader;

  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;

  // {"pbstarphaseVersion", "cpicVersion", "hlaVersion", "pharmvarVersion"}.
  // The tool version is the root "pbstarphase_version" when present (null
  // included), else "pharmgoat_version", else the database metadata's.
  JsonDict read_versions() const override;
};

}  // namespace callset_converter
