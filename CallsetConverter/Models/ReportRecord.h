#pragma once

#include <optional>
#include <string>
#include <vector>

#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Support/Json.h"

namespace callset_converter {

// One gene's call in report vocabulary. Its result object carries exactly
// the four members the consumer reads; everything else about the gene goes
// to its provenance object.
struct ReportRecord {
  std::string gene;
  std::optional<std::string> star_allele;
  std::optional<std::string> activity;
  std::optional<std::string> source;
  std::optional<std::string> phenotype_source;
  // The input file of the statement the record was taken from; not part of
  // the result or the sidecar's gene object.
  std::optional<std::string> input_file;
  // In the order first added, without duplicates; every record owns its own.
  std::vector<std::string> warnings;

  // Throws InvalidArgumentError "gene symbol is required" when `gene` is
  // absent or empty.
  explicit ReportRecord(std::optional<std::string> gene, std::optional<std::string> star_allele = std::nullopt,
                        std::optional<std::string> activity = std::nullopt,
                        std::optional<std::string> source = std::nullopt,
                        std::optional<std::string> phenotype_source = std::nullopt);

  // Appends `warning` unless it is absent, empty or already recorded
  // (exact, case-sensitive comparison).
  void add_warning(const std::optional<std::string>& warning);

  // {"Id", "Name", "StarAllele", "Activity"}: absent values as null.
  JsonDict to_result() const;
  // {"Id", "source", "phenotypeSource", "warnings"}.
  JsonDict to_provenance() const;
  // The same two objects, written where `writer` stands.
  void write_result(JsonTextWriter& writer) const;
  void write_provenance(JsonTextWriter& writer) const;

  // "ReportRecord(gene=..., star_allele=..., activity=..., source=...)".
  std::string repr() const;
};

}  // namespace callset_converter
