#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"

#include <algorithm>
#include <utility>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

// Where a structural fault lies: the file (when known) and the JSON value.
struct Place {
  const std::string& file;
  std::string owner;

  [[noreturn]] void fail(const std::string& what, const JsonDict& found, const char* expected) const {
    throw MalformedStructureError((file.empty() ? std::string() : file + ": ") + what + " of " + owner + " is " +
                                  kind_name(found) + ", expected " + expected);
  }
};

// A member that PharmCAT writes as text: nothing when absent or null. Any
// other kind means the document is not shaped as PharmCAT writes it.
std::optional<std::string> text_member(const JsonDict& object, std::string_view key, const Place& place) {
  const JsonDict* value = find_member(object, key);
  if (value == nullptr || value->is_null()) return std::nullopt;
  if (!value->is_string()) place.fail("\"" + std::string(key) + "\"", *value, "text");
  return value->get<std::string>();
}

// As text_member, for members where a blank value counts as missing.
std::optional<std::string> nonblank_text_member(const JsonDict& object, std::string_view key, const Place& place) {
  if (is_blank(find_member(object, key))) return std::nullopt;
  return text_member(object, key, place);
}

// The non-blank haplotype names, each taken as text whatever its kind (a
// name PharmCAT writes as the number 1 is the allele "1"), as other copied
// values are taken.
std::vector<std::string> haplotype_names(const JsonDict& diplotype) {
  std::vector<std::string> names;
  for (const char* key : {"allele1", "allele2"}) {
    const JsonDict* allele = find_member(diplotype, key);
    if (allele == nullptr || !allele->is_object()) continue;
    const JsonDict* name = find_member(*allele, "name");
    if (is_blank(name)) continue;
    if (auto text = scalar_text(*name)) names.push_back(std::move(*text));
  }
  return names;
}

// The statement of one diplotype object (a source or a recommendation
// diplotype: both have the same shape).
CallerStatement statement_from_diplotype(const std::string& gene, const JsonDict& diplotype,
                                         const Place& diplotype_place, const std::string& source,
                                         const std::optional<std::string>& phenotype_source) {
  std::vector<std::string> phenotypes;
  const JsonDict* phenotype_list = find_member(diplotype, "phenotypes");
  if (!is_blank(phenotype_list)) {
    if (!phenotype_list->is_array()) diplotype_place.fail("\"phenotypes\"", *phenotype_list, "a list");
    for (const JsonDict& phenotype : *phenotype_list) {
      if (is_blank(phenotype)) continue;
      if (!phenotype.is_string()) diplotype_place.fail("an entry of \"phenotypes\"", phenotype, "text");
      phenotypes.push_back(phenotype.get<std::string>());
    }
  }
  const JsonDict* activity = find_member(diplotype, "activityScore");
  return CallerStatement(gene, text_member(diplotype, "label", diplotype_place), haplotype_names(diplotype),
                         std::move(phenotypes), source, phenotype_source,
                         activity == nullptr ? std::nullopt : scalar_text(*activity));
}

// The members of a gene report that _to_caller_statement reads, each built
// whole; the rest of the report (its variant list above all, often most of
// its bytes) is validated but never built.
JsonSelection gene_report_selection() {
  JsonSelection report = JsonSelection::member_names();
  for (const char* key : {"geneSymbol", "phenotypeSource", "sourceDiplotypes", "recommendationDiplotypes"}) {
    report.keep({key});
  }
  return report;
}

// What parse and read_versions read of a file: the root's member names
// (the "no gene reports found" message lists them), the gene container
// wherever it may lie, the unannotated gene calls and the version members.
// A report's drug annotations and messages, most of its bytes, are
// validated but never built, and so are the parts of its gene reports that
// no statement reads.
const JsonSelection& gene_container_selection() {
  static const JsonSelection selection = [] {
    const JsonSelection report = gene_report_selection();
    // A member of the container is a gene report or a phenotype source's
    // collection of them (an object or an array), told apart by its
    // "geneSymbol"; any other value is named by its kind in a warning.
    JsonSelection container_member = report;
    container_member.other_members(report).elements(report).scalars();
    JsonSelection container = JsonSelection::member_names();
    container.other_members(container_member);
    JsonSelection unannotated_calls = JsonSelection::member_names();
    unannotated_calls.elements(report).scalars();

    JsonSelection kept = JsonSelection::member_names();
    for (const char* key : PharmcatPhenotypeJsonParser::_root_keys) kept.select({key}, container);
    kept.select({"report", "genes"}, container);
    kept.select({PharmcatPhenotypeJsonParser::UNANNOTATED_KEY}, unannotated_calls);
    // The report's versions too: one parse serves its calls and versions.
    for (const char* key :
         {"pharmcatVersion", "dataVersion", "title", "timestamp", "generatedOn", "cpicVersion", "dpwgVersion"}) {
      kept.keep({key});
    }
    return kept;
  }();
  return selection;
}

}  // namespace

