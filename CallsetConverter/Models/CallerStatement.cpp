#include "CallsetConverter/Models/CallerStatement.h"

#include <utility>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

CallerStatement::CallerStatement(std::optional<std::string> gene_, std::optional<std::string> diplotype_,
                                 std::vector<std::string> haplotypes_, std::vector<std::string> phenotypes_,
                                 std::optional<std::string> source_, std::optional<std::string> phenotype_source_,
                                 std::optional<std::string> activity_score_)
    : diplotype(std::move(diplotype_)),
      haplotypes(std::move(haplotypes_)),
      phenotypes(std::move(phenotypes_)),
      source(std::move(source_)),
      phenotype_source(std::move(phenotype_source_)),
      activity_score(std::move(activity_score_)) {
  if (!gene_ || gene_->empty()) throw InvalidArgumentError("gene symbol is required");
  gene = std::move(*gene_);
}

std::string CallerStatement::repr() const {
  return "CallerStatement(gene=" + quoted_literal(std::string_view(gene)) + ", diplotype=" + quoted_literal(diplotype) +
         ", phenotypes=" + quoted_literal(phenotypes) + ", source=" + quoted_literal(source) +
         ", phenotype_source=" + quoted_literal(phenotype_source) + ")";
}

}  // namespace callset_converter
