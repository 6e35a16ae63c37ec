#include "CallsetConverter/Fhir/FhirBundle.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <map>
#include <utility>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Support/Digest.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

namespace {

constexpr const char* LOINC = "http://loinc.org";
constexpr const char* HGNC = "http://www.genenames.org";
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

// A resource's generated narrative: a heading, lines and a list, every
// value escaped.
struct Narrative {
  std::string heading;
  std::vector<std::string> lines;
  std::vector<std::string> items;

  JsonDict to_json() const {
    std::string div = R"(<div xmlns="http://www.w3.org/1999/xhtml"><p><b>)" + xhtml_escape(heading) + "</b></p>";
    for (const auto& line : lines) div += "<p>" + xhtml_escape(line) + "</p>";
    if (!items.empty()) {
      div += "<ul>";
      for (const auto& item : items) div += "<li>" + xhtml_escape(item) + "</li>";
      div += "</ul>";
    }
    div += "</div>";
    JsonDict text = JsonDict::object();
    text["status"] = "generated";
    text["div"] = std::move(div);
    return text;
  }
};

// The members every resource opens with; its narrative follows the
// profile, as FHIR writes them.
JsonDict resource_header(const char* type, const std::string& id, const char* profile, const Narrative& narrative) {
  JsonDict resource = JsonDict::object();
  resource["resourceType"] = type;
  resource["id"] = id;
  if (profile != nullptr) resource["meta"]["profile"] = JsonDict::array({std::string(PROFILE_BASE) + profile});
  resource["text"] = narrative.to_json();
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
// of a two-allele HLA genotype. Nothing when an allele is not an
// IPD-IMGT/HLA allele name of two fields or more ("*57" names an allele
// group, not an allele), so that no code is made up from a text it does not
// fit.
std::optional<std::string> gl_string(const std::string& gene, const std::string& star_allele) {
  const std::size_t slash = star_allele.find('/');
  if (slash == std::string::npos || star_allele.find('/', slash + 1) != std::string::npos) return std::nullopt;
  std::vector<std::string> alleles;
  for (const std::string& allele : {star_allele.substr(0, slash), star_allele.substr(slash + 1)}) {
    const std::vector<std::string> fields =
        split(std::string_view(allele).substr(std::min<std::size_t>(1, allele.size())), ':');
    const bool well_formed = allele.starts_with('*') && fields.size() >= 2 &&
                             std::all_of(fields.begin(), fields.end(), [](const std::string& field) {
                               return !field.empty() && field.find_first_not_of("0123456789") == std::string::npos;
                             });
    if (!well_formed) return std::nullopt;
    alleles.push_back(gene + allele);
  }
  return join(alleles, "+");
}

// A version value as one text: texts as they are, anything else as JSON.
std::string version_text(const JsonDict& value) {
  return value.is_string() ? value.get<std::string>() : to_json_text(value, JsonStyle::Compact);
}

// The per-gene terms of the sidecar's "unmappedTerms" ("GENE\tterm"), in
// the sidecar's order.
std::map<std::string, std::vector<std::string>> unmapped_terms_by_gene(const JsonDict* entries) {
  std::map<std::string, std::vector<std::string>> terms;
  if (entries == nullptr || !entries->is_array()) return terms;
  for (const auto& entry : *entries) {
    if (!entry.is_string()) continue;
    const std::string& text = entry.get_ref<const std::string&>();
    const std::size_t tab = text.find('\t');
    if (tab != std::string::npos) terms[text.substr(0, tab)].push_back(text.substr(tab + 1));
  }
  return terms;
}

// Why a gene with a genotype has no activity, as the sidecar tells it: its
// terms the mapping tables do not map, else that no caller gave any.
std::string no_phenotype_note(const std::vector<std::string>* unmapped) {
  if (unmapped == nullptr || unmapped->empty()) return "no phenotype: the caller reported none";
  std::vector<std::string> quoted;
  for (const auto& term : *unmapped) quoted.push_back(quoted_literal(term));
  return std::string("no phenotype: unmapped term") + (quoted.size() > 1 ? "s " : " ") + join(quoted, ", ");
}

JsonDict notes_of(const std::vector<std::string>& notes) {
  JsonDict value = JsonDict::array();
  for (const auto& note : notes) value.push_back(JsonDict{{"text", note}});
  return value;
}

// Where a gene's notes go: on its genotype, or on its implication when the
// genotype was not reported; what a reader must know first, then the
// gene's warnings in order.
struct GeneNotes {
  std::vector<std::string> genotype;
  std::vector<std::string> implication;
};

GeneNotes notes_for(const ReportRecord& record, const std::vector<std::string>* unmapped) {
  GeneNotes notes;
  std::vector<std::string>& target = record.star_allele ? notes.genotype : notes.implication;
  if (!record.star_allele) target.push_back("reported without a genotype");
  if (record.star_allele && !record.activity) target.push_back(no_phenotype_note(unmapped));
  target.insert(target.end(), record.warnings.begin(), record.warnings.end());
  return notes;
}

// The genotype's value: its text, and the GL String of an HLA genotype
// whose alleles it names. The IPD-IMGT/HLA version the run knows is
// pbStarPhase's database: it is the code system's version only for the
// calls pbStarPhase made.
JsonDict genotype_value(const ReportRecord& record, const std::string& text, const JsonDict* hla_version) {
  JsonDict value = JsonDict::object();
  const auto code = record.star_allele && starts_with(record.gene, "HLA-") ? gl_string(record.gene, *record.star_allele)
                                                                           : std::nullopt;
  if (code) {
    JsonDict gl_coding = JsonDict::object();
    gl_coding["system"] = GL_STRING;
    if (hla_version != nullptr && hla_version->is_string() && record.source == C::CALLER_PBSTARPHASE) {
      gl_coding["version"] = *hla_version;
    }
    gl_coding["code"] = *code;
    gl_coding["display"] = text;
    value["coding"] = JsonDict::array({std::move(gl_coding)});
  }
  value["text"] = text;
  return value;
}

// The findings of an activity: an HLA gene's activity joins one finding per
// allele ("*57:01 positive"), each named with its gene ("HLA-B*57:01
// positive"); any other activity is one finding.
std::vector<std::string> findings_of(const std::string& gene, const std::string& activity,
                                     const std::string& hla_separator) {
  std::vector<std::string> findings;
  if (starts_with(gene, "HLA-")) {
    for (const auto& finding : split(activity, std::string_view(hla_separator))) {
      if (!finding.empty()) findings.push_back(gene + (finding.starts_with('*') ? "" : " ") + finding);
    }
  }
  if (findings.empty()) findings.push_back(activity);
  return findings;
}

JsonDict implication_code() {
  return concept_of(coding(TBD_CODES, "therapeutic-implication", "Therapeutic Implication"));
}

// One therapeutic-implication component per finding, with its LOINC answer
// where the value set has one.
JsonDict implication_components(const std::vector<std::string>& findings) {
  JsonDict components = JsonDict::array();
  for (const auto& finding : findings) {
    JsonDict value = JsonDict::object();
    if (const auto answer = therapeutic_implication_coding(finding)) value["coding"] = JsonDict::array({*answer});
    value["text"] = finding;
    JsonDict component = JsonDict::object();
    component["code"] = implication_code();
    component["valueCodeableConcept"] = std::move(value);
    components.push_back(std::move(component));
  }
  return components;
}

// An input as a Provenance source: its base name and the digest of its
// bytes, never the path given.
JsonDict input_entity(const BundleInput& input) {
  JsonDict entity = JsonDict::object();
  entity["role"] = "source";
  if (!input.sha256.empty()) {
    entity["what"]["identifier"]["system"] = "urn:ietf:rfc:3986";
    entity["what"]["identifier"]["value"] = "urn:sha256:" + input.sha256;
  }
  entity["what"]["display"] = base_name(input.path);
  return entity;
}

std::string input_line(const BundleInput& input) {
  return "Input " + base_name(input.path) + (input.sha256.empty() ? "" : " (SHA-256 " + input.sha256 + ")");
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
  std::string text = sha256_hex(name).substr(0, 32);
  text[12] = '8';                                                                     // version 8
  text[16] = "89ab"[(text[16] <= '9' ? text[16] - '0' : text[16] - 'a' + 10) & 0x3];  // RFC variant
  for (const std::size_t dash : {20U, 16U, 12U, 8U}) text.insert(dash, 1, '-');
  return text;
}

std::string xhtml_escape(std::string_view text) {
  constexpr const char* REPLACEMENT = "\xEF\xBF\xBD";
  std::string escaped;
  escaped.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (byte == '&') {
      escaped += "&amp;";
    } else if (byte == '<') {
      escaped += "&lt;";
    } else if (byte == '>') {
      escaped += "&gt;";
    } else if (byte == '"') {
      escaped += "&quot;";
    } else if (byte == '\'') {
      escaped += "&#39;";
    } else if (byte < 0x20 || byte == 0x7f) {
      escaped += REPLACEMENT;
    } else if (byte == 0xc2 && next >= 0x80 && next <= 0x9f) {  // C1 controls
      escaped += REPLACEMENT;
      ++i;
    } else if (byte == 0xef && next == 0xbf && i + 2 < text.size() &&
               (static_cast<unsigned char>(text[i + 2]) & 0xfe) == 0xbe) {  // U+FFFE, U+FFFF
      escaped += REPLACEMENT;
      i += 2;
    } else {
      escaped += text[i];
    }
  }
  return escaped;
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
  const JsonDict* hla_version =
      callers != nullptr && callers->is_object() ? find_member(*callers, "hlaVersion") : nullptr;
  const auto unmapped = unmapped_terms_by_gene(find_member(sidecar, "unmappedTerms"));

  // Everything the Bundle says, apart from the run time, seeds its ids; the
  // inputs count by their bytes, never by where they lie.
  JsonDict content = JsonDict::object();
  content["sample"] = sample ? JsonDict(*sample) : JsonDict(nullptr);
  content["inputs"] = JsonDict::array();
  for (const auto& input : inputs) content["inputs"].push_back(input.sha256);
  content["genes"] = JsonDict::array();
  for (const auto& record : records) content["genes"].push_back(record.to_result());
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
  JsonDict patient = resource_header("Patient", patient_id, nullptr,
                                     Narrative{"Patient", {sample ? "Sample " + *sample : "No sample ID given"}, {}});
  if (sample) patient["identifier"] = JsonDict::array({JsonDict{{"value", *sample}}});
  add_entry(patient_id, std::move(patient));

  const std::string report_id = id_for("DiagnosticReport");
  std::vector<std::pair<std::string, JsonDict>> observations;  // in entry order
  std::vector<std::vector<std::string>> observations_of_input(inputs.size());
  std::vector<std::vector<std::string>> genes_of_input(inputs.size());
  std::vector<std::string> no_genotype;
  std::vector<std::string> phenotype_only;
  Narrative report_narrative{"Pharmacogenomic report", {}, {}};
  for (const auto& record : records) {
    report_narrative.lines.push_back(record.gene + ": genotype " + record.star_allele.value_or("not reported") +
                                     "; phenotype " + record.activity.value_or("not reported"));
    if (!record.star_allele && !record.activity) {
      no_genotype.push_back(record.gene);
      for (const auto& warning : record.warnings) report_narrative.items.push_back(record.gene + ": " + warning);
      continue;
    }
    if (!record.star_allele) phenotype_only.push_back(record.gene);
    const std::string genotype_text =
        record.gene + " " + (record.star_allele ? *record.star_allele : std::string("genotype not reported"));
    const auto found = unmapped.find(record.gene);
    const GeneNotes notes = notes_for(record, found == unmapped.end() ? nullptr : &found->second);
    JsonDict gene_studied = JsonDict::object();
    const GeneCodes* codes = gene_table != nullptr ? gene_table->find(record.gene) : nullptr;
    std::string gene_line = "Gene studied: " + record.gene;
    if (codes != nullptr) {
      gene_studied["coding"] = JsonDict::array({coding(HGNC, codes->hgnc_id, record.gene)});
      gene_line += " (" + codes->hgnc_id + ")";
    } else {
      gene_studied["text"] = record.gene;
      log_warning("%s: not in the gene table; its FHIR genotype names the gene without an HGNC id", record.gene);
    }

    const std::string genotype_id = id_for("genotype\n" + record.gene);
    JsonDict genotype =
        resource_header("Observation", genotype_id, "genotype",
                        Narrative{record.gene + " genotype",
                                  {"Genotype: " + record.star_allele.value_or("not reported"), gene_line},
                                  notes.genotype});
    genotype["status"] = "final";
    genotype["category"] = observation_categories();
    genotype["code"] = concept_of(coding(LOINC, "84413-4", "Genotype display name"));
    genotype["subject"] = subject;
    genotype["valueCodeableConcept"] = genotype_value(record, genotype_text, hla_version);
    if (!notes.genotype.empty()) genotype["note"] = notes_of(notes.genotype);
    JsonDict component = JsonDict::object();
    component["code"] = concept_of(coding(LOINC, "48018-6", "Gene studied [ID]"));
    component["valueCodeableConcept"] = std::move(gene_studied);
    genotype["component"] = JsonDict::array({std::move(component)});
    std::vector<std::string> urls{url_of(genotype_id)};
    observations.emplace_back(genotype_id, std::move(genotype));

    if (record.activity) {
      const std::vector<std::string> findings = findings_of(record.gene, *record.activity, hla_separator);
      std::vector<std::string> lines;
      for (const auto& finding : findings) lines.push_back("Phenotype: " + finding);
      lines.push_back("Derived from the genotype: " + genotype_text);
      const std::string implication_id = id_for("therapeutic-implication\n" + record.gene);
      JsonDict implication =
          resource_header("Observation", implication_id, "therapeutic-implication",
                          Narrative{record.gene + " therapeutic implication", std::move(lines), notes.implication});
      implication["status"] = "final";
      implication["category"] = observation_categories();
      implication["code"] = implication_code();
      implication["subject"] = subject;
      implication["derivedFrom"] = JsonDict::array({reference_to(url_of(genotype_id))});
      if (!notes.implication.empty()) implication["note"] = notes_of(notes.implication);
      implication["component"] = implication_components(findings);
      urls.push_back(url_of(implication_id));
      observations.emplace_back(implication_id, std::move(implication));
    }

    for (std::size_t i = 0; i < inputs.size(); ++i) {
      if (record.input_file && inputs[i].path == *record.input_file) {
        observations_of_input[i].insert(observations_of_input[i].end(), urls.begin(), urls.end());
        genes_of_input[i].push_back(record.gene);
        break;
      }
    }
  }

  std::vector<std::string> sentences;
  if (!no_genotype.empty()) sentences.push_back("No genotype reported for: " + join(no_genotype, ", "));
  if (!phenotype_only.empty()) {
    sentences.push_back("Phenotype reported without a genotype for: " + join(phenotype_only, ", "));
  }
  const std::string conclusion = join(sentences, ". ");
  if (!conclusion.empty()) report_narrative.lines.push_back(conclusion);
  if (records.empty()) report_narrative.lines.push_back("No gene reported");
  JsonDict report = resource_header("DiagnosticReport", report_id, "genomic-report", report_narrative);
  report["status"] = "final";
  report["category"] = JsonDict::array({genetics_category()});
  report["code"] = concept_of(coding(LOINC, "51969-4", "Genetic analysis report"));
  report["subject"] = subject;
  report["issued"] = run_time;
  JsonDict results = JsonDict::array();
  for (const auto& observation : observations) results.push_back(reference_to(url_of(observation.first)));
  if (!results.empty()) report["result"] = std::move(results);
  if (!conclusion.empty()) report["conclusion"] = conclusion;
  add_entry(report_id, std::move(report));
  for (auto& [id, resource] : observations) add_entry(id, std::move(resource));

  const std::string agent_name = "callset-converter " + program_version;
  const auto provenance_of = [&](const std::string& id, const Narrative& narrative, JsonDict targets,
                                 JsonDict entities) {
    JsonDict provenance = resource_header("Provenance", id, nullptr, narrative);
    provenance["target"] = std::move(targets);
    provenance["recorded"] = run_time;
    JsonDict agent = JsonDict::object();
    agent["who"]["display"] = agent_name;
    provenance["agent"] = JsonDict::array({std::move(agent)});
    provenance["entity"] = std::move(entities);
    return provenance;
  };

  Narrative run_narrative{"Provenance of the report", {"Recorded " + run_time + " by " + agent_name}, {}};
  JsonDict run_entities = JsonDict::array();
  for (const auto& input : inputs) {
    run_entities.push_back(input_entity(input));
    run_narrative.items.push_back(input_line(input));
  }
  for (const JsonDict* versions : {mapping_versions, callers}) {
    if (versions == nullptr || !versions->is_object()) continue;
    for (const auto& [name, version] : versions->items()) {
      if (version.is_null()) continue;
      const std::string display = name + " " + version_text(version);
      JsonDict entity = JsonDict::object();
      entity["role"] = "source";
      entity["what"]["display"] = display;
      run_entities.push_back(std::move(entity));
      run_narrative.items.push_back(display);
    }
  }
  const std::string run_provenance_id = id_for("Provenance");
  add_entry(run_provenance_id,
            provenance_of(run_provenance_id, run_narrative, JsonDict::array({reference_to(url_of(report_id))}),
                          std::move(run_entities)));

  for (std::size_t i = 0; i < inputs.size(); ++i) {
    if (observations_of_input[i].empty()) continue;
    JsonDict targets = JsonDict::array();
    for (const auto& url : observations_of_input[i]) targets.push_back(reference_to(url));
    const std::string id = id_for("Provenance\n" + std::to_string(i) + "\n" + inputs[i].sha256);
    add_entry(id, provenance_of(id,
                                Narrative{"Source of the results for " + join(genes_of_input[i], ", "),
                                          {input_line(inputs[i]), "Recorded " + run_time + " by " + agent_name},
                                          {}},
                                std::move(targets), JsonDict::array({input_entity(inputs[i])})));
  }

  JsonDict bundle = JsonDict::object();
  bundle["resourceType"] = "Bundle";
  bundle["id"] = id_for("Bundle");
  bundle["type"] = "collection";
  bundle["entry"] = std::move(entries);
  return bundle;
}
}  // namespace callset_converter
