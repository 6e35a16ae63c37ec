// Clinical invariants of the whole conversion, checked on generated runs:
// two to six caller files over a small pool of genes, with star alleles in
// both haplotype orders, no-calls and phenotypes, read through the library
// with the shipped mapping tables.
//
// CALLSET_INVARIANT_SEED and CALLSET_INVARIANT_RUNS set the first seed and
// the number of runs; a failing run is shrunk (files, then calls, left out
// while it still fails) and printed with its seed.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CallsetConverter/CallsetConverter.h"
#include "CallsetConverter/Mappings.h"
#include "CallsetConverter/Parsers/SharedInputs.h"
#include "CallsetConverter/Support/Errors.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::LogCapture;
using testing::TempDir;

// ---- What a run holds ----

// One sample's call of one gene as a caller would write it.
struct GeneCall {
  std::string sample;
  std::string gene;
  // Absent for a no-call.
  std::optional<std::pair<std::string, std::string>> haplotypes;
  std::optional<std::string> phenotype;
  // PharmCAT's second phenotype source (DPWG) for the same diplotype.
  std::optional<std::string> second_phenotype;
  // PharmCAT called the gene without a guideline annotation.
  bool unannotated = false;
};

// How a caller writes its file and what its statements then say.
struct FileWriter {
  const char* kind;
  // The caller's format label, as warnings name it.
  const char* label;
  // The file name for the run's `index`-th file of this kind.
  std::function<std::string(std::size_t index, const std::vector<GeneCall>&)> name;
  std::string (*write)(const std::vector<GeneCall>&, const FileWriter&);
  // Whether the caller writes phenotypes, and whether its terms reach the
  // report as written (no sub-allele suffix removed).
  bool phenotypes = true;
  bool as_written = false;
  // The no-call as the caller writes it; a caller whose no-call reaches the
  // report as written gives it as the star allele and phenotype.
  std::string no_call = "Unknown/Unknown";
  // Rows of several samples, of which --sample picks one.
  bool cohort = false;
  // One gene per file (named after it); `gene`, when set, is the only gene
  // the caller calls.
  bool one_gene = false;
  const char* gene = nullptr;
  // Whether the caller writes anything for a gene it could not call.
  bool no_calls = true;
  // A second phenotype source and unannotated genes (PharmCAT's JSON).
  bool pharmcat_json = false;
};

std::string diplotype_text(const GeneCall& call, const FileWriter& writer) {
  return call.haplotypes ? call.haplotypes->first + "/" + call.haplotypes->second : writer.no_call;
}

std::string upload_csv(const std::vector<GeneCall>& calls, const FileWriter& writer) {
  std::string out = "Gene,Diplotype,Phenotype\n";
  for (const auto& call : calls) {
    out += call.gene + "," + diplotype_text(call, writer) + "," + call.phenotype.value_or("") + "\n";
  }
  return out;
}

std::string upload_json(const std::vector<GeneCall>& calls, const FileWriter& writer) {
  JsonDict rows = JsonDict::array();
  for (const auto& call : calls) {
    JsonDict row = {{"gene", call.gene}, {"diplotype", diplotype_text(call, writer)}};
    if (call.phenotype) row["phenotype"] = *call.phenotype;
    rows.push_back(std::move(row));
  }
  return rows.dump(2);
}

// PyPGx's data.tsv: the sample in an unnamed first column; with a Gene
// column when the table is not named after its one gene.
std::string pypgx_table(const std::vector<GeneCall>& calls, const FileWriter& writer, bool gene_column) {
  std::string out = gene_column ? "\tGene\tGenotype\tPhenotype\tHaplotype1\tHaplotype2\n"
                                : "\tGenotype\tPhenotype\tHaplotype1\tHaplotype2\n";
  for (const auto& call : calls) {
    out += call.sample + "\t" + (gene_column ? call.gene + "\t" : "") + diplotype_text(call, writer) + "\t" +
           call.phenotype.value_or(call.haplotypes ? "" : writer.no_call) + "\t" +
           (call.haplotypes ? call.haplotypes->first : "") + ";\t" + (call.haplotypes ? call.haplotypes->second : "") +
           ";\n";
  }
  return out;
}

