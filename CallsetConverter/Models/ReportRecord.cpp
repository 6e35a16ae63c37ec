#include "CallsetConverter/Models/ReportRecord.h"

#include <algorithm>
#include <utility>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

namespace {

JsonDict optional_value(const std::optional<std::string>& value) {
  return value ? JsonDict(*value) : JsonDict(nullptr);
}

}  // namespace

ReportRecord::ReportRecord(std::optional<std::string> gene_, std::optional<std::string> star_allele_,
                           std::optional<std::string> activity_, std::optional<std::string> source_,
                           std::optional<std::string> phenotype_source_)
    : star_allele(std::move(star_allele_)),
      activity(std::move(activity_)),
      source(std::move(source_)),
      phenotype_source(std::move(phenotype_source_)) {
  if (!gene_ || gene_->empty()) throw InvalidArgumentError("gene symbol is required");
  gene = std::move(*gene_);
}

void ReportRecord::add_warning(const std::optional<std::string>& warning) {
  if (!warning || warning->empty()) return;
  if (std::find(warnings.begin(), warnings.end(), *warning) != warnings.end()) return;
  warnings.push_back(*warning);
}

JsonDict ReportRecord::to_result() const {
  JsonDict result = json_object(4);
  result[C::ID] = gene;
  result[C::NAME] = gene;
  result[C::STAR_ALLELE] = optional_value(star_allele);
  result[C::ACTIVITY] = optional_value(activity);
  return result;
}

JsonDict ReportRecord::to_provenance() const {
  JsonDict provenance = json_object(4);
  provenance[C::ID] = gene;
  provenance[C::SOURCE] = optional_value(source);
  provenance[C::PROVENANCE_PHENOTYPE_SOURCE] = optional_value(phenotype_source);
  provenance[C::WARNINGS] = JsonDict::array();
  for (const auto& warning : warnings) provenance[C::WARNINGS].push_back(warning);
  return provenance;
}

std::string ReportRecord::repr() const {
  return "ReportRecord(gene=" + quoted_literal(std::string_view(gene)) +
         ", star_allele=" + quoted_literal(star_allele) + ", activity=" + quoted_literal(activity) +
         ", source=" + quoted_literal(source) + ")";
}

}  // namespace callset_converter
