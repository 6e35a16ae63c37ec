// The FHIR export: golden Bundles of whole runs, the coding decisions of the
// builder that a wrong or lost call would go through, and how the driver
// loads the gene table and names and scans the Bundle file. The Bundles the
// suite writes are also checked against the FHIR R4 schema and the
// Genomics Reporting rules by tests/tools/check-outputs.sh.

#include "CallsetConverter/Fhir/FhirBundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "CallsetConverter/CallsetConverter.h"
#include "CallsetConverter/Mappings.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Version.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::LogCapture;
using testing::message_of;
using testing::read_file;
using testing::TempDir;

constexpr const char* FIXED_TIME = "2026-01-01T00:00:00Z";

// Runs the converter from `directory` over `inputs` (paths relative to it,
// so the Bundle does not depend on where the tree is checked out) and
// returns the Bundle with its run time fixed.
JsonDict run_bundle(const std::filesystem::path& directory, const std::vector<std::string>& inputs) {
  const TempDir out;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(directory);
  JsonDict request = JsonDict::object();
  request["input_files"] = inputs;
  request["output_dir"] = out.path().string();
  request["fhir"] = true;
  CallsetConverter(request).run();
  std::filesystem::current_path(previous);
  JsonDict bundle = JsonDict::parse(read_file(out.file("helvara_pgx.fhir.json")));
  for (auto& entry : bundle["entry"]) {
    JsonDict& resource = entry["resource"];
    if (resource.contains("issued")) resource["issued"] = FIXED_TIME;
    if (!resource.contains("recorded")) continue;
    // A Provenance's narrative says when it was recorded, too.
    std::string div = resource["text"]["div"];
    const std::string recorded = resource["recorded"];
    div.replace(div.find(recorded), recorded.size(), FIXED_TIME);
    resource["text"]["div"] = div;
    resource["recorded"] = FIXED_TIME;
  }
  return bundle;
}

// Compares with tests/data/fhir/<name>; CALLSET_UPDATE_GOLDEN=1 rewrites it.
void expect_golden(const JsonDict& bundle, const std::string& name) {
  const std::string path = std::string(CALLSET_TEST_DATA_DIR) + "/fhir/" + name;
  const std::string text = to_json_text(bundle, JsonStyle::Indented) + "\n";
  if (std::getenv("CALLSET_UPDATE_GOLDEN") != nullptr) std::ofstream(path, std::ios::binary) << text;
  EXPECT_EQ(read_file(path), text) << "differs from " << path << " (CALLSET_UPDATE_GOLDEN=1 rewrites it)";
}

class FhirRunTest : public ::testing::Test {
 protected:
  void TearDown() override { set_mappings_dir(std::nullopt); }
  LogCapture quiet;
};

TEST_F(FhirRunTest, BundledExampleMatchesItsGolden) {
  const auto source = std::filesystem::path(CALLSET_SOURCE_DIR);
  std::vector<std::string> inputs;
  for (const auto& name : testing::names_in(source / "examples")) {
    if (name != "README.md") inputs.push_back("examples/" + name);
  }
  expect_golden(run_bundle(source, inputs), "example.fhir.json");
}

TEST_F(FhirRunTest, RealPharmcatReportMatchesItsGolden) {
  const std::string realdata = testing::realdata_dir();
  if (realdata.empty()) GTEST_SKIP() << "no real caller outputs";
  expect_golden(run_bundle(realdata, {"pharmcat/pharmcat.example.report.json"}), "pharmcat.example.report.fhir.json");
}

TEST_F(FhirRunTest, SameInputGivesTheSameBundleWhereverItLies) {
  const auto source = std::filesystem::path(CALLSET_SOURCE_DIR);
  const JsonDict relative = run_bundle(source, {"examples/upload.csv"});
  EXPECT_EQ(run_bundle("/", {(source / "examples/upload.csv").string()}), relative);
  EXPECT_EQ(to_json_text(relative, JsonStyle::Compact).find("examples/"), std::string::npos);
}

