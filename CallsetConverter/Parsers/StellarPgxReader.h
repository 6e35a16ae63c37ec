#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Reads one StellarPGx result (<sample>_<gene>.alleles): a banner naming the
// gene, then labelled sections, each value on the lines after its label.
// The Result is the call; its note (after a TAB) and any sentence written
// instead of a diplotype become warnings. The sample is named only by the
// file name.
class StellarPgxReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_STELLARPGX;
  static constexpr std::string_view BANNER_END = " Star Allele Calling with StellarPGx";

  // The sample the run is for (--sample): the file name must start with it
  // and "_".
  const std::optional<std::string> sample;

  using ICallReader::ICallReader;
  StellarPgxReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id);

  // Whether `bytes` hold StellarPGx's banner line among their first lines.
  static bool is_stellarpgx_result(std::string_view bytes);

  // The one statement of the file. InvalidArgumentError naming the file
  // when it has no banner, or when its name is another sample's.
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;
};

}  // namespace callset_converter