JsonDict pharmcat_gene_report(const GeneCall& call, const FileWriter& writer,
                              const std::optional<std::string>& phenotype) {
  JsonDict diplotype = {
      {"label", diplotype_text(call, writer)},
      {"phenotypes", phenotype ? JsonDict::array({*phenotype})
                               : (call.haplotypes ? JsonDict::array() : JsonDict::array({"No Result"}))},
      {"activityScore", nullptr}};
  if (call.haplotypes) {
    diplotype["allele1"] = {{"name", call.haplotypes->first}};
    diplotype["allele2"] = {{"name", call.haplotypes->second}};
  }
  return {{"geneSymbol", call.gene}, {"sourceDiplotypes", JsonDict::array({diplotype})}};
}

// PharmCAT 3.0 (gene reports under their phenotype sources, unannotated
// calls at the root) or, without a second source or unannotated call, 3.1
// (gene reports keyed by gene).
std::string pharmcat_json(const std::vector<GeneCall>& calls, const FileWriter& writer) {
  const bool by_source = std::any_of(calls.begin(), calls.end(),
                                     [](const GeneCall& call) { return call.second_phenotype || call.unannotated; });
  JsonDict genes = JsonDict::object();
  JsonDict unannotated = JsonDict::array();
  for (const auto& call : calls) {
    if (call.unannotated) {
      unannotated.push_back(pharmcat_gene_report(call, writer, std::nullopt));
    } else if (!by_source) {
      genes[call.gene] = pharmcat_gene_report(call, writer, call.phenotype);
    } else {
      genes["CPIC"][call.gene] = pharmcat_gene_report(call, writer, call.phenotype);
      if (call.second_phenotype) genes["DPWG"][call.gene] = pharmcat_gene_report(call, writer, call.second_phenotype);
    }
  }
  JsonDict root = {{"pharmcatVersion", by_source ? "v3.0.0" : "v3.1.0"}, {"genes", genes}};
  if (by_source) root["unannotatedGeneCalls"] = unannotated;
  return root.dump(2);
}

std::string pharmcat_tsv(const std::vector<GeneCall>& calls, const FileWriter& writer) {
  std::string out = "PharmCAT v3.0.0\nGene\tSource Diplotype\tPhenotype\tActivity Score\n";
  for (const auto& call : calls) {
    out += call.gene + "\t" + diplotype_text(call, writer) + "\t" +
           call.phenotype.value_or(call.haplotypes ? "" : "No Result") + "\t\n";
  }
  return out;
}

std::string starphase_json(const std::vector<GeneCall>& calls, const FileWriter& writer) {
  JsonDict details = JsonDict::object();
  for (const auto& call : calls) {
    const std::string text = diplotype_text(call, writer);
    const JsonDict diplotype = {{"hap1", call.haplotypes ? call.haplotypes->first : "NO_MATCH"},
                                {"hap2", call.haplotypes ? call.haplotypes->second : "NO_MATCH"},
                                {"diplotype", text}};
    details[call.gene] = {{"diplotypes", JsonDict::array({diplotype})},
                          {"simple_diplotypes", JsonDict::array({diplotype})}};
  }
  return JsonDict{{"pbstarphase_version", "1.3.0"},
                  {"database_metadata", {{"pbstarphase_version", "1.3.0"}}},
                  {"gene_details", details}}
      .dump(2);
}

std::string starphase_tsv(const std::vector<GeneCall>& calls, const FileWriter& writer) {
  std::string out = "#gene\tdiplotype\n";
  for (const auto& call : calls) out += call.gene + "\t" + diplotype_text(call, writer) + "\n";
  return out;
}

// The CYP2D6 specialists' words for a report phenotype term.
std::string specialist_term(const std::optional<std::string>& phenotype, bool stellarpgx) {
  if (!phenotype) return stellarpgx ? "" : "-";
  static const std::map<std::string, std::pair<std::string, std::string>> words = {
      {"Normal Metabolizer", {"normal", "Normal metaboliser (NM)"}},
      {"Intermediate Metabolizer", {"intermediate", "Intermediate metaboliser (IM)"}},
      {"Poor Metabolizer", {"poor", "Poor metaboliser (PM)"}}};
  const auto& [aldy, stellar] = words.at(*phenotype);
  return stellarpgx ? stellar : aldy;
}

