#include "CallsetConverter/Fhir/FhirBundle.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <utility>

#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

constexpr const char* LOINC = "http://loinc.org";
constexpr const char* HGNC = "http://www.genenames.org";
constexpr const char* PHARMVAR = "http://www.pharmvar.org";
constexpr const char* GL_STRING = "http://glstring.org";
constexpr const char* TBD_CODES = "http://hl7.org/fhir/uv/genomics-reporting/CodeSystem/tbd-codes-cs";
constexpr const char* PROFILE_BASE = "http://hl7.org/fhir/uv/genomics-reporting/StructureDefinition/";

struct Answer {
  const char* code;
  const char* display;
};

// The LOINC answers of GeneticTherapeuticImplicationsVS in Genomics
// Reporting STU3 (3.0.0), with the value set's displays.
constexpr std::array<Answer, 19> THERAPEUTIC_IMPLICATIONS = {{
    {"LA10315-2", "Ultrarapid metabolizer"},
    {"LA25391-6", "Normal metabolizer"},
    {"LA25390-8", "Rapid metabolizer"},
    {"LA10317-8", "Intermediate metabolizer"},
    {"LA9657-3", "Poor metabolizer"},
    {"LA19542-2", "Low Risk"},
    {"LA19541-4", "High Risk"},
    {"LA6676-6", "Resistant"},
    {"LA6677-4", "Responsive"},
    {"LA9660-7", "Presumed resistant"},
    {"LA9661-5", "Presumed responsive"},
    {"LA6682-4", "Unknown Significance"},
    {"LA6675-8", "Benign"},
    {"LA6674-1", "Presumed Benign"},
    {"LA9662-3", "Presumed non-responsive"},
    {"LA25392-4", "Increased function"},
    {"LA25393-2", "Normal function"},
    {"LA25395-7", "Decreased function"},
    {"LA25394-0", "Poor function"},
}};

JsonDict coding(const char* system, const std::string& code, const std::string& display) {
  JsonDict value = JsonDict::object();
  value["system"] = system;
  value["code"] = code;
  value["display"] = display;
  return value;
}

JsonDict concept_of(JsonDict one_coding) {
  JsonDict value = JsonDict::object();
  value["coding"] = JsonDict::array({std::move(one_coding)});
  return value;
}

JsonDict reference_to(const std::string& full_url) {
  JsonDict value = JsonDict::object();
  value["reference"] = full_url;
  return value;
}

JsonDict resource_header(const char* type, const std::string& id, const char* profile) {
  JsonDict resource = JsonDict::object();
  resource["resourceType"] = type;
  resource["id"] = id;
  if (profile != nullptr) resource["meta"]["profile"] = JsonDict::array({std::string(PROFILE_BASE) + profile});
  return resource;
}

JsonDict genetics_category() {
  return concept_of(coding("http://terminology.hl7.org/CodeSystem/v2-0074", "GE", "Genetics"));
}

// The IG's genomic base profile asks for both categories on every
// Observation.
JsonDict observation_categories() {
  return JsonDict::array(
      {concept_of(coding("http://terminology.hl7.org/CodeSystem/observation-category", "laboratory", "Laboratory")),
       genetics_category()});
}

// "HLA-B*15:02+HLA-B*57:01" for HLA-B and "*15:02/*57:01": the GL String
// of a two-allele HLA genotype. Nothing when an allele is not a plain
// IPD-IMGT/HLA name, so that no code is made up from a text it does not fit.
std::optional<std::string> gl_string(const std::string& gene, const std::string& star_allele) {
  const std::size_t slash = star_allele.find('/');
  if (slash == std::string::npos || star_allele.find('/', slash + 1) != std::string::npos) return std::nullopt;
  std::vector<std::string> alleles;
  for (const std::string& allele : {star_allele.substr(0, slash), star_allele.substr(slash + 1)}) {
    const bool well_formed = allele.size() > 1 && allele[0] == '*' && allele[1] >= '0' && allele[1] <= '9' &&
                             allele.find_first_not_of("0123456789:", 1) == std::string::npos;
    if (!well_formed) return std::nullopt;
    alleles.push_back(gene + allele);
  }
  return join(alleles, "+");
}

