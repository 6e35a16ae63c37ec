#include "InputGenerator.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string_view>

#include <nlohmann/json.hpp>

namespace callset_bench {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

Scale full_scale() {
  Scale scale;
  scale.name = "full";
  scale.report_bytes = {1U << 20, 10U << 20, 100U << 20};
  scale.summary_genes_half = 10000;
  scale.summary_genes_full = 20000;
  scale.rows_half = 50000;
  scale.rows_full = 100000;
  scale.directory_files = 1000;
  return scale;
}

Scale smoke_scale() {
  Scale scale;
  scale.name = "smoke";
  scale.report_bytes = {512U << 10, 1U << 20};
  scale.summary_genes_half = 200;
  scale.summary_genes_full = 400;
  scale.rows_half = 500;
  scale.rows_full = 1000;
  scale.directory_files = 24;
  return scale;
}

namespace {

// Appends the parts (texts, literals) to `out` one after the other, with no
// temporaries in between as a chain of + makes.
template <class... Parts>
void append_all(std::string& out, const Parts&... parts) {
  (out.append(parts), ...);
}

// The parts joined into a new text.
template <class... Parts>
std::string concat(const Parts&... parts) {
  std::string out;
  append_all(out, parts...);
  return out;
}

// A small deterministic generator (splitmix64), the same on every platform.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t bound) { return static_cast<std::size_t>(next() % bound); }
  template <class T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[below(N)];
  }

 private:
  std::uint64_t state_;
};

constexpr std::array<const char*, 22> kPharmcatGenes = {
    "ABCG2", "CACNA1S", "CFTR",  "CYP2B6", "CYP2C19", "CYP2C9", "CYP2D6", "CYP3A4",  "CYP3A5", "CYP4F2", "DPYD",
    "G6PD",  "HLA-A",   "HLA-B", "IFNL3",  "MT-RNR1", "NUDT15", "RYR1",   "SLCO1B1", "TPMT",   "UGT1A1", "VKORC1"};

constexpr std::array<const char*, 35> kStarphaseGenes = {
    "ABCG2",  "CACNA1S", "CFTR",    "CYP1A2",  "CYP2A13", "CYP2A6", "CYP2B6",  "CYP2C19", "CYP2C8",
    "CYP2C9", "CYP2D6",  "CYP3A4",  "CYP3A5",  "CYP4F2",  "DPYD",   "G6PD",    "GSTM1",   "HLA-A",
    "HLA-B",  "IFNL3",   "MT-RNR1", "NAT2",    "NUDT15",  "RYR1",   "SLCO1B1", "TPMT",    "UGT1A1",
    "VKORC1", "CYP2E1",  "CYP3A7",  "CYP4F12", "SULT1A1", "UGT2B7", "UGT2B15", "UGT2B17"};

constexpr std::array<const char*, 8> kAlleles = {"*1", "*2", "*3", "*4", "*10", "*17", "*41", "*1.001"};
constexpr std::array<const char*, 6> kPhenotypes = {
    "Normal Metabolizer", "Intermediate Metabolizer",        "Poor Metabolizer",
    "Rapid Metabolizer",  "Likely Intermediate Metabolizer", "Indeterminate"};
constexpr std::array<const char*, 4> kFunctions = {"Normal function", "Decreased function", "No function",
                                                   "Increased function"};
constexpr std::array<const char*, 4> kDrugSources = {"CPIC Guideline Annotation", "DPWG Guideline Annotation",
                                                     "FDA Label Annotation", "FDA PGx Association"};
constexpr std::array<const char*, 48> kWords = {
    "patients",    "with",           "this",         "genotype",   "may",         "have",
    "an",          "increased",      "risk",         "of",         "toxicity",    "consider",
    "reduced",     "starting",       "dose",         "and",        "titrate",     "to",
    "clinical",    "effect",         "the",          "metabolism", "is",          "decreased",
    "plasma",      "concentrations", "are",          "higher",     "alternative", "therapy",
    "recommended", "monitor",        "response",     "adverse",    "events",      "standard",
    "dosing",      "applies",        "evidence",     "moderate",   "strong",      "optional",
    "label",       "warning",        "10\u00b5g/kg", "\u2265 50%", "\u2013",      "guideline"};