// Cyrius's table, with BCyrius's phenotype column when any row has one.
std::string cyrius_table(const std::vector<GeneCall>& calls, const FileWriter&) {
  const bool predicted = std::any_of(calls.begin(), calls.end(), [](const GeneCall& call) { return call.phenotype; });
  std::string out =
      predicted ? "Sample\tGenotype\tFilter\tActivity score\tPredicted phenotype\n" : "Sample\tGenotype\tFilter\n";
  for (const auto& call : calls) {
    out += call.sample + "\t" +
           (call.haplotypes ? call.haplotypes->first + "/" + call.haplotypes->second + "\tPASS" : "None\tNone");
    out += predicted ? "\t-\t" + specialist_term(call.phenotype, false) + "\n" : "\n";
  }
  return out;
}

// Aldy's report: one solution per sample and gene, its phenotype (Aldy 4.8)
// on the solution line. Aldy writes nothing for a gene it could not call.
std::string aldy_table(const std::vector<GeneCall>& calls, const FileWriter&) {
  std::string out =
      "#Sample\tGene\tSolutionID\tMajor\tMinor\tCopy\tAllele\tLocation\tType\tCoverage\tEffect\tdbSNP\tCode\tStatus\n";
  for (const auto& call : calls) {
    out += "#Solution 1: *1.001";
    if (call.phenotype)
      out += "; gene=" + call.gene + "-pharmvar-6.2.14 (2025-07-20); cpic=" + specialist_term(call.phenotype, false);
    out += "\n" + call.sample + "\t" + call.gene + "\t1\t" + call.haplotypes->first + "/" + call.haplotypes->second +
           "\t1.001\t0\t1.001\n";
  }
  return out;
}

// StellarPGx's <sample>_<gene>.alleles; an uncertain result is a sentence.
std::string stellarpgx_alleles(const std::vector<GeneCall>& calls, const FileWriter&) {
  const GeneCall& call = calls.front();
  return call.gene + " Star Allele Calling with StellarPGx\n\nInitially computed CN = 2\n\nSample core variants:\n" +
         "42126611~C>G~1/1\n\nCandidate alleles:\n['1.v1_4.v1']\n\nResult:\n" +
         (call.haplotypes ? call.haplotypes->first + "/" + call.haplotypes->second
                          : std::string("Possible novel allele or suballele present: interpret with caution")) +
         "\n\nActivity score:\n1.0\n\nMetaboliser status:\n" + specialist_term(call.phenotype, true) + "\n";
}

// Every reader the generator writes for. A new reader is one more entry:
// its file name, its writer and what its statements say.
const std::vector<FileWriter>& file_writers() {
  const auto numbered = [](const char* stem, const char* ending) {
    return [stem, ending](std::size_t index, const std::vector<GeneCall>&) {
      return stem + std::to_string(index) + ending;
    };
  };
  // PyPGx names a per-gene table after its gene; one folder per table.
  const auto gene_named = [](std::size_t index, const std::vector<GeneCall>& calls) {
    return "pypgx" + std::to_string(index) + "/" + calls.front().gene + ".tsv";
  };
  static const std::vector<FileWriter> writers = {
      {.kind = "upload CSV", .label = "diplotype_table", .name = numbered("lab", ".csv"), .write = upload_csv},
      {.kind = "upload JSON", .label = "diplotype_table", .name = numbered("upload", ".json"), .write = upload_json},
      {.kind = "PyPGx gene table",
       .label = "pypgx",
       .name = gene_named,
       .write = [](const auto& calls, const auto& writer) { return pypgx_table(calls, writer, false); },
       .as_written = true,
       .no_call = "Indeterminate",
       .cohort = true,
       .one_gene = true},
      {.kind = "PyPGx table with a Gene column",
       .label = "pypgx",
       .name = numbered("pypgx", ".tsv"),
       .write = [](const auto& calls, const auto& writer) { return pypgx_table(calls, writer, true); },
       .as_written = true,
       .no_call = "Indeterminate",
       .cohort = true},
      {.kind = "PharmCAT report JSON",
       .label = "pharmcat_report",
       .name = numbered("run", ".pharmcat.report.json"),
       .write = pharmcat_json,
       .pharmcat_json = true},
      {.kind = "PharmCAT phenotype JSON",
       .label = "pharmcat_phenotype",
       .name = numbered("run", ".pharmcat.phenotype.json"),
       .write = pharmcat_json,
       .pharmcat_json = true},
      {.kind = "PharmCAT TSV",
       .label = "pharmcat_report",
       .name = numbered("run", ".pharmcat.tsv"),
       .write = pharmcat_tsv},
      {.kind = "pbStarPhase JSON",
       .label = "pbstarphase",
       .name = numbered("sample", ".pbstarphase.json"),
       .write = starphase_json,
       .phenotypes = false,
       .no_call = "NO_MATCH/NO_MATCH"},
      {.kind = "pbStarPhase TSV",
       .label = "pbstarphase",
       .name = numbered("calls", ".tsv"),
       .write = starphase_tsv,
       .phenotypes = false,
       .no_call = "NO_MATCH/NO_MATCH"},
      {.kind = "Cyrius table",
       .label = "cyrius",
       .name = numbered("cyrius", ".tsv"),
       .write = cyrius_table,
       .cohort = true,
       .one_gene = true,
       .gene = "CYP2D6"},
      {.kind = "Aldy report",
       .label = "aldy",
       .name = numbered("sample", ".aldy"),
       .write = aldy_table,
       .cohort = true,
       .no_calls = false},
      {.kind = "StellarPGx result",
       .label = "stellarpgx",
       .name =
           [](std::size_t index, const std::vector<GeneCall>& calls) {
             return "stellar" + std::to_string(index) + "/" + calls.front().sample + "_" + calls.front().gene +
                    ".alleles";
           },
       .write = stellarpgx_alleles,
       .one_gene = true,
       .gene = "CYP2D6"},
  };
  return writers;
}