// Whether every allele of a genotype ("*1/*17", "*68+*4/*4") is a star
// allele.
bool is_star_genotype(const std::string& genotype) {
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = genotype.find('/', start);
    if (start >= genotype.size() || genotype[start] != '*') return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

// 64-bit FNV-1a. The identifiers only need to be stable and distinct within
// one Bundle; nothing relies on them being hard to forge.
std::uint64_t fnv1a(std::string_view text, std::uint64_t basis) {
  for (const unsigned char byte : text) {
    basis ^= byte;
    basis *= 0x100000001b3ULL;
  }
  return basis;
}

// MurmurHash3's 64-bit finaliser: FNV-1a alone leaves names that differ
// only at the end with near-identical high bits.
std::uint64_t mix(std::uint64_t hash) {
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdULL;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ULL;
  hash ^= hash >> 33;
  return hash;
}

// A version value as one text: texts as they are, anything else as JSON.
std::string version_text(const JsonDict& value) {
  return value.is_string() ? value.get<std::string>() : to_json_text(value, JsonStyle::Compact);
}

}  // namespace

std::string fhir_instant(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  std::array<char, 32> text{};
  const std::size_t length = std::strftime(text.data(), text.size(), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return {text.data(), length};
}

std::string content_uuid(std::string_view name) {
  const std::uint64_t first = fnv1a(name, 0xcbf29ce484222325ULL);
  const std::uint64_t high = mix(first);
  const std::uint64_t low = mix(fnv1a(name, first ^ 0x9e3779b97f4a7c15ULL));
  std::array<unsigned char, 16> bytes{};
  for (int i = 0; i < 8; ++i) {
    bytes[i] = static_cast<unsigned char>(high >> (56 - 8 * i));
    bytes[8 + i] = static_cast<unsigned char>(low >> (56 - 8 * i));
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x80);  // version 8
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);  // RFC variant
  static constexpr const char* HEX = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += HEX[bytes[i] >> 4];
    text += HEX[bytes[i] & 0x0f];
  }
  return text;
}

std::optional<JsonDict> therapeutic_implication_coding(std::string_view activity) {
  const std::string key = to_lower(activity);
  for (const Answer& answer : THERAPEUTIC_IMPLICATIONS) {
    if (to_lower(answer.display) == key) return coding(LOINC, answer.code, answer.display);
  }
  return std::nullopt;
}