constexpr std::array<const char*, 12> kDrugStems = {"abaca",  "allopu",  "amika", "atomo", "carba",  "celeco",
                                                    "citalo", "clopido", "codei", "efavi", "fluoro", "warfa"};
constexpr std::array<const char*, 6> kDrugEndings = {"vir", "rinol", "cin", "xetine", "mazepine", "mab"};

std::string sentence(Random& random, std::size_t words) {
  std::string out;
  for (std::size_t i = 0; i < words; ++i) {
    if (i > 0) out += ' ';
    out += random.pick(kWords);
  }
  out += '.';
  if (!out.empty()) out[0] = static_cast<char>(out[0] >= 'a' && out[0] <= 'z' ? out[0] - 'a' + 'A' : out[0]);
  return out;
}

std::string pa_id(Random& random) { return "PA" + std::to_string(100000 + random.below(166400000)); }

Json allele(Random& random, const std::string& gene, const std::string& name) {
  Json value = Json::object();
  value["gene"] = gene;
  value["name"] = name;
  value["function"] = random.pick(kFunctions);
  value["reference"] = name == "*1";
  value["activityValue"] = random.below(3) == 0 ? Json() : Json("1.0");
  return value;
}

Json diplotype(Random& random, const std::string& gene, const std::string& source) {
  const std::string a = random.pick(kAlleles);
  const std::string b = random.pick(kAlleles);
  Json value = Json::object();
  value["allele1"] = allele(random, gene, a);
  value["allele2"] = allele(random, gene, b);
  value["gene"] = gene;
  value["matchScore"] = 160 + random.below(40);
  value["phenotypes"] = Json::array({random.pick(kPhenotypes)});
  value["outsidePhenotype"] = false;
  value["activityScore"] = random.below(2) == 0 ? Json("2.0") : Json("1.0");
  value["label"] = a + "/" + b;
  value["inferred"] = false;
  value["phenotypeDataSource"] = source;
  value["diplotypeKey"] = Json::object({{a, 1.0}, {b, 1.0}});
  return value;
}

Json gene_report(Random& random, const std::string& gene, const std::string& source, bool with_source) {
  Json report = Json::object();
  report["alleleDefinitionVersion"] = "2025-05-14-21-40";
  report["alleleDefinitionSource"] = "PHARMGKB";
  if (with_source) report["phenotypeSource"] = source;
  report["geneSymbol"] = gene;
  report["chr"] = "chr" + std::to_string(1 + random.below(22));
  report["phased"] = false;
  report["callSource"] = "MATCHER";
  report["messages"] = Json::array({Json::object(
      {{"rule_name", "reference-allele"}, {"exception_type", "note"}, {"message", sentence(random, 24)}})});
  Json drugs = Json::array();
  for (std::size_t i = 0; i < 12; ++i) {
    drugs.push_back(Json::object(
        {{"name", std::string(random.pick(kDrugStems)) + random.pick(kDrugEndings)}, {"id", pa_id(random)}}));
  }
  report["relatedDrugs"] = std::move(drugs);
  const Json called = diplotype(random, gene, source);
  report["sourceDiplotypes"] = Json::array({called});
  report["recommendationDiplotypes"] = Json::array({called});
  Json variants = Json::array();
  for (std::size_t i = 0; i < 20; ++i) {
    variants.push_back(Json::object({{"gene", gene},
                                     {"chromosome", report["chr"]},
                                     {"position", 94938683 + random.below(100000)},
                                     {"dbSnpId", "rs" + std::to_string(random.below(900000000))},
                                     {"call", "A/G"},
                                     {"alleles", Json::array({random.pick(kAlleles)})},
                                     {"phased", false},
                                     {"phaseSet", nullptr},
                                     {"referenceAllele", "A"},
                                     {"hasUndocumentedVariations", false},
                                     {"warnings", Json::array()}}));
  }
  report["variants"] = std::move(variants);
  return report;
}