std::vector<CallerStatement> PharmcatPhenotypeJsonParser::parse() const {
  return _statements_of(_load_json_once(gene_container_selection()));
}

std::vector<CallerStatement> PharmcatPhenotypeJsonParser::_statements_of(const JsonDict& root) const {
  const JsonDict& container = _extract_genes_by_source(root);
  std::vector<CallerStatement> statements;
  const auto add = [&](const JsonDict& gene_report, const std::optional<std::string>& phenotype_source) {
    if (auto statement = _to_caller_statement(gene_report, phenotype_source)) {
      statements.push_back(std::move(*statement));
    }
  };
  for (const auto& [name, value] : container.items()) {
    if (_is_gene_report(value)) {
      // Keyed by gene symbol: the member names no phenotype source.
      add(value, std::nullopt);
      continue;
    }
    const std::optional<std::string> phenotype_source = name;
    for (const JsonDict* gene_report : _iterate_genes(phenotype_source, value)) add(*gene_report, phenotype_source);
  }
  _add_unannotated_calls(root, statements);
  return statements;
}

std::string PharmcatPhenotypeJsonParser::reader_source_name() const { return source_name; }

void PharmcatPhenotypeJsonParser::_add_unannotated_calls(const JsonDict& root,
                                                         std::vector<CallerStatement>& statements) const {
  const JsonDict* calls = find_member(root, UNANNOTATED_KEY);
  if (is_blank(calls)) return;
  if (!calls->is_array()) {
    Place{file_path, "the root"}.fail(std::string("\"") + UNANNOTATED_KEY + "\"", *calls, "a list");
  }
  for (const JsonDict& gene_report : *calls) {
    if (!gene_report.is_object()) continue;
    auto statement = _to_caller_statement(gene_report, std::nullopt);
    if (!statement) continue;
    // Such a report names "UNKNOWN" or nothing as its phenotype source:
    // no guideline stands behind the call.
    statement->phenotype_source.reset();
    statement->unannotated = true;
    statements.push_back(std::move(*statement));
  }
}

const JsonDict& PharmcatPhenotypeJsonParser::_extract_genes_by_source(const JsonDict& root) const {
  if (!root.is_object()) throw InvalidArgumentError(file_path + ": expected a JSON object at the root");
  for (const char* key : _root_keys) {
    const JsonDict* container = find_member(root, key);
    if (container != nullptr && container->is_object()) return *container;
  }
  if (const JsonDict* report = find_member(root, "report")) {
    const JsonDict* container = find_member(*report, "genes");
    if (container != nullptr && container->is_object()) return *container;
  }
  std::vector<std::string> keys;
  for (const auto& member : root.items()) keys.push_back(member.key());
  std::sort(keys.begin(), keys.end());
  throw InvalidArgumentError(file_path + ": no gene reports found (top-level keys: " + join(keys, ", ") + ")");
}

bool PharmcatPhenotypeJsonParser::_is_gene_report(const JsonDict& member_value) {
  return find_member(member_value, "geneSymbol") != nullptr;
}

std::vector<const JsonDict*> PharmcatPhenotypeJsonParser::_iterate_genes(
    const std::optional<std::string>& phenotype_source, const JsonDict& genes) const {
  if (!genes.is_object() && !genes.is_array()) {
    log_warning("Unsupported gene container for source %s: %s", phenotype_source, kind_name(genes));
    return {};
  }
  std::vector<const JsonDict*> reports;
  for (const JsonDict& candidate : genes) {
    if (candidate.is_object()) reports.push_back(&candidate);
  }
  return reports;
}

