#include "CallsetConverter/Models/ReportRecord.h"

#include <algorithm>
#include <utility>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

namespace {

JsonDict json_value(const std::string& value) { return JsonDict(value); }
JsonDict json_value(const std::optional<std::string>& value) { return value ? JsonDict(*value) : JsonDict(nullptr); }
JsonDict json_value(const std::vector<std::string>& values) { return JsonDict(values); }

// The members of a record's result object and of its sidecar entry, in
// order, each given to `member(name, value)`: the one place their layout is
// written down, whether they are built as a JSON value or written as text.
template <typename Member>
void result_members(const ReportRecord& record, Member&& member) {
  member(C::ID, record.gene);
  member(C::NAME, record.gene);
  member(C::STAR_ALLELE, record.star_allele);
  member(C::ACTIVITY, record.activity);
}

template <typename Member>
void provenance_members(const ReportRecord& record, Member&& member) {
  member(C::ID, record.gene);
  member(C::SOURCE, record.source);
  member(C::PROVENANCE_PHENOTYPE_SOURCE, record.phenotype_source);
  member(C::WARNINGS, record.warnings);
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
  result_members(*this, [&](const char* name, const auto& value) { result[name] = json_value(value); });
  return result;
}

JsonDict ReportRecord::to_provenance() const {
  JsonDict provenance = json_object(4);
  provenance_members(*this, [&](const char* name, const auto& value) { provenance[name] = json_value(value); });
  return provenance;
}

void ReportRecord::write_result(JsonTextWriter& writer) const {
  writer.begin_object();
  result_members(*this, [&](const char* name, const auto& value) { writer.key(name).value(value); });
  writer.end();
}

void ReportRecord::write_provenance(JsonTextWriter& writer) const {
  writer.begin_object();
  provenance_members(*this, [&](const char* name, const auto& value) { writer.key(name).value(value); });
  writer.end();
}

std::string ReportRecord::repr() const {
  return "ReportRecord(gene=" + quoted_literal(std::string_view(gene)) +
         ", star_allele=" + quoted_literal(star_allele) + ", activity=" + quoted_literal(activity) +
         ", source=" + quoted_literal(source) + ")";
}

}  // namespace callset_converter