// One recommendation of a drug's guideline: a few hundred bytes of text
// and a called diplotype.
Json annotation(Random& random, const std::string& gene) {
  Json value = Json::object();
  value["implications"] = Json::array({gene + ": " + sentence(random, 12)});
  value["drugRecommendation"] = sentence(random, 40);
  value["classification"] = random.below(2) == 0 ? "Strong" : "Moderate";
  value["activityScore"] = Json::object({{gene, random.below(2) == 0 ? "2.0" : "1.5"}});
  value["population"] = "general";
  value["genotypes"] = Json::array({Json::object({{"diplotypes", Json::array({diplotype(random, gene, "CPIC")})}})});
  value["messages"] = Json::array();
  value["dosingInformation"] = random.below(2) == 0;
  value["alternateDrugAvailable"] = random.below(2) == 0;
  value["phenotypes"] = Json::object({{gene, random.pick(kPhenotypes)}});
  return value;
}

// A drug entry of about `target` bytes, most of it guideline annotations.
Json drug_entry(Random& random, const std::string& name, const char* source, std::size_t target) {
  Json drug = Json::object();
  drug["name"] = name;
  drug["id"] = pa_id(random);
  drug["source"] = source;
  drug["version"] = "2025-05-14-21-40";
  drug["messages"] = Json::array();
  drug["urls"] = Json::array({"https://www.pharmgkb.org/guidelineAnnotation/" + pa_id(random)});
  Json citations = Json::array();
  for (std::size_t i = 0; i < 2; ++i) {
    citations.push_back(Json::object({{"pmid", std::to_string(20000000 + random.below(9000000))},
                                      {"title", sentence(random, 14)},
                                      {"journal", "Clinical pharmacology and therapeutics"},
                                      {"year", 2012 + random.below(13)}}));
  }
  drug["citations"] = std::move(citations);
  Json annotations = Json::array();
  std::size_t size = 600;
  const std::string gene = random.pick(kPharmcatGenes);
  while (size < target) {
    Json item = annotation(random, gene);
    size += item.dump(2).size() + 16;
    annotations.push_back(std::move(item));
  }
  drug["guidelines"] = Json::array({Json::object({{"id", pa_id(random)},
                                                  {"name", "Annotation of guideline for " + name + " and " + gene},
                                                  {"source", source},
                                                  {"annotations", std::move(annotations)}})});
  return drug;
}

// Appends `value` written with two-space indentation, as the callers write
// their JSON, starting at nesting level `level`.
void append_pretty(std::string& out, const Json& value, std::size_t level) {
  const std::string text = value.dump(2);
  const std::string indent(level * 2, ' ');
  for (const char c : text) {
    out += c;
    if (c == '\n') out += indent;
  }
}

void append_member(std::string& out, std::string_view name, const Json& value, std::size_t level, bool last) {
  out.append(level * 2, ' ');
  out += Json(std::string(name)).dump();
  out += ": ";
  append_pretty(out, value, level);
  out += last ? "\n" : ",\n";
}

// Writes `content` to `path` through a temporary name, so that an
// interrupted run leaves no half-written input behind.
void write_file(const std::string& path, const std::string& content) {
  const std::string partial = path + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + partial);
  }
  fs::rename(partial, path);
}