struct InputFile {
  std::size_t writer;
  std::vector<GeneCall> calls;
  // Also listed a second time, spelled with "./".
  bool listed_twice = false;
};

struct GeneratedRun {
  std::uint64_t seed = 0;
  std::vector<InputFile> files;
  // The sample chosen with --sample; every other file is that sample's.
  std::optional<std::string> sample;
};

// ---- Generation ----

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
  bool chance(std::size_t percent) { return below(100) < percent; }
  template <class T>
  const T& pick(const std::vector<T>& items) {
    return items[below(items.size())];
  }

 private:
  std::uint64_t state_;
};

// CYP2C8 may be recovered from pbStarPhase alone; the others may not.
const std::vector<std::string> kGenes = {"CYP2D6", "CYP2C19", "CYP2C9", "CYP2B6", "CYP2C8"};
const std::vector<std::string> kAlleles = {"*1", "*2", "*4", "*17", "*36+*10", "*4x2", "*2.001"};
const std::vector<std::string> kPhenotypes = {"Normal Metabolizer", "Intermediate Metabolizer", "Poor Metabolizer"};
const char* const kPatient = "P1";
const std::vector<std::string> kOtherSamples = {"P2", "P3"};

GeneCall random_call(Random& random, const std::string& sample, const std::string& gene, const FileWriter& writer) {
  GeneCall call{sample, gene, std::nullopt, std::nullopt, std::nullopt, false};
  if (!writer.no_calls || !random.chance(15))
    call.haplotypes = std::make_pair(random.pick(kAlleles), random.pick(kAlleles));
  // PyPGx writes a phenotype on every row.
  if (writer.phenotypes && call.haplotypes && (writer.as_written || random.chance(70))) {
    call.phenotype = random.pick(kPhenotypes);
  }
  if (writer.pharmcat_json && call.haplotypes) {
    if (random.chance(30)) {
      call.second_phenotype = random.pick(kPhenotypes);
    } else if (random.chance(20)) {
      call.unannotated = true;
      call.phenotype.reset();
    }
  }
  return call;
}

// Genes `sample` calls in one file: one to three distinct ones.
std::vector<std::string> random_genes(Random& random) {
  std::vector<std::string> genes = kGenes;
  for (std::size_t i = genes.size(); i > 1; --i) std::swap(genes[i - 1], genes[random.below(i)]);
  genes.resize(1 + random.below(3));
  return genes;
}

