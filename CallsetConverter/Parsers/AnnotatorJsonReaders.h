#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Reads <sample>.pharmcat.phenotype.json: one statement per usable gene
// report and phenotype source, in PharmCAT's own words.
class PharmcatPhenotypeJsonParser : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_PHARMCAT_PHENOTYPE;
  // Root members that may hold the gene container, in the order tried.
  static constexpr std::array<const char*, 2> _root_keys = {"geneReports", "genes"};

  using ICallReader::ICallReader;

  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;

  const JsonDict& _extract_genes_by_source(const JsonDict& root) const;
  std::vector<const JsonDict*> _iterate_genes(const std::optional<std::string>& phenotype_source,
                                              const JsonDict& genes) const;
  std::optional<CallerStatement> _to_caller_statement(const JsonDict& gene_report,
                                                      const std::optional<std::string>& phenotype_source) const;
  static std::vector<std::string> _haplotype_names(const JsonDict& diplotype);
  static std::optional<std::string> _as_text(const JsonDict& value);
};

// Reads <sample>.pharmcat.report.json: the same gene reports, plus the
// versions of PharmCAT and its data.
class PharmcatReportJsonParser : public PharmcatPhenotypeJsonParser {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_PHARMCAT_REPORT;

  using PharmcatPhenotypeJsonParser::PharmcatPhenotypeJsonParser;

  std::string reader_source_name() const override;

  // {"pharmcatVersion", "dataVersion", "title", "timestamp"}, each copied
  // from the root (null when absent).
  JsonDict read_versions() const;
};

}  // namespace callset_converter
