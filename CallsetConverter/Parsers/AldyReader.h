#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Reads Aldy's .aldy report (Aldy 3 and 4): per sample and gene, the Major
// diplotypes of its solutions. One distinct Major is the call; several are
// ambiguous. Aldy 4.8 and later name a CPIC phenotype and the gene database
// in each "#Solution" line.
class AldyReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_ALDY;
  static constexpr const char* HEADER_START = "#Sample";
  static constexpr const char* SOLUTION_START = "#Solution";
  // The sidecar member of the gene databases the solutions name.
  static constexpr const char* GENE_DATABASE_VERSION = "aldyGeneDatabase";

  // The sample to read (--sample); without it the file must name one only.
  const std::optional<std::string> sample;

  using ICallReader::ICallReader;
  AldyReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id);

  // Whether `bytes` start with Aldy's header line.
  static bool is_aldy_report(std::string_view bytes);

  // One statement per gene of the chosen sample, genes in file order.
  // InvalidArgumentError naming the file (and line) when the file does not
  // start with Aldy's header, when a row lacks its Sample, Gene,
  // SolutionID or Major cell, or when the sample cannot be chosen.
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;

  // {"aldyGeneDatabase": "<db> (<date>), ..."}: the distinct gene= values of
  // the "#Solution" lines in file order; empty when there are none.
  JsonDict read_versions() const override;

  // The allele without Aldy's mark of an allele it inferred itself (".ALDY"
  // up to Aldy 4.7, a trailing "X" from 4.8), or nothing when unmarked.
  static std::optional<std::string> _without_novel_mark(std::string_view allele);
};

}  // namespace callset_converter