std::optional<CallerStatement> PharmcatPhenotypeJsonParser::_to_caller_statement(
    const JsonDict& gene_report, const std::optional<std::string>& phenotype_source) const {
  const std::optional<std::string> gene =
      nonblank_text_member(gene_report, "geneSymbol", Place{file_path, "a gene report"});
  if (!gene) {
    log_warning("Gene report without geneSymbol in %s", file_path);
    return std::nullopt;
  }
  const Place report_place{file_path, *gene};
  const JsonDict* diplotypes = find_member(gene_report, "sourceDiplotypes");
  if (is_blank(diplotypes)) {
    _log_skip(*gene, "no sourceDiplotypes for source " + text_or_none(phenotype_source));
    return std::nullopt;
  }
  if (!diplotypes->is_array()) report_place.fail("\"sourceDiplotypes\"", *diplotypes, "a list");
  const std::optional<std::string> own_source = nonblank_text_member(gene_report, "phenotypeSource", report_place);
  const std::optional<std::string> statement_source = own_source ? own_source : phenotype_source;

  // An unphased result (DPYD) comes as one single-allele source diplotype
  // per allele found, with PharmCAT's own combined call as the one
  // recommendation diplotype: that call is the one to report.
  const JsonDict* recommendations = find_member(gene_report, "recommendationDiplotypes");
  if (diplotypes->size() > 1 && recommendations != nullptr && recommendations->is_array() &&
      recommendations->size() == 1 && recommendations->front().is_object()) {
    return statement_from_diplotype(*gene, recommendations->front(),
                                    Place{file_path, "the recommendation diplotype of " + *gene}, reader_source_name(),
                                    statement_source);
  }

  std::vector<std::string> warnings;
  if (diplotypes->size() > 1) {
    std::vector<std::string> labels;
    for (const JsonDict& candidate : *diplotypes) {
      if (!candidate.is_object()) report_place.fail("an entry of \"sourceDiplotypes\"", candidate, "a dict");
      labels.push_back(
          text_or_none(text_member(candidate, "label", Place{file_path, "a source diplotype of " + *gene})));
    }
    warnings.push_back(_first_of_several(*gene, phenotype_source, labels));
  }
  const JsonDict& diplotype = diplotypes->front();
  if (!diplotype.is_object()) report_place.fail("the first entry of \"sourceDiplotypes\"", diplotype, "a dict");
  CallerStatement statement = statement_from_diplotype(
      *gene, diplotype, Place{file_path, "the source diplotype of " + *gene}, reader_source_name(), statement_source);
  statement.warnings = std::move(warnings);
  return statement;
}

std::string PharmcatPhenotypeJsonParser::_first_of_several(const std::string& gene,
                                                           const std::optional<std::string>& phenotype_source,
                                                           const std::vector<std::string>& labels) {
  log_warning("%s has %d source diplotypes for %s; using the first", gene, labels.size(), phenotype_source);
  // An ambiguous call: the reviewer must see that the first was picked.
  return _ambiguous_warning(labels);
}

std::vector<std::string> PharmcatPhenotypeJsonParser::_haplotype_names(const JsonDict& diplotype) {
  return haplotype_names(diplotype);
}

std::optional<std::string> PharmcatPhenotypeJsonParser::_as_text(const JsonDict& value) { return scalar_text(value); }

std::string PharmcatReportJsonParser::reader_source_name() const { return source_name; }

JsonDict PharmcatReportJsonParser::read_versions() const {
  JsonDict root = _load_json_once(gene_container_selection());
  if (!root.is_object()) throw MalformedStructureError(file_path + ": expected a JSON object at the root");
  // Values are moved, not copied: the loaded document is not used again.
  const auto take = [&root](const char* key) {
    const auto found = root.find(key);
    return found == root.end() ? JsonDict() : std::move(*found);
  };
  JsonDict versions = JsonDict::object();
  // Room for every member up front: growing an object copies the members
  // already in it, and a deeply nested value would be copied recursively.
  versions.get_ref<JsonDict::object_t&>().reserve(6);
  for (const char* key : {"pharmcatVersion", "dataVersion", "title"}) versions[key] = take(key);
  // PharmCAT 2.1 wrote the run time as generatedOn; a timestamp member,
  // even a null one, is what the file says.
  versions["timestamp"] = take(root.contains("timestamp") ? "timestamp" : "generatedOn");
  // Up to 2.13 PharmCAT named its data versions per guideline source, with
  // no dataVersion. Named apart from pbStarPhase's cpicVersion, and present
  // only where the file carries them, so other files' sidecars are unchanged.
  for (const auto& [key, name] :
       {std::pair{"cpicVersion", "pharmcatCpicVersion"}, std::pair{"dpwgVersion", "pharmcatDpwgVersion"}}) {
    JsonDict value = take(key);
    if (!value.is_null()) versions[name] = std::move(value);
  }
  return versions;
}

}  // namespace callset_converter