TEST_F(FhirRunTest, GeneTableIsReadOnlyWithTheExport) {
  // An operator's folder with the three term tables only.
  const TempDir tables;
  for (const char* table : {"gene_rules", "phenotype_terms", "genotype_terms"}) {
    tables.write(std::string(table) + ".json", std::string(load_mapping(table).dump()));
  }
  set_mappings_dir(tables.path().string());
  JsonDict request = JsonDict::object();
  EXPECT_NO_THROW(CallsetConverter{request});
  request["fhir"] = true;
  EXPECT_EQ(message_of<FileNotFoundError>([&] { CallsetConverter{request}; }),
            "File not found: " + tables.file("gene_table.json"));

  tables.write("gene_table.json", R"({"version": "t", "genes": {"CYP2D6": {"hgnc": "2625", "pharmvar": true}}})");
  EXPECT_EQ(message_of<InvalidArgumentError>([&] { CallsetConverter{request}; }),
            tables.file("gene_table.json") +
                ": gene CYP2D6 needs \"hgnc\" (text such as \"HGNC:2625\") and \"pharmvar\" (true or false)");
}

TEST_F(FhirRunTest, BundleSitsNextToTheResultAndIsNeverReadBack) {
  const TempDir work;
  work.write("calls.csv", "Gene,Diplotype,Phenotype\nCYP2D6,*1/*4,Intermediate Metabolizer\n");
  JsonDict request = JsonDict::object();
  request["input_dir"] = work.path().string();
  request["output_dir"] = work.path().string();
  request["output_json"] = "sample.json.gz";
  request["gzip_output"] = true;
  request["fhir"] = true;
  CallsetConverter(request).run();
  // A second run over the same folder must see only calls.csv again.
  CallsetConverter converter(request);
  converter.run();
  EXPECT_EQ(converter.files_read, (std::vector<std::string>{work.file("calls.csv")}));
  EXPECT_EQ(testing::names_in(work.path()),
            (std::vector<std::string>{"calls.csv", "sample.fhir.json", "sample.json.gz", "sample.provenance.json"}));
  const JsonDict sidecar = JsonDict::parse(read_file(work.file("sample.provenance.json")));
  EXPECT_EQ(sidecar["mappingVersions"].size(), 4U);
  EXPECT_TRUE(sidecar["mappingVersions"].contains("gene_table"));
}

// ---- What the builder writes per gene ----

struct GeneCase {
  const char* gene;
  const char* star_allele;  // nullptr: none
  const char* activity;     // nullptr: none
  std::vector<std::string> warnings;
  const char* genotype_value;  // the genotype's valueCodeableConcept, compact; "" when no Observation
  const char* findings;        // the implication's component values, compact; "" when none
  std::vector<std::string> genotype_notes;
  std::vector<std::string> implication_notes;
  const char* source = "pharmcat_report";
};

void PrintTo(const GeneCase& c, std::ostream* os) {
  *os << c.gene << " " << (c.star_allele ? c.star_allele : "-") << " " << (c.activity ? c.activity : "-");
}

class BuilderGeneTest : public ::testing::TestWithParam<GeneCase> {};

TEST_P(BuilderGeneTest, ReportsTheCallWhereItIsRead) {
  const GeneCase& c = GetParam();
  const GeneTable table(JsonDict::parse(R"({"version": "t", "genes": {
      "CYP2D6": {"hgnc": "HGNC:2625", "pharmvar": true}, "DPYD": {"hgnc": "HGNC:3012", "pharmvar": true},
      "HLA-B": {"hgnc": "HGNC:4932", "pharmvar": false}, "G6PD": {"hgnc": "HGNC:4057", "pharmvar": false}}})"),
                        "table");
  FhirBundleBuilder builder;
  ReportRecord& record =
      builder.records.emplace_back(c.gene, c.star_allele ? std::optional<std::string>(c.star_allele) : std::nullopt,
                                   c.activity ? std::optional<std::string>(c.activity) : std::nullopt);
  record.warnings = c.warnings;
  record.source = c.source;
  builder.sidecar = JsonDict::parse(R"({"callers": {"hlaVersion": "3.61.0"},
                                         "unmappedTerms": ["CYP2C9\tx", "VKORC1\t-1639 GG"]})");
  builder.run_time = FIXED_TIME;
  builder.program_version = "1";
  builder.gene_table = &table;
  LogCapture log;
  const JsonDict bundle = builder.build();

  std::string genotype;
  std::string findings;
  JsonDict genotype_notes = JsonDict::array();
  JsonDict implication_notes = JsonDict::array();
  for (const auto& entry : bundle["entry"]) {
    const JsonDict& resource = entry["resource"];
    if (resource["resourceType"] != "Observation") continue;
    const std::string profile = resource["meta"]["profile"][0];
    const JsonDict notes = resource.value("note", JsonDict::array());
    if (profile.ends_with("/genotype")) {
      genotype = to_json_text(resource["valueCodeableConcept"], JsonStyle::Compact);
      for (const auto& note : notes) genotype_notes.push_back(note["text"]);
    } else {
      EXPECT_FALSE(resource.contains("valueCodeableConcept"));
      JsonDict values = JsonDict::array();
      for (const auto& component : resource["component"]) values.push_back(component["valueCodeableConcept"]);
      findings = to_json_text(values, JsonStyle::Compact);
      for (const auto& note : notes) implication_notes.push_back(note["text"]);
    }
  }
  EXPECT_EQ(genotype, c.genotype_value);
  EXPECT_EQ(findings, c.findings);
  EXPECT_EQ(genotype_notes, JsonDict(c.genotype_notes));
  EXPECT_EQ(implication_notes, JsonDict(c.implication_notes));
}

