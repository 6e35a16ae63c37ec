#pragma once

#include <array>
#include <string>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Parsers/ICallReader.h"
#include "CallsetConverter/Support/DelimitedText.h"

namespace callset_converter {

// Reads PharmCAT's call-only TSV report (PharmCAT 3.0 and later): a first
// line "PharmCAT <version>", a header row, then one row per gene and source
// diplotype. It says what the PharmCAT report JSON says about the calls, so
// it is read the same way and under the same caller identifier: several
// rows of a gene are several source diplotypes, and PharmCAT's no-call and
// phenotype placeholders stay for the normaliser to judge.
class PharmcatTsvReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_PHARMCAT_REPORT;
  // The first word of the first line; the version follows it.
  static constexpr const char* BANNER = "PharmCAT";
  // The header row starts with these cells (trimmed), in this order.
  static constexpr std::array<const char*, 4> LEADING_COLUMNS = {"Gene", "Source Diplotype", "Phenotype",
                                                                 "Activity Score"};

  using ICallReader::ICallReader;

  // Whether `banner` (a file's first row) is PharmCAT's first line: one
  // cell, "PharmCAT" alone or followed by a space and the version.
  static bool is_banner(const TextRow& banner);
  // Whether `header` (the second row) starts with LEADING_COLUMNS.
  static bool is_header(const TextRow& header);

  // Statements in order of each gene's first row. InvalidArgumentError when
  // the first two rows are not the banner and the header, or no row is
  // usable.
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;

  // {"pharmcatVersion": the text after the banner word}, or an empty object
  // when the first line carries no version. Read from the same bytes as
  // parse, so the file is opened once.
  JsonDict read_versions() const override;
};

}  // namespace callset_converter