// One entry of a gene report's variant list, shaped as PharmCAT writes them.
Json variant_entry(Random& random, const std::string& gene, const Json& chromosome) {
  const std::size_t dbsnp = random.below(900000000);
  const bool documented = random.below(8) != 0;
  return Json::object({{"gene", gene},
                       {"chromosome", chromosome},
                       {"position", 94938683 + random.below(100000)},
                       {"dbSnpId", dbsnp % 10 == 0 ? Json() : Json("rs" + std::to_string(dbsnp))},
                       {"call", random.below(2) == 0 ? "A/G" : "CGAT/CGAT"},
                       {"alleles", documented ? Json::array({random.pick(kAlleles)}) : Json::array()},
                       {"phased", false},
                       {"phaseSet", nullptr},
                       {"referenceAllele", random.below(2) == 0 ? "A" : "CGAT"},
                       {"hasUndocumentedVariations", !documented},
                       {"warnings", Json::array()}});
}

// A gene report as a PharmCAT report carries it: with a variant list of
// `variant_count` entries and the members that follow it.
Json full_gene_report(Random& random, const std::string& gene, const std::string& source, bool with_source,
                      std::size_t variant_count) {
  Json report = gene_report(random, gene, source, with_source);
  Json variants = Json::array();
  for (std::size_t i = 0; i < variant_count; ++i) variants.push_back(variant_entry(random, gene, report["chr"]));
  report["variants"] = std::move(variants);
  report["variantsOfInterest"] = Json::array();
  report["hasUndocumentedVariations"] = false;
  report["treatUndocumentedVariationsAsReference"] = false;
  return report;
}

// The share of a generated report that its gene reports take: real reports
// carry hundreds of variants per gene, so that the gene reports are an
// eighth of a large report and a third of a small one.
constexpr double kGeneReportShare = 0.13;

// Variants per gene report for `reports` gene reports to take their share
// of a report of `target` bytes (at least the 20 of a small report).
std::size_t variants_per_report(std::size_t target, std::size_t reports) {
  Random random(0);
  Json sample = Json::array({variant_entry(random, "CYP2C19", "chr10")});
  std::string entry;
  // Entries sit five levels deep in a source-keyed report.
  append_pretty(entry, sample, 4);
  const auto budget = static_cast<std::size_t>(static_cast<double>(target) * kGeneReportShare) / reports;
  constexpr std::size_t kReportWithoutVariants = 6000;
  return std::max<std::size_t>(20, (budget > kReportWithoutVariants ? budget - kReportWithoutVariants : 0) /
                                       std::max<std::size_t>(1, entry.size()));
}

