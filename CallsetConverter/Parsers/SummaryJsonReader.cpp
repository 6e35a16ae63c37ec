#include "CallsetConverter/Parsers/SummaryJsonReader.h"

#include <algorithm>
#include <utility>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"

namespace callset_converter {

namespace {

// A diplotype member that pbStarPhase writes as text: nothing when absent or
// null (or, with `blank_is_missing`, when blank). Any other kind means the
// document is not shaped as pbStarPhase writes it.
std::optional<std::string> diplotype_text(const JsonDict& diplotype, std::string_view key, bool blank_is_missing,
                                          const std::string& file_path, const std::string& gene) {
  const JsonDict* value = find_member(diplotype, key);
  if (value == nullptr || value->is_null() || (blank_is_missing && is_blank(*value))) return std::nullopt;
  if (!value->is_string()) {
    throw MalformedStructureError(file_path + ": \"" + std::string(key) + "\" of the diplotype of " + gene + " is " +
                                  kind_name(*value) + ", expected text");
  }
  return value->get<std::string>();
}

}  // namespace

std::vector<CallerStatement> SummaryJsonReader::parse() const {
  static const JsonSelection gene_details = JsonSelection::member_names().keep({"gene_details"});
  const JsonDict root = _load_json(gene_details);
  if (!root.is_object()) throw MalformedStructureError(file_path + ": expected a JSON object at the root");
  const JsonDict* details = find_member(root, "gene_details");
  if (details == nullptr || !details->is_object()) {
    throw InvalidArgumentError(file_path + ": no gene_details section found");
  }

  // Genes in code-point order of their symbols (byte order of UTF-8 text).
  std::vector<std::pair<const std::string*, const JsonDict*>> genes;
  for (const auto& member : details->items()) genes.emplace_back(&member.key(), &member.value());
  std::sort(genes.begin(), genes.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });

  std::vector<CallerStatement> statements;
  for (const auto& [gene, payload] : genes) {
    if (!payload->is_object()) {
      _log_skip(*gene, "unexpected payload type " + kind_name(*payload));
      continue;
    }
    const JsonDict* diplotypes = find_member(*payload, "diplotypes");
    const char* list_name = "diplotypes";
    if (is_blank(diplotypes)) {
      diplotypes = find_member(*payload, "simple_diplotypes");
      list_name = "simple_diplotypes";
    }
    if (is_blank(diplotypes)) {
      _log_skip(*gene, "no diplotypes called");
      continue;
    }
    if (!diplotypes->is_array()) {
      throw MalformedStructureError(file_path + ": \"" + list_name + "\" of " + *gene + " is " +
                                    kind_name(*diplotypes) + ", expected a list");
    }
    if (diplotypes->size() > 1) {
      log_warning("%s has %d pbStarPhase diplotypes; using the first", *gene, diplotypes->size());
    }
    const JsonDict& diplotype = diplotypes->front();
    if (!diplotype.is_object()) {
      throw MalformedStructureError(file_path + ": the first entry of \"" + list_name + "\" of " + *gene + " is " +
                                    kind_name(diplotype) + ", expected a dict");
    }
    std::vector<std::string> haplotypes;
    // Haplotype names are taken as text whatever their kind ("hap1": 4 is
    // the allele "4"), as other copied values are taken.
    for (const char* key : {"hap1", "hap2"}) {
      const JsonDict* name = find_member(diplotype, key);
      if (is_blank(name)) continue;
      if (auto text = scalar_text(*name)) haplotypes.push_back(std::move(*text));
    }
    statements.emplace_back(*gene, diplotype_text(diplotype, "diplotype", false, file_path, *gene),
                            std::move(haplotypes), std::vector<std::string>{}, reader_source_name());
  }
  return statements;
}

std::string SummaryJsonReader::reader_source_name() const { return source_name; }

JsonDict SummaryJsonReader::read_versions() const {
  static const JsonSelection version_members = JsonSelection::member_names()
                                                   .keep({"pbstarphase_version"})
                                                   .keep({"pharmgoat_version"})
                                                   .keep({"database_metadata"});
  JsonDict root = _load_json(version_members);
  if (!root.is_object()) throw MalformedStructureError(file_path + ": expected a JSON object at the root");
  JsonDict metadata = JsonDict::object();
  const auto found = root.find("database_metadata");
  if (found != root.end() && !is_blank(*found)) {
    if (!found->is_object()) {
      throw MalformedStructureError(file_path + ": \"database_metadata\" is " + kind_name(*found) +
                                    ", expected a dict");
    }
    metadata = std::move(*found);
  }
  // Values are moved, not copied: the loaded document is not used again.
  const auto take = [](JsonDict& object, const char* key) {
    const auto member = object.find(key);
    return member == object.end() ? JsonDict() : std::move(*member);
  };
  JsonDict versions = JsonDict::object();
  // Room for all four members up front: growing an object copies the
  // members already in it, and a deeply nested value would be copied
  // recursively.
  versions.get_ref<JsonDict::object_t&>().reserve(4);
  // pbStarPhase 0.8 (then named pharmgoat) wrote the root version under its
  // old name; every version repeats it in the database metadata. A root
  // member that is present, even null, is what the file says.
  if (root.contains("pbstarphase_version")) {
    versions["pbstarphaseVersion"] = take(root, "pbstarphase_version");
  } else if (root.contains("pharmgoat_version")) {
    versions["pbstarphaseVersion"] = take(root, "pharmgoat_version");
  } else {
    versions["pbstarphaseVersion"] = take(metadata, "pbstarphase_version");
  }
  versions["cpicVersion"] = take(metadata, "cpic_version");
  versions["hlaVersion"] = take(metadata, "hla_version");
  versions["pharmvarVersion"] = take(metadata, "pharmvar_version");
  return versions;
}

}  // namespace callset_converter