InputFile random_file(Random& random, bool with_sample) {
  InputFile file{random.below(file_writers().size()), {}, random.chance(10)};
  const FileWriter& writer = file_writers()[file.writer];
  const std::vector<std::string> genes =
      writer.one_gene ? std::vector<std::string>{writer.gene != nullptr ? writer.gene : random.pick(kGenes)}
                      : random_genes(random);
  for (const auto& gene : genes) file.calls.push_back(random_call(random, kPatient, gene, writer));
  if (with_sample && writer.cohort) {
    // Other patients' rows, before and after the chosen one's, on any genes:
    // without --sample the table must be refused whatever genes they call.
    for (const auto& other : kOtherSamples) {
      if (!random.chance(60)) continue;
      std::vector<std::string> other_genes = writer.one_gene ? genes : random_genes(random);
      std::sort(other_genes.begin(), other_genes.end());
      other_genes.erase(std::unique(other_genes.begin(), other_genes.end()), other_genes.end());
      std::vector<GeneCall> rows;
      rows.reserve(other_genes.size());
      for (const auto& gene : other_genes) rows.push_back(random_call(random, other, gene, writer));
      const auto at = random.chance(50) ? file.calls.begin() : file.calls.end();
      file.calls.insert(at, rows.begin(), rows.end());
    }
  }
  return file;
}

GeneratedRun random_run(std::uint64_t seed) {
  Random random(seed);
  GeneratedRun run;
  run.seed = seed;
  if (random.chance(30)) run.sample = kPatient;
  const std::size_t count = 2 + random.below(5);
  for (std::size_t i = 0; i < count; ++i) run.files.push_back(random_file(random, run.sample.has_value()));
  return run;
}

// ---- What the inputs say ----

// A diplotype as the unordered pair of its haplotypes; other text as it is.
std::string unordered(const std::string& star) {
  const std::size_t slash = star.find('/');
  if (slash == std::string::npos || star.find('/', slash + 1) != std::string::npos) return star;
  std::string first = star.substr(0, slash);
  std::string second = star.substr(slash + 1);
  if (second < first) std::swap(first, second);
  return first + "/" + second;
}

// A haplotype as the normaliser leaves it: each part of a combination
// without its sub-allele suffix (*2.001 is *2).
std::string core_haplotype(const std::string& haplotype) {
  std::string out;
  std::size_t start = 0;
  while (start <= haplotype.size()) {
    std::size_t plus = haplotype.find('+', start);
    if (plus == std::string::npos) plus = haplotype.size();
    std::string part = haplotype.substr(start, plus - start);
    const std::size_t point = part.find('.');
    if (point != std::string::npos) part.resize(point);
    out += (start == 0 ? "" : "+") + part;
    start = plus + 1;
  }
  return out;
}

struct Statement {
  std::size_t file;
  std::string label;
  std::string gene;
  std::optional<std::string> star;
  std::optional<std::string> phenotype;
};

std::vector<Statement> statements_of(const GeneratedRun& run) {
  std::vector<Statement> out;
  for (std::size_t f = 0; f < run.files.size(); ++f) {
    const FileWriter& writer = file_writers()[run.files[f].writer];
    for (const auto& call : run.files[f].calls) {
      if (call.sample != kPatient) continue;
      Statement said{f, writer.label, call.gene, std::nullopt, call.phenotype};
      if (call.haplotypes) {
        const auto& [first, second] = *call.haplotypes;
        said.star = writer.as_written ? first : core_haplotype(first);
        said.star->append("/").append(writer.as_written ? second : core_haplotype(second));
      } else if (writer.as_written) {
        said.star = writer.no_call;
        said.phenotype = writer.no_call;
      }
      out.push_back(said);
      if (call.second_phenotype) {
        said.phenotype = call.second_phenotype;
        out.push_back(said);
      }
    }
  }
  return out;
}

// ---- Running ----

struct Outcome {
  std::vector<ReportRecord> records;
  std::vector<std::string> log_warnings;
  std::optional<std::string> error;
  // Input path as listed to the run's file index.
  std::map<std::string, std::size_t> file_of;
};

enum class Mode {
  AsGenerated,
  WithoutSample,
  // The tables cut to the chosen sample's rows, read without --sample.
  CutToSample,
  // With --sample, every file read once for a cohort's samples and shared.
  SharedByACohort,
};