std::string pharmcat_report(std::size_t target, bool gene_keyed, std::uint64_t seed) {
  Random random(seed);
  std::string out = "{\n";
  append_member(out, "title", "bench.sample", 1, false);
  append_member(out, "timestamp", "2025-05-15T07:13:26.090Z", 1, false);
  append_member(out, "pharmcatVersion", gene_keyed ? "v3.1.0-2-g0b250f81" : "v3.0.0-2-g0cb8e32a", 1, false);
  append_member(out, "dataVersion", "2025-05-14-21-40", 1, false);

  Json genes = Json::object();
  if (gene_keyed) {
    const std::size_t variants = variants_per_report(target, kPharmcatGenes.size());
    for (const char* gene : kPharmcatGenes) genes[gene] = full_gene_report(random, gene, "CPIC", false, variants);
  } else {
    const std::size_t variants = variants_per_report(target, kPharmcatGenes.size() * 2 - kPharmcatGenes.size() / 3);
    for (const char* source : {"CPIC", "DPWG"}) {
      Json collection = Json::object();
      for (std::size_t i = 0; i < kPharmcatGenes.size(); ++i) {
        if (std::string_view(source) == "DPWG" && i % 3 == 2) continue;
        collection[kPharmcatGenes[i]] = full_gene_report(random, kPharmcatGenes[i], source, true, variants);
      }
      genes[source] = std::move(collection);
    }
  }
  append_member(out, "genes", genes, 1, false);

  // The rest: three quarters drug annotations, one quarter messages.
  const std::size_t rest = target > out.size() + 4096 ? target - out.size() - 4096 : 0;
  const std::size_t per_source = rest * 3 / 4 / kDrugSources.size();
  const std::size_t drugs_per_source = std::clamp<std::size_t>(per_source / 2500, 4, 250);
  out += "  \"drugs\": {\n";
  for (std::size_t s = 0; s < kDrugSources.size(); ++s) {
    out += "    " + Json(kDrugSources[s]).dump() + ": {\n";
    for (std::size_t d = 0; d < drugs_per_source; ++d) {
      const std::string name = std::string(kDrugStems[d % kDrugStems.size()]) +
                               kDrugEndings[(d / kDrugStems.size()) % kDrugEndings.size()] +
                               (d < kDrugStems.size() * kDrugEndings.size() ? "" : " " + std::to_string(d));
      append_member(out, name, drug_entry(random, name, kDrugSources[s], per_source / drugs_per_source), 3,
                    d + 1 == drugs_per_source);
    }
    out += s + 1 == kDrugSources.size() ? "    }\n" : "    },\n";
  }
  out += "  },\n";

  out += "  \"messages\": [\n";
  bool first = true;
  while (out.size() + 1024 < target || first) {
    if (!first) out += ",\n";
    first = false;
    Json message = Json::object();
    message["rule_name"] = "warfarin-missing-" + std::to_string(random.below(1000));
    message["version"] = nullptr;
    message["matches"] = Json::object({{"variants", Json::array({"rs" + std::to_string(random.below(90000000))})}});
    message["exception_type"] = "message";
    message["message"] = sentence(random, 30);
    out.append(4, ' ');
    append_pretty(out, message, 2);
  }
  out += "\n  ],\n";
  append_member(out, "matcherMetadata",
                Json::object({{"namedAlleleMatcherVersion", "2.0.0"},
                              {"genomeBuild", "GRCh38.p14"},
                              {"sampleId", "Sample_1"},
                              {"topCandidatesOnly", true}}),
                1, false);
  append_member(out, "unannotatedGeneCalls", Json::array(), 1, true);
  out += "}";
  return out;
}

std::string gene_name(std::size_t index) {
  if (index < kStarphaseGenes.size()) return kStarphaseGenes[index];
  char name[32];
  std::snprintf(name, sizeof name, "GENE%05zu", index);
  return name;
}

std::string starphase_summary(std::size_t genes, std::uint64_t seed) {
  Random random(seed);
  Json details = Json::object();
  std::string out = "{\n";
  append_member(out, "pbstarphase_version", "1.3.0-bench", 1, false);
  append_member(out, "database_metadata",
                Json::object({{"pbstarphase_version", "1.3.0-bench"},
                              {"cpic_version", "2025-05-14"},
                              {"hla_version", "3.58.0"},
                              {"pharmvar_version", "6.2.3"},
                              {"build_time", "2025-05-20T10:00:00Z"}}),
                1, false);
  out += "  \"gene_details\": {\n";
  for (std::size_t g = 0; g < genes; ++g) {
    const std::string gene = gene_name(g);
    const std::string a = random.pick(kAlleles);
    const std::string b = random.pick(kAlleles);
    const Json call = Json::object({{"hap1", a}, {"hap2", b}, {"diplotype", concat(a, "/", b)}});
    Json payload = Json::object();
    payload["diplotypes"] = Json::array({call});
    payload["simple_diplotypes"] = gene.starts_with("HLA") ? Json() : Json::array({call});
    payload["inexact_diplotypes"] = nullptr;
    Json variants = Json::array();
    for (std::size_t v = 0; v < 3; ++v) {
      variants.push_back(Json::object({{"variant_id", random.below(1000)},
                                       {"position", 94938683 + random.below(100000)},
                                       {"ref", "A"},
                                       {"alt", "G"},
                                       {"genotype", Json::array({0, 1})}}));
    }
    payload["variant_details"] = std::move(variants);
    payload["mapping_details"] = nullptr;
    payload["multi_mapping_details"] = nullptr;
    append_member(out, gene, payload, 2, g + 1 == genes);
  }
  out += "  }\n}";
  return out;
}