JsonDict FhirBundleBuilder::build() const {
  const JsonDict* mapping_versions = find_member(sidecar, "mappingVersions");
  const JsonDict* callers = find_member(sidecar, "callers");

  // Everything the Bundle says, apart from the run time, seeds its ids.
  JsonDict content = JsonDict::object();
  content["sample"] = sample ? JsonDict(*sample) : JsonDict(nullptr);
  content["genes"] = JsonDict::array();
  for (const auto& record : records) content["genes"].push_back(record.to_result());
  content["inputs"] = input_paths;
  content["mappingVersions"] = mapping_versions != nullptr ? *mapping_versions : JsonDict(nullptr);
  content["callers"] = callers != nullptr ? *callers : JsonDict(nullptr);
  content["program"] = program_version;
  const std::string seed = to_json_text(content, JsonStyle::Compact);
  const auto id_for = [&](const std::string& role) { return content_uuid(seed + "\n" + role); };
  const auto url_of = [](const std::string& id) { return "urn:uuid:" + id; };

  JsonDict entries = JsonDict::array();
  const auto add_entry = [&](const std::string& id, JsonDict resource) {
    JsonDict entry = JsonDict::object();
    entry["fullUrl"] = url_of(id);
    entry["resource"] = std::move(resource);
    entries.push_back(std::move(entry));
  };

  const std::string patient_id = id_for("Patient");
  const JsonDict subject = reference_to(url_of(patient_id));
  JsonDict patient = resource_header("Patient", patient_id, nullptr);
  if (sample) patient["identifier"] = JsonDict::array({JsonDict{{"value", *sample}}});
  add_entry(patient_id, std::move(patient));

  const std::string report_id = id_for("DiagnosticReport");
  JsonDict observations = JsonDict::array();  // [id, resource] pairs, in entry order
  std::vector<std::string> no_genotype;
  for (const auto& record : records) {
    if (!record.star_allele) {
      no_genotype.push_back(record.gene);
      continue;
    }
    const std::string text = record.gene + " " + *record.star_allele;
    JsonDict value = JsonDict::object();
    const GeneCodes* codes = gene_table != nullptr ? gene_table->find(record.gene) : nullptr;
    if (starts_with(record.gene, "HLA-")) {
      if (const auto code = gl_string(record.gene, *record.star_allele)) {
        value["coding"] = JsonDict::array({coding(GL_STRING, *code, text)});
      }
    } else if (codes != nullptr && codes->pharmvar_named && is_star_genotype(*record.star_allele)) {
      // The IG's own PGx example codes the genotype this way: the gene
      // symbol as the code, the genotype text as the display. A caller's
      // other allele names ("Reference", rs numbers) are not PharmVar's.
      value["coding"] = JsonDict::array({coding(PHARMVAR, record.gene, text)});
    }
    value["text"] = text;
    JsonDict gene_studied = JsonDict::object();
    if (codes != nullptr) {
      gene_studied["coding"] = JsonDict::array({coding(HGNC, codes->hgnc_id, record.gene)});
    } else {
      gene_studied["text"] = record.gene;
      log_warning("%s: not in the gene table; its FHIR genotype names the gene without an HGNC id", record.gene);
    }

    const std::string genotype_id = id_for("genotype\n" + record.gene);
    JsonDict genotype = resource_header("Observation", genotype_id, "genotype");
    genotype["status"] = "final";
    genotype["category"] = observation_categories();
    genotype["code"] = concept_of(coding(LOINC, "84413-4", "Genotype display name"));
    genotype["subject"] = subject;
    genotype["valueCodeableConcept"] = std::move(value);
    JsonDict component = JsonDict::object();
    component["code"] = concept_of(coding(LOINC, "48018-6", "Gene studied [ID]"));
    component["valueCodeableConcept"] = std::move(gene_studied);
    genotype["component"] = JsonDict::array({std::move(component)});
    observations.push_back(JsonDict::array({genotype_id, std::move(genotype)}));

    if (!record.activity) continue;
    JsonDict implication_value = JsonDict::object();
    if (const auto answer = therapeutic_implication_coding(*record.activity)) {
      implication_value["coding"] = JsonDict::array({*answer});
    }
    implication_value["text"] = *record.activity;
    const JsonDict implication_code =
        concept_of(coding(TBD_CODES, "therapeutic-implication", "Therapeutic Implication"));
    const std::string implication_id = id_for("therapeutic-implication\n" + record.gene);
    JsonDict implication = resource_header("Observation", implication_id, "therapeutic-implication");
    implication["status"] = "final";
    implication["category"] = observation_categories();
    implication["code"] = implication_code;
    implication["subject"] = subject;
    implication["derivedFrom"] = JsonDict::array({reference_to(url_of(genotype_id))});
    JsonDict implication_component = JsonDict::object();
    implication_component["code"] = implication_code;
    implication_component["valueCodeableConcept"] = std::move(implication_value);
    implication["component"] = JsonDict::array({std::move(implication_component)});
    observations.push_back(JsonDict::array({implication_id, std::move(implication)}));
  }

  JsonDict report = resource_header("DiagnosticReport", report_id, "genomic-report");
  report["status"] = "final";
  report["category"] = JsonDict::array({genetics_category()});
  report["code"] = concept_of(coding(LOINC, "51969-4", "Genetic analysis report"));
  report["subject"] = subject;
  report["issued"] = run_time;
  JsonDict results = JsonDict::array();
  for (const auto& observation : observations) {
    results.push_back(reference_to(url_of(observation[0].get<std::string>())));
  }
  if (!results.empty()) report["result"] = results;
  if (!no_genotype.empty()) report["conclusion"] = "No genotype reported for: " + join(no_genotype, ", ");
  add_entry(report_id, std::move(report));
  for (auto& observation : observations) add_entry(observation[0].get<std::string>(), std::move(observation[1]));

  const std::string provenance_id = id_for("Provenance");
  JsonDict provenance = resource_header("Provenance", provenance_id, nullptr);
  JsonDict targets = JsonDict::array({reference_to(url_of(report_id))});
  for (const auto& result : results) targets.push_back(result);
  provenance["target"] = std::move(targets);
  provenance["recorded"] = run_time;
  JsonDict agent = JsonDict::object();
  agent["who"]["display"] = "callset-converter " + program_version;
  provenance["agent"] = JsonDict::array({std::move(agent)});
  JsonDict entities = JsonDict::array();
  const auto add_source = [&](const std::string& display) {
    JsonDict entity = JsonDict::object();
    entity["role"] = "source";
    entity["what"]["display"] = display;
    entities.push_back(std::move(entity));
  };
  for (const auto& path : input_paths) add_source(path);
  for (const JsonDict* versions : {mapping_versions, callers}) {
    if (versions == nullptr || !versions->is_object()) continue;
    for (const auto& [name, value] : versions->items()) add_source(name + " " + version_text(value));
  }
  provenance["entity"] = std::move(entities);
  add_entry(provenance_id, std::move(provenance));

  JsonDict bundle = JsonDict::object();
  bundle["resourceType"] = "Bundle";
  bundle["id"] = id_for("Bundle");
  bundle["type"] = "collection";
  bundle["entry"] = std::move(entries);
  return bundle;
}

}  // namespace callset_converter