// Converts `run` in a fresh directory.
Outcome convert(const GeneratedRun& run, Mode mode = Mode::AsGenerated) {
  TempDir dir;
  Outcome outcome;
  std::vector<std::string> inputs;
  for (std::size_t f = 0; f < run.files.size(); ++f) {
    const FileWriter& writer = file_writers()[run.files[f].writer];
    std::vector<GeneCall> calls = run.files[f].calls;
    if (mode == Mode::CutToSample) std::erase_if(calls, [](const GeneCall& call) { return call.sample != kPatient; });
    const std::string name = writer.name(f, calls.empty() ? run.files[f].calls : calls);
    const std::string path = dir.write(name, writer.write(calls, writer));
    inputs.push_back(path);
    outcome.file_of[path] = f;
    if (run.files[f].listed_twice) {
      inputs.push_back(dir.file("./" + name));
      outcome.file_of[inputs.back()] = f;
    }
  }
  JsonDict request = {{"input_files", inputs}};
  if ((mode == Mode::AsGenerated || mode == Mode::SharedByACohort) && run.sample) request["sample"] = *run.sample;
  LogCapture log;
  try {
    CallsetConverter converter(request);
    SharedInputs shared(converter.max_input_size, /*digests=*/false);
    if (mode == Mode::SharedByACohort) {
      for (const auto& path : inputs) shared.keep(path);
      converter.shared_inputs = &shared;
    }
    outcome.records = converter.parse_files(inputs);
  } catch (const InvalidArgumentError& error) {
    outcome.error = error.what();
  }
  outcome.log_warnings = log.warnings();
  return outcome;
}

// ---- The invariants ----

const char* const kDiscordant = "discordant call from ";
const char* const kNotReported = " called only by pbStarPhase are not reported: ";

// The warnings of a record with each quoted diplotype as an unordered pair.
std::vector<std::string> unordered_warnings(const ReportRecord& record) {
  std::vector<std::string> out;
  for (const auto& warning : record.warnings) {
    const std::size_t colon = warning.rfind(": ");
    out.push_back(warning.starts_with(kDiscordant) && colon != std::string::npos
                      ? warning.substr(0, colon + 2) + unordered(warning.substr(colon + 2))
                      : warning);
  }
  return out;
}

std::string describe(const ReportRecord& record) {
  std::string out = record.to_result().dump() + " warnings:";
  for (const auto& warning : record.warnings) out += " [" + warning + "]";
  return out;
}

// The faults of one converted run, empty when every invariant holds.
std::vector<std::string> faults_of(const GeneratedRun& run, const Outcome& outcome) {
  std::vector<std::string> faults;
  if (outcome.error) return {"the run failed: " + *outcome.error};
  const std::vector<Statement> statements = statements_of(run);
  std::set<std::string> genes_called;
  for (const auto& said : statements) genes_called.insert(said.gene);

  std::set<std::string> reported;
  for (const auto& record : outcome.records) {
    reported.insert(record.gene);
    if (!genes_called.contains(record.gene)) {
      faults.push_back(record.gene + " is reported but no input calls it for the patient");
      continue;
    }
    const auto file = record.input_file ? outcome.file_of.find(*record.input_file) : outcome.file_of.end();
    if (file == outcome.file_of.end()) {
      faults.push_back(record.gene + ": the record names no input file of the run");
      continue;
    }
    const std::optional<std::string> star =
        record.star_allele ? std::optional(unordered(*record.star_allele)) : std::nullopt;
    std::vector<const Statement*> of_gene;
    for (const auto& said : statements) {
      if (said.gene == record.gene) of_gene.push_back(&said);
    }
    // The phenotype goes with the star allele that was called with it.
    if (star && record.activity) {
      const bool backed = std::any_of(of_gene.begin(), of_gene.end(), [&](const Statement* said) {
        return said->phenotype == record.activity &&
               (said->file == file->second || (said->star && unordered(*said->star) == *star));
      });
      if (!backed)
        faults.push_back(record.gene + ": no statement pairs its phenotype with its call: " + describe(record));
    }
    // Every different call of another file is named, and only those.
    const std::vector<std::string> warnings = unordered_warnings(record);
    for (const Statement* said : of_gene) {
      if (said->file == file->second || !said->star || unordered(*said->star) == star) continue;
      const std::string expected = kDiscordant + said->label + ": " + unordered(*said->star);
      if (std::find(warnings.begin(), warnings.end(), expected) == warnings.end()) {
        faults.push_back(record.gene + ": the call " + *said->star + " of file " + std::to_string(said->file) +
                         " is not named: " + describe(record));
      }
    }
    for (const auto& warning : warnings) {
      if (!warning.starts_with(kDiscordant)) continue;
      const bool named_call = std::any_of(of_gene.begin(), of_gene.end(), [&](const Statement* said) {
        return said->file != file->second && said->star && unordered(*said->star) != star &&
               warning == kDiscordant + said->label + ": " + unordered(*said->star);
      });
      if (!named_call)
        faults.push_back(record.gene + ": [" + warning + "] names no differing call: " + describe(record));
    }
  }

  // A gene left out is named with its reason, and the reason holds.
  std::set<std::string> left_out;
  for (const auto& warning : outcome.log_warnings) {
    const std::size_t at = warning.find(kNotReported);
    if (at == std::string::npos) continue;
    std::string list = warning.substr(at + std::string(kNotReported).size());
    for (std::size_t start = 0; start <= list.size();) {
      const std::size_t comma = std::min(list.find(", ", start), list.size());
      left_out.insert(list.substr(start, comma - start));
      start = comma + 2;
    }
  }
  for (const auto& gene : genes_called) {
    if (!reported.contains(gene) && !left_out.contains(gene)) faults.push_back(gene + " is lost without a word");
  }
  for (const auto& gene : left_out) {
    const bool only_starphase = std::all_of(statements.begin(), statements.end(), [&](const Statement& said) {
      return said.gene != gene || said.label == std::string("pbstarphase");
    });
    if (!only_starphase || !genes_called.contains(gene)) faults.push_back(gene + " is said to be pbStarPhase's alone");
  }
  return faults;
}