std::string pypgx_table(std::size_t rows, std::uint64_t seed) {
  Random random(seed);
  std::string out = "\tGenotype\tPhenotype\tHaplotype1\tHaplotype2\tAlternativePhase\tVariantData\tCNV\n";
  for (std::size_t r = 0; r < rows; ++r) {
    const std::string a = random.pick(kAlleles);
    const std::string b = random.pick(kAlleles);
    char sample[32];
    std::snprintf(sample, sizeof sample, "NA%06zu_PyPGx", r);
    out += sample;
    append_all(out, "\t", a, "/", b, "\t", random.pick(kPhenotypes), "\t", a, ";\t", b, ";*2;\t;\t");
    append_all(out, b, ":22-42524947-C-T:0.", std::to_string(100 + random.below(900)), ";", a, ":default;\tNormal\n");
  }
  return out;
}

std::string upload_csv(std::size_t rows, std::uint64_t seed) {
  Random random(seed);
  std::string out = "Gene,Diplotype,Phenotype\n";
  for (std::size_t r = 0; r < rows; ++r) {
    const std::string a = random.pick(kAlleles);
    const std::string b = random.pick(kAlleles);
    append_all(out, gene_name(r), ",", a, "/", b, ",", random.pick(kPhenotypes), "\n");
  }
  return out;
}

// An uploaded JSON object from gene to diplotype: one object of `genes`
// members, the largest single object of all the inputs.
std::string upload_json(std::size_t genes, std::uint64_t seed) {
  Random random(seed);
  std::string out = "{\n";
  for (std::size_t g = 0; g < genes; ++g) {
    const std::string call = std::string(random.pick(kAlleles)) + "/" + random.pick(kAlleles);
    out += "  " + Json(gene_name(g)).dump() + ": " + Json(call).dump() + (g + 1 == genes ? "\n" : ",\n");
  }
  return out + "}";
}

// One small per-sample file of one of four kinds, by `index`.
std::pair<std::string, std::string> sample_file(std::size_t index, Random& random) {
  char stem[32];
  std::snprintf(stem, sizeof stem, "S%04zu", index);
  switch (index % 4) {
    case 0: {
      Json root = Json::object();
      Json reports = Json::object();
      for (std::size_t g = 0; g < 3; ++g) {
        const std::string gene = random.pick(kPharmcatGenes);
        reports[gene] = gene_report(random, gene, "CPIC", false);
      }
      root["matcherMetadata"] = Json::object({{"sampleId", stem}});
      root["geneReports"] = std::move(reports);
      root["unannotatedGeneCalls"] = Json::array();
      return {std::string(stem) + ".pharmcat.phenotype.json", root.dump(2)};
    }
    case 1:
      return {std::string(stem) + ".pbstarphase.json", starphase_summary(8, random.next())};
    case 2: {
      std::string text = "#gene\tdiplotype\n";
      for (std::size_t g = 0; g < 8; ++g) {
        text += gene_name(g) + "\t" + random.pick(kAlleles) + "/" + random.pick(kAlleles) + "\n";
      }
      return {std::string(stem) + ".pbstarphase.tsv", text};
    }
    default:
      return {std::string(stem) + ".upload.csv", upload_csv(12, random.next())};
  }
}

std::size_t file_size(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
}

std::string megabytes_label(std::size_t bytes) {
  if (bytes >= (1U << 20)) return std::to_string(bytes >> 20) + "mb";
  return std::to_string(bytes >> 10) + "kb";
}

// Marks the reports whose gene reports carry variant lists of real size, so
// that inputs kept from earlier runs, with short lists, are not reused.
constexpr const char* kReportGeneration = "-full";

}  // namespace

