#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Reads Cyrius's CYP2D6 result table (Sample, Genotype, Filter; one row per
// sample), including the BCyrius fork's Activity score and Predicted
// phenotype columns. The Filter decides what the Genotype is: a call, a low
// quality call, several candidate diplotypes (";"-joined) or alleles that
// could not be put on haplotypes ("_"-joined). Cyrius names no gene and no
// version: every statement is CYP2D6's.
class CyriusTsvReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_CYRIUS;
  static constexpr const char* GENE = "CYP2D6";
  static constexpr std::array<const char*, 3> LEADING_COLUMNS = {"Sample", "Genotype", "Filter"};
  // BCyrius's columns; older releases write the names without a space.
  static constexpr std::array<const char*, 2> ACTIVITY_COLUMNS = {"Activity score", "ActivityScore"};
  static constexpr std::array<const char*, 2> PHENOTYPE_COLUMNS = {"Predicted phenotype", "PredictedPhenotype"};

  // The sample to read (--sample); without it the file must name one only.
  const std::optional<std::string> sample;

  using ICallReader::ICallReader;
  CyriusTsvReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id);

  // Whether a first row (cells as read) is Cyrius's header: its first three
  // cells, trimmed, are Sample, Genotype and Filter.
  static bool is_header(const std::vector<std::string>& header);

  // The chosen sample's statement. InvalidArgumentError naming the file
  // when the header is not Cyrius's, when the sample cannot be chosen (see
  // _choose_sample) or has more than one row.
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;
};

// Reads Cyrius's JSON result: one object keyed by sample id, each value an
// object with Genotype and Filter (null for a no-call) among other members;
// read by the rules of the table.
class CyriusJsonReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_CYRIUS;

  const std::optional<std::string> sample;

  using ICallReader::ICallReader;
  CyriusJsonReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id);

  // Whether a root member's value looks like Cyrius's: an object holding
  // both Genotype and Filter.
  static bool is_sample_result(const JsonDict& value);

  // As CyriusTsvReader::parse; MalformedStructureError naming the file when
  // a sample's value, Genotype or Filter is not what Cyrius writes.
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;
};

// The statement of one Cyrius result: its Genotype and Filter as written
// (nothing for JSON null), and BCyrius's activity score and predicted
// phenotype cells.
CallerStatement cyrius_statement(const std::optional<std::string>& genotype_cell,
                                 const std::optional<std::string>& filter_cell,
                                 const std::optional<std::string>& activity_cell = std::nullopt,
                                 const std::optional<std::string>& phenotype_cell = std::nullopt);

}  // namespace callset_converter