// The faults that a second conversion shows against the first: the swap of
// one diplotype's haplotypes, and --sample against tables cut to the sample.
std::vector<std::string> comparison_faults(const GeneratedRun& run, const Outcome& outcome, Random& random) {
  std::vector<std::string> faults;
  if (run.sample) {
    const Outcome cut = convert(run, Mode::CutToSample);
    if (cut.error) return {"the cut-down run failed: " + *cut.error};
    JsonDict chosen = JsonDict::array();
    JsonDict own = JsonDict::array();
    for (const auto& record : outcome.records) chosen.push_back({record.to_result(), record.to_provenance()});
    for (const auto& record : cut.records) own.push_back({record.to_result(), record.to_provenance()});
    if (chosen != own) faults.push_back("--sample gives " + chosen.dump() + "; its own rows give " + own.dump());
    const Outcome shared = convert(run, Mode::SharedByACohort);
    JsonDict from_shared = JsonDict::array();
    for (const auto& record : shared.records) from_shared.push_back({record.to_result(), record.to_provenance()});
    // Errors name the files, which each conversion writes to a folder of its own.
    const auto error_of = [](const Outcome& o) {
      std::string error = o.error.value_or("");
      for (const auto& [path, f] : o.file_of) {
        for (std::size_t at; (at = error.find(path)) != std::string::npos;) error.replace(at, path.size(), "file");
      }
      return error;
    };
    if (from_shared != chosen || error_of(shared) != error_of(outcome)) {
      faults.push_back("files shared by a cohort give " + from_shared.dump() + error_of(shared) + "; read alone " +
                       chosen.dump() + error_of(outcome));
    }

    const bool cohort = std::any_of(run.files.begin(), run.files.end(), [](const InputFile& file) {
      return std::any_of(file.calls.begin(), file.calls.end(),
                         [](const GeneCall& call) { return call.sample != kPatient; });
    });
    if (cohort) {
      const Outcome without = convert(run, Mode::WithoutSample);
      if (!without.error || without.error->find("choose one with --sample") == std::string::npos) {
        faults.emplace_back("a table of several patients is read without --sample");
      }
    }
  }

  // Swap the haplotypes of one diplotype.
  std::vector<std::pair<std::size_t, std::size_t>> swappable;
  for (std::size_t f = 0; f < run.files.size(); ++f) {
    for (std::size_t c = 0; c < run.files[f].calls.size(); ++c) {
      const auto& haplotypes = run.files[f].calls[c].haplotypes;
      if (haplotypes && haplotypes->first != haplotypes->second) swappable.emplace_back(f, c);
    }
  }
  if (swappable.empty()) return faults;
  const auto [f, c] = swappable[random.below(swappable.size())];
  GeneratedRun swapped = run;
  auto& haplotypes = *swapped.files[f].calls[c].haplotypes;
  std::swap(haplotypes.first, haplotypes.second);
  const Outcome after = convert(swapped);
  const auto summary = [](const Outcome& o) {
    JsonDict out = JsonDict::array();
    for (const auto& record : o.records) {
      out.push_back({record.gene, record.star_allele ? JsonDict(unordered(*record.star_allele)) : JsonDict(),
                     record.activity ? JsonDict(*record.activity) : JsonDict(),
                     record.source ? JsonDict(*record.source) : JsonDict(),
                     record.phenotype_source ? JsonDict(*record.phenotype_source) : JsonDict(),
                     unordered_warnings(record)});
    }
    out.push_back(o.error.value_or(""));
    return out;
  };
  if (summary(outcome) != summary(after)) {
    faults.push_back("swapping " + haplotypes.second + "/" + haplotypes.first + " of file " + std::to_string(f) +
                     " changes " + summary(outcome).dump() + " into " + summary(after).dump());
  }
  return faults;
}