INSTANTIATE_TEST_SUITE_P(
    Genes, BuilderGeneTest,
    ::testing::Values(
        // No PharmVar coding: its codes name alleles, never a gene; warnings
        // become the genotype's notes, in order.
        GeneCase{"CYP2D6",
                 "*1/*4",
                 "intermediate METABOLIZER",
                 {"no call from CPIC; taken from pbstarphase", "discordant call from pypgx: *1/*21"},
                 R"({"text": "CYP2D6 *1/*4"})",
                 R"([{"coding": [{"system": "http://loinc.org", "code": "LA10317-8", "display": )"
                 R"("Intermediate metabolizer"}], "text": "intermediate METABOLIZER"}])",
                 {"no call from CPIC; taken from pbstarphase", "discordant call from pypgx: *1/*21"},
                 {}},
        GeneCase{"DPYD",
                 "Reference/c.1905+1G>A",
                 "Likely Poor Metabolizer",
                 {},
                 R"({"text": "DPYD Reference/c.1905+1G>A"})",
                 R"([{"text": "Likely Poor Metabolizer"}])",
                 {},
                 {}},
        // HLA: the GL String, with pbStarPhase's database version for its
        // own calls; one finding per allele.
        GeneCase{"HLA-B",
                 "*57:01/*58:01",
                 "*15:02 positive; *57:01 positive; *58:01 negative",
                 {},
                 R"({"coding": [{"system": "http://glstring.org", "code": )"
                 R"("HLA-B*57:01+HLA-B*58:01", "display": "HLA-B *57:01/*58:01"}], "text": "HLA-B *57:01/*58:01"})",
                 R"([{"text": "HLA-B*15:02 positive"}, {"text": "HLA-B*57:01 positive"}, )"
                 R"({"text": "HLA-B*58:01 negative"}])",
                 {},
                 {}},
        GeneCase{"HLA-B",
                 "*57:01:01/*58:01",
                 nullptr,
                 {},
                 R"({"coding": [{"system": "http://glstring.org", "version": "3.61.0", "code": )"
                 R"("HLA-B*57:01:01+HLA-B*58:01", "display": "HLA-B *57:01:01/*58:01"}], )"
                 R"("text": "HLA-B *57:01:01/*58:01"})",
                 "",
                 {"no phenotype: the caller reported none"},
                 {},
                 "pbstarphase"},
        // One field names an allele group, not an allele: text only.
        GeneCase{"HLA-B",
                 "*57/*58",
                 "*57:01 positive",
                 {},
                 R"({"text": "HLA-B *57/*58"})",
                 R"([{"text": "HLA-B*57:01 positive"}])",
                 {},
                 {}},
        GeneCase{"G6PD",
                 "B/B",
                 "Poor Function",
                 {},
                 R"({"text": "G6PD B/B"})",
                 R"([{"coding": [{"system": "http://loinc.org", "code": "LA25394-0", "display": "Poor function"}], )"
                 R"("text": "Poor Function"}])",
                 {},
                 {}},
        // A phenotype without a genotype is still a result.
        GeneCase{"CYP2C9",
                 nullptr,
                 "Poor Metabolizer",
                 {"no diplotype called"},
                 R"({"text": "CYP2C9 genotype not reported"})",
                 R"([{"coding": [{"system": "http://loinc.org", "code": "LA9657-3", "display": "Poor metabolizer"}], )"
                 R"("text": "Poor Metabolizer"}])",
                 {},
                 {"reported without a genotype", "no diplotype called"}},
        // A genotype without a phenotype says why.
        GeneCase{"VKORC1",
                 "rs9923231 reference (C)/rs9923231 reference (C)",
                 nullptr,
                 {"no phenotype from CPIC"},
                 R"x({"text": "VKORC1 rs9923231 reference (C)/rs9923231 reference (C)"})x",
                 "",
                 {"no phenotype: unmapped term '-1639 GG'", "no phenotype from CPIC"},
                 {}},
        GeneCase{"CYP4F2",
                 "*1/*1",
                 nullptr,
                 {},
                 R"({"text": "CYP4F2 *1/*1"})",
                 "",
                 {"no phenotype: the caller reported none"},
                 {}},
        // Neither: no Observation (the conclusion names it).
        GeneCase{"TPMT", nullptr, nullptr, {"no diplotype called"}, "", "", {}, {}}));

TEST(FhirBundleBuilder, ProvenanceNamesInputsByContentAndEachObservationBySource) {
  FhirBundleBuilder builder;
  builder.records.emplace_back("CYP2D6", std::optional<std::string>("*1/*1"));
  builder.records.emplace_back("TPMT");
  builder.records.emplace_back("CYP2C9", std::nullopt, std::optional<std::string>("Poor Metabolizer"));
  builder.records.emplace_back("NEWGENE", std::optional<std::string>("*1/*2"));
  builder.records.emplace_back("MT-RNR1");
  builder.records[0].input_file = builder.records[2].input_file = "/home/lab/run7/a.json";
  builder.records[3].input_file = "b.csv";
  builder.sidecar = JsonDict::parse(R"({"mappingVersions": {"gene_rules": "r1", "gene_table": null},
                                         "callers": {"pharmcatVersion": "v3.1.0", "hlaVersion": null}})");
  builder.inputs = {{"/home/lab/run7/a.json", std::string(64, 'a')}, {"b.csv", std::string(64, 'b')}};
  builder.run_time = FIXED_TIME;
  builder.program_version = "1.2.3";
  builder.sample = "S-01";
  const GeneTable table(JsonDict::parse(R"({"genes": {"CYP2D6": {"hgnc": "HGNC:2625", "pharmvar": true},
                                                      "CYP2C9": {"hgnc": "HGNC:2623", "pharmvar": true}}})"),
                        "t");
  builder.gene_table = &table;
  LogCapture log;
  const JsonDict bundle = builder.build();
  const JsonDict& entries = bundle["entry"];

  EXPECT_EQ(entries[0]["resource"]["identifier"], JsonDict::parse(R"([{"value": "S-01"}])"));
  EXPECT_EQ(entries[1]["resource"]["conclusion"],
            "No genotype reported for: TPMT, MT-RNR1. Phenotype reported without a genotype for: CYP2C9");
  EXPECT_EQ(entries[5]["resource"]["component"][0]["valueCodeableConcept"], JsonDict::parse(R"({"text": "NEWGENE"})"));
  EXPECT_EQ(log.warnings(),
            (std::vector<std::string>{"NEWGENE: not in the gene table; its FHIR genotype names the gene without an "
                                      "HGNC id"}));
  // No local path anywhere; inputs by base name and digest; no null entries.
  EXPECT_EQ(to_json_text(bundle, JsonStyle::Compact).find("/home/lab"), std::string::npos);
  const JsonDict& run = entries[6]["resource"];
  EXPECT_EQ(run["target"], JsonDict::array({JsonDict{{"reference", entries[1]["fullUrl"]}}}));
  EXPECT_EQ(run["entity"], JsonDict::parse(R"([
      {"role": "source", "what": {"identifier": {"system": "urn:ietf:rfc:3986",
        "value": "urn:sha256:)" + std::string(64, 'a') +
                                           R"("}, "display": "a.json"}},
      {"role": "source", "what": {"identifier": {"system": "urn:ietf:rfc:3986",
        "value": "urn:sha256:)" + std::string(64, 'b') +
                                           R"("}, "display": "b.csv"}},
      {"role": "source", "what": {"display": "gene_rules r1"}},
      {"role": "source", "what": {"display": "pharmcatVersion v3.1.0"}}])"));
  EXPECT_EQ(run["agent"][0]["who"]["display"], "callset-converter 1.2.3");
  // One Provenance per input, targeting the Observations of its records.
  const auto targets_of = [&](const JsonDict& provenance) {
    std::vector<std::string> targets;
    for (const auto& target : provenance["target"]) targets.push_back(target["reference"]);
    return targets;
  };
  ASSERT_EQ(entries.size(), 9U);
  EXPECT_EQ(targets_of(entries[7]["resource"]),
            (std::vector<std::string>{entries[2]["fullUrl"], entries[3]["fullUrl"], entries[4]["fullUrl"]}));
  EXPECT_EQ(entries[7]["resource"]["entity"][0], run["entity"][0]);
  EXPECT_EQ(targets_of(entries[8]["resource"]), (std::vector<std::string>{entries[5]["fullUrl"]}));

  // Same content, same ids, wherever the inputs lie; other content, other ids.
  builder.inputs[0].path = "a.json";
  builder.records[0].input_file = builder.records[2].input_file = "a.json";
  EXPECT_EQ(builder.build(), bundle);
  for (auto change : std::vector<std::function<void(FhirBundleBuilder&)>>{
           [](FhirBundleBuilder& b) { b.sample = "S-02"; },
           [](FhirBundleBuilder& b) { b.inputs[1].sha256 = std::string(64, 'c'); },
           [](FhirBundleBuilder& b) { b.records[0].star_allele = "*1/*2"; }}) {
    FhirBundleBuilder other = builder;
    change(other);
    const JsonDict changed = other.build();
    for (std::size_t i = 0; i < entries.size(); ++i) EXPECT_NE(changed["entry"][i]["fullUrl"], entries[i]["fullUrl"]);
  }
}

struct EscapeCase {
  const char* value;
  const char* escaped;
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << ::testing::PrintToString(std::string(c.value)); }

class XhtmlEscapeTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(XhtmlEscapeTest, LeavesNoMarkupOrControlCharacter) {
  EXPECT_EQ(xhtml_escape(GetParam().value), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(Values, XhtmlEscapeTest,
                         ::testing::Values(EscapeCase{"<b>*1&amp;</b>", "&lt;b&gt;*1&amp;amp;&lt;/b&gt;"},
                                           EscapeCase{R"(a"b'c)", "a&quot;b&#39;c"},
                                           EscapeCase{"tab\tnul\x01"
                                                      "del\x7f",
                                                      "tab\uFFFDnul\uFFFDdel\uFFFD"},
                                           EscapeCase{"C1 \u0085, U+FFFE \xEF\xBF\xBE", "C1 \uFFFD, U+FFFE \uFFFD"},
                                           EscapeCase{"*1/*17 Müller", "*1/*17 Müller"}));

TEST(FhirBundleBuilder, EveryResourceHasAnEscapedNarrative) {
  FhirBundleBuilder builder;
  builder.records.emplace_back("DPYD", std::optional<std::string>("<i>c.1905+1G>A</i>/&"),
                               std::optional<std::string>("Normal Metabolizer"));
  builder.records[0].warnings = {"discordant call from x: <script>"};
  builder.sample = "S&1";
  builder.run_time = FIXED_TIME;
  LogCapture log;
  const JsonDict bundle = builder.build();
  const std::string genotype_div = bundle["entry"][2]["resource"]["text"]["div"];
  EXPECT_EQ(genotype_div, R"(<div xmlns="http://www.w3.org/1999/xhtml"><p><b>DPYD genotype</b></p>)"
                          R"(<p>Genotype: &lt;i&gt;c.1905+1G&gt;A&lt;/i&gt;/&amp;</p><p>Gene studied: DPYD</p>)"
                          R"(<ul><li>discordant call from x: &lt;script&gt;</li></ul></div>)");
  for (const auto& entry : bundle["entry"]) {
    EXPECT_EQ(entry["resource"]["text"]["status"], "generated");
    const std::string div = entry["resource"]["text"]["div"];
    EXPECT_TRUE(div.starts_with(R"(<div xmlns="http://www.w3.org/1999/xhtml">)")) << div;
    EXPECT_EQ(div.find("<i>"), std::string::npos) << div;
    EXPECT_EQ(div.find("S&1"), std::string::npos) << div;
  }
}

}  // namespace
}  // namespace callset_converter
