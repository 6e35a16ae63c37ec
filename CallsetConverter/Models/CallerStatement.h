#pragma once

#include <optional>
#include <string>
#include <vector>

namespace callset_converter {

// What one caller said about one gene, in the caller's own vocabulary.
// Readers copy the caller's words into it; only the normaliser translates.
struct CallerStatement {
  std::string gene;
  std::optional<std::string> diplotype;
  std::vector<std::string> haplotypes;
  std::vector<std::string> phenotypes;
  std::optional<std::string> source;
  std::optional<std::string> phenotype_source;
  std::optional<std::string> activity_score;
  // What the reader itself has to say about the call (an ambiguous call, a
  // choice it made); the record of this statement carries these first.
  std::vector<std::string> warnings;
  // PharmCAT called the gene without a guideline annotation (its
  // unannotatedGeneCalls): such a call ranks below every other caller and
  // is reported only where no other caller called the gene.
  bool unannotated = false;
  // The input file the statement was read from, as the run names it (set by
  // the converter after the reader returns). A caller is a file: two files
  // of one format are two callers.
  std::optional<std::string> input_file;

  // Throws InvalidArgumentError "gene symbol is required" when `gene` is
  // absent or empty. Every other value is stored exactly as given.
  explicit CallerStatement(std::optional<std::string> gene, std::optional<std::string> diplotype = std::nullopt,
                           std::vector<std::string> haplotypes = {}, std::vector<std::string> phenotypes = {},
                           std::optional<std::string> source = std::nullopt,
                           std::optional<std::string> phenotype_source = std::nullopt,
                           std::optional<std::string> activity_score = std::nullopt);

  // "CallerStatement(gene='CYP2D6', diplotype='*1/*4', phenotypes=[...],
  // source=..., phenotype_source=...)" with every value a quoted literal.
  std::string repr() const;

  bool operator==(const CallerStatement&) const = default;
};

}  // namespace callset_converter