std::vector<std::string> all_faults(const GeneratedRun& run) {
  const Outcome outcome = convert(run);
  std::vector<std::string> faults = faults_of(run, outcome);
  if (!faults.empty()) return faults;
  Random random(run.seed ^ 0x5A5A5A5AULL);
  return comparison_faults(run, outcome, random);
}

// Leaves out files, then calls, while the run still fails.
GeneratedRun shrink(GeneratedRun run) {
  bool smaller = true;
  while (smaller) {
    smaller = false;
    for (std::size_t f = 0; f < run.files.size() && run.files.size() > 1; ++f) {
      GeneratedRun candidate = run;
      candidate.files.erase(candidate.files.begin() + static_cast<std::ptrdiff_t>(f));
      if (!all_faults(candidate).empty()) {
        run = std::move(candidate);
        smaller = true;
        break;
      }
    }
    for (std::size_t f = 0; f < run.files.size() && !smaller; ++f) {
      for (std::size_t c = 0; c < run.files[f].calls.size() && run.files[f].calls.size() > 1; ++c) {
        GeneratedRun candidate = run;
        auto& calls = candidate.files[f].calls;
        calls.erase(calls.begin() + static_cast<std::ptrdiff_t>(c));
        if (std::none_of(calls.begin(), calls.end(), [](const GeneCall& call) { return call.sample == kPatient; }))
          continue;
        if (!all_faults(candidate).empty()) {
          run = std::move(candidate);
          smaller = true;
          break;
        }
      }
    }
  }
  return run;
}

std::string describe(const GeneratedRun& run) {
  std::string out = "seed " + std::to_string(run.seed) + (run.sample ? ", --sample " + *run.sample : "") + "\n";
  for (std::size_t f = 0; f < run.files.size(); ++f) {
    const FileWriter& writer = file_writers()[run.files[f].writer];
    out += "--- " + writer.name(f, run.files[f].calls) + " (" + writer.kind + ")" +
           (run.files[f].listed_twice ? ", listed twice" : "") + "\n" + writer.write(run.files[f].calls, writer) + "\n";
  }
  return out;
}

std::uint64_t setting(const char* name, std::uint64_t fallback) {
  const char* value = std::getenv(name);
  return value == nullptr || *value == '\0' ? fallback : std::strtoull(value, nullptr, 10);
}

class InvariantTest : public ::testing::Test {
 protected:
  void SetUp() override { set_mappings_dir(std::nullopt); }
};

TEST_F(InvariantTest, HoldOnGeneratedRuns) {
  const std::uint64_t first = setting("CALLSET_INVARIANT_SEED", 1);
  const std::uint64_t runs = setting("CALLSET_INVARIANT_RUNS", 150);
  for (std::uint64_t seed = first; seed < first + runs; ++seed) {
    const GeneratedRun run = random_run(seed);
    if (all_faults(run).empty()) continue;
    const GeneratedRun small = shrink(run);
    std::string message = "seed " + std::to_string(seed) + " fails; shrunk:\n" + describe(small);
    for (const auto& fault : all_faults(small)) message += "  " + fault + "\n";
    ADD_FAILURE() << message;
    return;
  }
}

}  // namespace
}  // namespace callset_converter