std::vector<InputCase> prepare_inputs(const std::string& dir, const Scale& scale) {
  fs::create_directories(dir);
  std::vector<InputCase> cases;
  // Writes the file unless it is there already; records the case.
  const auto file_case = [&](const std::string& name, InputKind kind, const std::string& file_name, const auto& make) {
    const std::string path = (fs::path(dir) / file_name).string();
    if (!fs::exists(path)) write_file(path, make());
    cases.push_back(InputCase{name, kind, path, file_size(path)});
  };

  std::uint64_t seed = 1;
  for (const bool gene_keyed : {false, true}) {
    for (const std::size_t bytes : scale.report_bytes) {
      const std::string label = megabytes_label(bytes);
      const std::string layout = gene_keyed ? "gene-keyed" : "source-keyed";
      file_case(concat("report ", layout, " ", label), InputKind::Report,
                concat("sample-", layout, "-", label, kReportGeneration, ".pharmcat.report.json"),
                [&] { return pharmcat_report(bytes, gene_keyed, seed); });
      ++seed;
    }
  }
  // The largest source-keyed report again, under a name that says nothing.
  {
    const InputCase& largest = cases[scale.report_bytes.size() - 1];
    const std::string path =
        (fs::path(dir) / concat("upload-", megabytes_label(scale.report_bytes.back()), kReportGeneration, ".json"))
            .string();
    if (!fs::exists(path)) fs::create_symlink(fs::path(largest.path).filename(), path);
    cases.push_back(InputCase{"same, content sniffed", InputKind::SniffedReport, path, largest.bytes});
  }
  for (const std::size_t genes : {scale.summary_genes_real, scale.summary_genes_half, scale.summary_genes_full}) {
    file_case("pbStarPhase " + std::to_string(genes) + " genes", InputKind::Summary,
              "summary-" + std::to_string(genes) + ".pbstarphase.json",
              [&] { return starphase_summary(genes, 100 + genes); });
  }
  for (const std::size_t rows : {scale.rows_half, scale.rows_full}) {
    // PyPGx names a per-gene table after its gene; one folder per size.
    const std::string folder = (fs::path(dir) / ("pypgx-" + std::to_string(rows))).string();
    fs::create_directories(folder);
    file_case("PyPGx " + std::to_string(rows) + " rows", InputKind::SampleTable,
              "pypgx-" + std::to_string(rows) + "/CYP2D6.tsv", [&] { return pypgx_table(rows, 200 + rows); });
  }
  for (const std::size_t rows : {scale.rows_half, scale.rows_full}) {
    file_case("upload CSV " + std::to_string(rows) + " rows", InputKind::UploadCsv,
              "upload-" + std::to_string(rows) + ".csv", [&] { return upload_csv(rows, 300 + rows); });
  }
  for (const std::size_t rows : {scale.rows_half, scale.rows_full}) {
    file_case("upload JSON " + std::to_string(rows) + " genes", InputKind::UploadJson,
              "upload-keyed-" + std::to_string(rows) + ".json", [&] { return upload_json(rows, 500 + rows); });
  }
  {
    const std::string folder = (fs::path(dir) / ("samples-" + std::to_string(scale.directory_files))).string();
    if (!fs::exists(folder)) {
      const std::string partial = folder + ".partial";
      fs::remove_all(partial);
      fs::create_directories(partial);
      Random random(400);
      for (std::size_t i = 0; i < scale.directory_files; ++i) {
        const auto [name, content] = sample_file(i, random);
        write_file((fs::path(partial) / name).string(), content);
      }
      fs::rename(partial, folder);
    }
    std::size_t bytes = 0;
    for (const auto& entry : fs::directory_iterator(folder)) bytes += file_size(entry.path().string());
    cases.push_back(
        InputCase{std::to_string(scale.directory_files) + " sample files", InputKind::Directory, folder, bytes});
  }
  return cases;
}

}  // namespace callset_bench
