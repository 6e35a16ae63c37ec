// The FHIR export: golden Bundles of whole runs, the coding decisions of the
// builder that a wrong or lost call would go through, and how the driver
// loads the gene table and names and scans the Bundle file. The Bundles the
// suite writes are also checked against the FHIR R4 schema and the
// Genomics Reporting rules by tests/tools/check-outputs.sh.

#include "CallsetConverter/Fhir/FhirBundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
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
    if (resource.contains("recorded")) resource["recorded"] = FIXED_TIME;
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

// ---- Coding decisions of the builder ----

struct CodingCase {
  const char* gene;
  const char* star_allele;     // nullptr: none
  const char* activity;        // nullptr: none
  const char* genotype_value;  // the genotype's valueCodeableConcept, compact; "" when no Observation
  const char* implication;     // the implication's value, compact; "" when none
};

class BuilderCodingTest : public ::testing::TestWithParam<CodingCase> {};

TEST_P(BuilderCodingTest, CodesOnlyWhatTheCodeSystemNames) {
  const CodingCase& c = GetParam();
  const GeneTable table(JsonDict::parse(R"({"version": "t", "genes": {
      "CYP2D6": {"hgnc": "HGNC:2625", "pharmvar": true}, "DPYD": {"hgnc": "HGNC:3012", "pharmvar": true},
      "HLA-B": {"hgnc": "HGNC:4932", "pharmvar": false}, "G6PD": {"hgnc": "HGNC:4057", "pharmvar": false}}})"),
                        "table");
  FhirBundleBuilder builder;
  builder.records.emplace_back(c.gene, c.star_allele ? std::optional<std::string>(c.star_allele) : std::nullopt,
                               c.activity ? std::optional<std::string>(c.activity) : std::nullopt);
  builder.sidecar = JsonDict::object();
  builder.run_time = FIXED_TIME;
  builder.program_version = "1";
  builder.gene_table = &table;
  LogCapture log;
  const JsonDict bundle = builder.build();

  std::string genotype;
  std::string implication;
  for (const auto& entry : bundle["entry"]) {
    const JsonDict& resource = entry["resource"];
    if (resource["resourceType"] != "Observation") continue;
    const std::string profile = resource["meta"]["profile"][0];
    if (profile.ends_with("/genotype")) genotype = to_json_text(resource["valueCodeableConcept"], JsonStyle::Compact);
    if (profile.ends_with("/therapeutic-implication")) {
      EXPECT_FALSE(resource.contains("valueCodeableConcept"));
      implication = to_json_text(resource["component"][0]["valueCodeableConcept"], JsonStyle::Compact);
    }
  }
  EXPECT_EQ(genotype, c.genotype_value);
  EXPECT_EQ(implication, c.implication);
}

INSTANTIATE_TEST_SUITE_P(
    Genes, BuilderCodingTest,
    ::testing::Values(
        CodingCase{
            "CYP2D6", "*1/*4", "intermediate METABOLIZER",
            R"({"coding": [{"system": "http://www.pharmvar.org", "code": "CYP2D6", "display": "CYP2D6 *1/*4"}], )"
            R"("text": "CYP2D6 *1/*4"})",
            R"({"coding": [{"system": "http://loinc.org", "code": "LA10317-8", "display": )"
            R"("Intermediate metabolizer"}], "text": "intermediate METABOLIZER"})"},
        // A caller's own allele names are not PharmVar's; unlisted terms stay text.
        CodingCase{"DPYD", "Reference/c.1905+1G>A", "Likely Poor Metabolizer",
                   R"({"text": "DPYD Reference/c.1905+1G>A"})", R"({"text": "Likely Poor Metabolizer"})"},
        CodingCase{"HLA-B", "*57:01/*58:01", "*57:01 positive",
                   R"({"coding": [{"system": "http://glstring.org", "code": "HLA-B*57:01+HLA-B*58:01", )"
                   R"("display": "HLA-B *57:01/*58:01"}], "text": "HLA-B *57:01/*58:01"})",
                   R"({"text": "*57:01 positive"})"},
        CodingCase{"HLA-B", "*57:01", nullptr, R"({"text": "HLA-B *57:01"})", ""},
        CodingCase{"G6PD", "B/B", "Poor Function", R"({"text": "G6PD B/B"})",
                   R"({"coding": [{"system": "http://loinc.org", "code": "LA25394-0", "display": "Poor function"}], )"
                   R"("text": "Poor Function"})"},
        // No genotype: no Observation at all, the activity neither.
        CodingCase{"CYP2D6", nullptr, "Poor Metabolizer", "", ""}));

TEST(FhirBundleBuilder, NamesWhatItCannotCode) {
  FhirBundleBuilder builder;
  builder.records.emplace_back("CYP2D6", std::optional<std::string>("*1/*1"));
  builder.records.emplace_back("TPMT");
  builder.records.emplace_back("NEWGENE", std::optional<std::string>("*1/*2"));
  builder.records.emplace_back("MT-RNR1");
  builder.sidecar = JsonDict::parse(R"({"mappingVersions": {"gene_rules": "r1", "gene_table": null},
                                         "callers": {"pharmcatVersion": "v3.1.0"}})");
  builder.input_paths = {"in/a.json"};
  builder.run_time = FIXED_TIME;
  builder.program_version = "1.2.3";
  builder.sample = "S-01";
  const GeneTable table(JsonDict::parse(R"({"genes": {"CYP2D6": {"hgnc": "HGNC:2625", "pharmvar": true}}})"), "t");
  builder.gene_table = &table;
  LogCapture log;
  const JsonDict bundle = builder.build();

  EXPECT_EQ(bundle["entry"][0]["resource"]["identifier"], JsonDict::parse(R"([{"value": "S-01"}])"));
  EXPECT_EQ(bundle["entry"][1]["resource"]["conclusion"], "No genotype reported for: TPMT, MT-RNR1");
  EXPECT_EQ(bundle["entry"][3]["resource"]["component"][0]["valueCodeableConcept"],
            JsonDict::parse(R"({"text": "NEWGENE"})"));
  EXPECT_EQ(log.warnings(),
            (std::vector<std::string>{"NEWGENE: not in the gene table; its FHIR genotype names the gene without an "
                                      "HGNC id"}));
  std::vector<std::string> sources;
  for (const auto& entity : bundle["entry"][4]["resource"]["entity"]) sources.push_back(entity["what"]["display"]);
  EXPECT_EQ(sources,
            (std::vector<std::string>{"in/a.json", "gene_rules r1", "gene_table null", "pharmcatVersion v3.1.0"}));
  EXPECT_EQ(bundle["entry"][4]["resource"]["agent"][0]["who"]["display"], "callset-converter 1.2.3");

  // Same content, same ids; other content, other ids.
  EXPECT_EQ(builder.build(), bundle);
  builder.sample = "S-02";
  const JsonDict other = builder.build();
  for (std::size_t i = 0; i < bundle["entry"].size(); ++i) {
    EXPECT_NE(other["entry"][i]["fullUrl"], bundle["entry"][i]["fullUrl"]);
  }
}

}  // namespace
}  // namespace callset_converter
