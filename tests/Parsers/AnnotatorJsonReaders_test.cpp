#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::LogCapture;
using testing::TempDir;
using Strings = std::vector<std::string>;

// One gene report as PharmCAT writes it, with one source diplotype.
std::string report(const std::string& gene, const std::string& label = "*1/*2") {
  return R"({"geneSymbol": ")" + gene + R"(", "sourceDiplotypes": [{"label": ")" + label +
         R"(", "allele1": {"name": "*1"}, "allele2": {"name": "*2"}, "phenotypes": ["Normal Metabolizer"],
         "activityScore": "2.0"}]})";
}

// The statements of `json` as read by the phenotype reader.
std::vector<CallerStatement> parse_text(const std::string& json,
                                        const std::string& name = "s.pharmcat.phenotype.json") {
  TempDir dir;
  return PharmcatPhenotypeJsonParser(dir.write(name, json)).parse();
}

Strings genes_and_sources(const std::vector<CallerStatement>& statements) {
  Strings out;
  for (const auto& s : statements) out.push_back(s.gene + "@" + text_or_none(s.phenotype_source));
  return out;
}

using testing::message_of;

struct ContainerCase {
  const char* name;
  std::string json;
};

class PharmcatContainers : public ::testing::TestWithParam<ContainerCase> {};

// Every way of placing the container yields the CPIC statements first, in
// file order, then the DPWG ones.
TEST_P(PharmcatContainers, YieldStatementsBySourceThenFileOrder) {
  EXPECT_EQ(genes_and_sources(parse_text(GetParam().json)),
            (Strings{"TPMT@CPIC", "CYP2D6@CPIC", "ABCG2@CPIC", "TPMT@DPWG", "CYP2D6@DPWG", "ABCG2@DPWG"}));
}

const std::string kByObject =
    "{\"g1\": " + report("TPMT") + ", \"g2\": " + report("CYP2D6") + ", \"g3\": " + report("ABCG2") + "}";
const std::string kByArray = "[" + report("TPMT") + ", 7, " + report("CYP2D6") + ", null, " + report("ABCG2") + "]";

INSTANTIATE_TEST_SUITE_P(
    Layouts, PharmcatContainers,
    ::testing::Values(
        ContainerCase{"GeneReports", R"({"geneReports": {"CPIC": )" + kByObject + R"(, "DPWG": )" + kByObject + "}}"},
        ContainerCase{"Genes", R"({"genes": {"CPIC": )" + kByObject + R"(, "DPWG": )" + kByArray + "}}"},
        ContainerCase{"ReportGenes",
                      R"({"report": {"genes": {"CPIC": )" + kByArray + R"(, "DPWG": )" + kByObject + "}}}"},
        ContainerCase{"NonObjectGeneReportsPassedOver",
                      R"({"geneReports": [1], "genes": {"CPIC": )" + kByArray + R"(, "DPWG": )" + kByArray + "}}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PharmcatContainerErrors, RootAndMissingContainer) {
  TempDir dir;
  const auto error_for = [&](const std::string& json) {
    const std::string path = dir.write("x.json", json);
    return message_of<InvalidArgumentError>([&] { PharmcatReportJsonParser(path).parse(); });
  };
  const std::string path = dir.file("x.json");
  EXPECT_EQ(error_for("[]"), path + ": expected a JSON object at the root");
  EXPECT_EQ(error_for(R"({"b": 1, "a": 2, "geneReports": []})"),
            path + ": no gene reports found (top-level keys: a, b, geneReports)");
  EXPECT_EQ(error_for(R"({"report": {"genes": []}})"), path + ": no gene reports found (top-level keys: report)");
  EXPECT_EQ(error_for("{}"), path + ": no gene reports found (top-level keys: )");
}

TEST(PharmcatContainerErrors, UnsupportedCollectionWarnsAndOtherSourcesGoOn) {
  LogCapture log;
  const auto statements =
      parse_text(R"({"geneReports": {"CPIC": "text", "DPWG": [)" + report("TPMT") + R"(], "X": 3}})");
  EXPECT_EQ(genes_and_sources(statements), Strings{"TPMT@DPWG"});
  EXPECT_EQ(log.warnings(), (Strings{"Unsupported gene container for source CPIC: str",
                                     "Unsupported gene container for source X: int"}));
}

// The gene-keyed layout of PharmCAT 3.1 and later: container members are the
// gene reports themselves.
TEST(PharmcatGeneKeyedLayout, EachMemberIsOneGeneReport) {
  LogCapture log;
  const auto statements = parse_text(R"({"geneReports": {"CYP2C19": )" + report("CYP2C19") + R"(, "CYP2D6": )" +
                                     report("CYP2D6", "*1/*4") + "}}");
  ASSERT_EQ(statements.size(), 2U);
  EXPECT_EQ(statements[1], CallerStatement("CYP2D6", "*1/*4", {"*1", "*2"}, {"Normal Metabolizer"},
                                           "pharmcat_phenotype", std::nullopt, "2.0"));
  EXPECT_TRUE(log.warnings().empty());
}

TEST(PharmcatGeneKeyedLayout, OwnPhenotypeSourceAndLogLinesWithoutSource) {
  LogCapture log;
  const auto statements = parse_text(R"({"genes": {
      "A": {"geneSymbol": "CYP2C9", "phenotypeSource": "CPIC", "sourceDiplotypes": [{"label": "*1/*1"}]},
      "B": {"geneSymbol": "CYP2D6", "phenotypeSource": "", "sourceDiplotypes": [{"label": "x"}, {"label": "y"}]},
      "C": {"geneSymbol": "NAT2", "sourceDiplotypes": []},
      "D": {"geneSymbol": null}}})");
  EXPECT_EQ(genes_and_sources(statements), (Strings{"CYP2C9@CPIC", "CYP2D6@None"}));
  EXPECT_EQ(statements[1].diplotype, "x");
  EXPECT_EQ(log.warnings().size(), 3U);
  EXPECT_EQ(log.warnings()[0], "CYP2D6 has 2 source diplotypes for None; using the first");
  EXPECT_EQ(log.warnings()[1], "Skipping NAT2: no sourceDiplotypes for source None");
  EXPECT_EQ(log.warnings()[2].rfind("Gene report without geneSymbol in ", 0), 0U);
}

TEST(PharmcatGeneKeyedLayout, MixedContainerReadsEachMemberByItsShape) {
  const auto statements = parse_text(R"({"geneReports": {"CPIC": [)" + report("TPMT") + R"(], "CYP2D6": )" +
                                     report("CYP2D6") + R"(, "DPWG": {"NUDT15": )" + report("NUDT15") + "}}}");
  EXPECT_EQ(genes_and_sources(statements), (Strings{"TPMT@CPIC", "CYP2D6@None", "NUDT15@DPWG"}));
}

TEST(PharmcatStatements, DroppedReportsAreLogged) {
  TempDir dir;
  LogCapture log;
  const std::string path = dir.write("p.json", R"({"geneReports": {"CPIC": [
      {"geneSymbol": "", "sourceDiplotypes": [{"label": "*1/*1"}]},
      {"sourceDiplotypes": [{"label": "*1/*1"}]},
      {"geneSymbol": "CYP2D6", "sourceDiplotypes": []},
      {"geneSymbol": "CYP2C9"},
      {"geneSymbol": "TPMT", "phenotypeSource": "DPWG",
       "sourceDiplotypes": [{"label": "*1/*3A"}, {"label": "*3A/*3A"}]}]}})");
  const auto statements = PharmcatPhenotypeJsonParser(path).parse();
  EXPECT_EQ(genes_and_sources(statements), Strings{"TPMT@DPWG"});
  EXPECT_EQ(statements[0].diplotype, "*1/*3A");
  // The log lines name the container member even where the report names its own source.
  EXPECT_EQ(log.warnings(),
            (Strings{"Gene report without geneSymbol in " + path, "Gene report without geneSymbol in " + path,
                     "Skipping CYP2D6: no sourceDiplotypes for source CPIC",
                     "Skipping CYP2C9: no sourceDiplotypes for source CPIC",
                     "TPMT has 2 source diplotypes for CPIC; using the first"}));
}

TEST(PharmcatStatements, CopyTheDiplotypeAsWritten) {
  const auto statements = parse_text(R"({"geneReports": {"CPIC": [
      {"geneSymbol": "MT-RNR1", "sourceDiplotypes": [{"label": "1555A>G", "allele1": {"name": "1555A>G"},
       "allele2": null, "phenotypes": ["n/a", "", null, "x"], "activityScore": 2.0}]},
      {"geneSymbol": "G6PD", "sourceDiplotypes": [{"allele1": null, "allele2": {"name": "B"}, "phenotypes": [],
       "activityScore": 2, "label": null}]},
      {"geneSymbol": "X", "sourceDiplotypes": [{"label": "", "allele1": {"name": ""}, "allele2": "*2",
       "phenotypes": null, "activityScore": "No Result"}]},
      {"geneSymbol": "Y", "sourceDiplotypes": [{"allele1": {}, "allele2": {"name": "*3"}}]}]}})");
  ASSERT_EQ(statements.size(), 4U);
  EXPECT_EQ(statements[0],
            CallerStatement("MT-RNR1", "1555A>G", {"1555A>G"}, {"n/a", "x"}, "pharmcat_phenotype", "CPIC", "2.0"));
  EXPECT_EQ(statements[1], CallerStatement("G6PD", std::nullopt, {"B"}, {}, "pharmcat_phenotype", "CPIC", "2"));
  EXPECT_EQ(statements[2], CallerStatement("X", "", {}, {}, "pharmcat_phenotype", "CPIC", "No Result"));
  EXPECT_EQ(statements[3], CallerStatement("Y", std::nullopt, {"*3"}, {}, "pharmcat_phenotype", "CPIC"));
}

class PharmcatMalformed : public ::testing::TestWithParam<ContainerCase> {};

// Reports shaped unlike PharmCAT's fail the whole file, naming it and the member.
TEST_P(PharmcatMalformed, FailsNamingTheFileAndMember) {
  TempDir dir;
  const std::string path = dir.write("m.json", R"({"geneReports": {"CPIC": [)" + GetParam().json + "]}}");
  const std::string message = message_of<MalformedStructureError>([&] { PharmcatReportJsonParser(path).parse(); });
  EXPECT_EQ(message.rfind(path + ": ", 0), 0U) << message;
  EXPECT_NE(message.find(GetParam().name), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Reports, PharmcatMalformed,
    ::testing::Values(ContainerCase{"sourceDiplotypes", R"({"geneSymbol": "A", "sourceDiplotypes": "*1/*1"})"},
                      ContainerCase{"sourceDiplotypes", R"({"geneSymbol": "A", "sourceDiplotypes": {"x": 1}})"},
                      ContainerCase{"sourceDiplotypes", R"({"geneSymbol": "A", "sourceDiplotypes": ["*1/*1"]})"},
                      ContainerCase{"geneSymbol", R"({"geneSymbol": 5, "sourceDiplotypes": [{}]})"},
                      ContainerCase{"label", R"({"geneSymbol": "A", "sourceDiplotypes": [{"label": 1}]})"},
                      ContainerCase{"phenotypes", R"({"geneSymbol": "A", "sourceDiplotypes": [{"phenotypes": "PM"}]})"},
                      ContainerCase{"phenotypes",
                                    R"({"geneSymbol": "A", "sourceDiplotypes": [{"phenotypes": [1]}]})"}));

TEST(PharmcatHaplotypeNames, TakesNonBlankAlleleNamesInOrder) {
  EXPECT_EQ(PharmcatPhenotypeJsonParser::_haplotype_names(
                JsonDict::parse(R"({"allele2": {"name": "*4"}, "allele1": {"name": "*1"}})")),
            (Strings{"*1", "*4"}));
  EXPECT_EQ(PharmcatPhenotypeJsonParser::_haplotype_names(JsonDict::parse(R"({"allele1": "*1", "allele2": {}})")),
            Strings{});
}

TEST(PharmcatVersions, CopiesTheFourRootMembers) {
  TempDir dir;
  const std::string path = dir.write("r.json", R"({"timestamp": "2025-01-01", "dataVersion": {"cpic": [1, 2.0]},
      "pharmcatVersion": "v3.0.1", "genes": {}})");
  EXPECT_EQ(PharmcatReportJsonParser(path).read_versions().dump(),
            R"({"pharmcatVersion":"v3.0.1","dataVersion":{"cpic":[1,2.0]},"title":null,"timestamp":"2025-01-01"})");
  const std::string array_root = dir.write("a.json", "[]");
  EXPECT_EQ(message_of<MalformedStructureError>([&] { PharmcatReportJsonParser(array_root).read_versions(); }),
            array_root + ": expected a JSON object at the root");
}

// One diplotype object: a label, its phenotypes and activity score.
std::string diplotype(const std::string& label, const std::string& phenotype, const std::string& activity = "null") {
  return R"({"label": ")" + label + R"(", "phenotypes": [")" + phenotype + R"("], "activityScore": )" + activity + "}";
}

// Several source diplotypes, and genes PharmCAT called without a guideline.
TEST(PharmcatSeveralDiplotypes, RecommendationOrFirstWithAWarning) {
  LogCapture log;
  const auto statements = parse_text(
      R"({"geneReports": {"DPYD": {"geneSymbol": "DPYD", "sourceDiplotypes": [)" + diplotype("c.1898delC (*3)", "n/a") +
      ", " + diplotype("c.295_298delTCAT (*7)", "n/a") + R"(], "recommendationDiplotypes": [)" +
      diplotype("c.1898delC (*3)/c.295_298delTCAT (*7)", "Poor Metabolizer", R"("0.0")") +
      R"(]}, "UGT1A1": {"geneSymbol": "UGT1A1", "sourceDiplotypes": [)" + diplotype("*28/*37", "Poor Metabolizer") +
      ", " + diplotype("*28/*80+*37", "Poor Metabolizer") + R"(], "recommendationDiplotypes": [)" +
      diplotype("*28/*37", "Poor Metabolizer") + ", " + diplotype("*28/*80+*37", "Poor Metabolizer") + R"(]}},
      "unannotatedGeneCalls": [{"geneSymbol": "NAT2", "phenotypeSource": "UNKNOWN", "sourceDiplotypes": [)" +
      diplotype("*1/*5", "") + "]}, 3]}");
  ASSERT_EQ(statements.size(), 3U);
  EXPECT_EQ(statements[0], CallerStatement("DPYD", "c.1898delC (*3)/c.295_298delTCAT (*7)", {}, {"Poor Metabolizer"},
                                           "pharmcat_phenotype", std::nullopt, "0.0"));
  CallerStatement ugt1a1("UGT1A1", "*28/*37", {}, {"Poor Metabolizer"}, "pharmcat_phenotype");
  ugt1a1.warnings = {"ambiguous: 2 possible diplotypes: *28/*37, *28/*80+*37"};
  EXPECT_EQ(statements[1], ugt1a1);
  CallerStatement nat2("NAT2", "*1/*5", {}, {}, "pharmcat_phenotype");
  nat2.unannotated = true;
  EXPECT_EQ(statements[2], nat2);
  EXPECT_EQ(log.warnings(), Strings{"UGT1A1 has 2 source diplotypes for None; using the first"});
  EXPECT_TRUE(message_of<MalformedStructureError>([] {
                parse_text(R"({"genes": {}, "unannotatedGeneCalls": {"a": 1}})");
              }).ends_with(": \"unannotatedGeneCalls\" of the root is dict, expected a list"));
}

// What a reader makes of a document: its statements and warnings, or its error.
struct Reading {
  std::vector<CallerStatement> statements;
  Strings warnings;
  std::string error;

  bool operator==(const Reading&) const = default;
};

template <class Read>
Reading reading_of(const Read& read) {
  LogCapture log;
  Reading reading;
  try {
    reading.statements = read();
  } catch (const std::exception& error) {
    reading.error = error.what();
  }
  reading.warnings = log.warnings();
  return reading;
}

// The reader loads only the parts of a file that it reads: its statements,
// warnings and errors are those of the whole document, whatever the shapes
// of the parts left unbuilt.
TEST(PharmcatSelectiveLoad, ReadsAsTheWholeDocument) {
  const std::string variants = R"("variants": [{"gene": "A", "position": 1, "alleles": ["*2"]}], "chr": "chr1")";
  const std::string with_variants = R"({"geneSymbol": "A", )" + variants +
                                    R"(, "relatedDrugs": {"x": [1]}, "sourceDiplotypes": [{"label": "*1/*2"}]})";
  std::vector<std::string> documents = {
      R"({"genes": {"A": )" + with_variants + R"(, "CPIC": {"B": )" + with_variants + R"(, "n": 3, "l": [1]},
          "DPWG": [)" +
          with_variants + R"(, "x", [2], {"sourceDiplotypes": 1}], "X": 0, "Y": "", "Z": false,
          "W": null, "V": 2.5, "U": {}}, "drugs": {"d": [1, 2]}})",
      R"({"geneReports": {"CPIC": {"sourceDiplotypes": )" + with_variants + R"(, "geneSymbol": "G",
          "phenotypeSource": "P"}}})",
      R"({"report": {"genes": {"CPIC": [)" + with_variants + R"(]}, "x": 1}, "genes": [1]})",
      R"({"genes": {}, "unannotatedGeneCalls": [)" + with_variants + R"(, 3, [1], null]})",
      R"({"genes": {}, "unannotatedGeneCalls": 0})",
      R"({"genes": {}, "unannotatedGeneCalls": "x"})",
      R"({"genes": {}, "unannotatedGeneCalls": {"a": [1]}})",
      R"({"genes": {}, "unannotatedGeneCalls": {}})",
      R"({"genes": {"CPIC": [{"geneSymbol": "A", )" + variants + R"(, "sourceDiplotypes": [{"phenotypes": 1}]}]}})",
      R"({"genes": {"A": {"geneSymbol": "A", "recommendationDiplotypes": [{"label": "r"}],
          "sourceDiplotypes": [{"label": "a"}, {"label": "b"}], )" +
          variants + "}}}",
      R"({"genes": "none", "report": 3})",
  };
  TempDir dir;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < documents.size(); ++i) {
    paths.push_back(dir.write("d" + std::to_string(i) + ".pharmcat.report.json", documents[i]));
  }
  if (const std::string realdata = testing::realdata_dir(); !realdata.empty()) {
    for (const char* file : {"pharmcat.example.report.json", "pharmcat.example.v3.0.1.report.json",
                             "pharmcat.example.v2.1.0.phenotype.json"}) {
      paths.push_back(join_path(join_path(realdata, "pharmcat"), file));
    }
  }
  for (const std::string& path : paths) {
    const PharmcatReportJsonParser reader(path);
    const Reading whole = reading_of([&] { return reader._statements_of(load_json_file(path)); });
    EXPECT_EQ(reading_of([&] { return PharmcatReportJsonParser(path).parse(); }), whole) << path;
  }
}

// The example outputs of three PharmCAT releases, as PharmCAT wrote them.
struct RealFileCase {
  const char* file;
  std::size_t statements;
  std::size_t first_source_count;  // statements before the second source, or all
  bool gene_keyed;
};

class PharmcatRealFiles : public ::testing::TestWithParam<RealFileCase> {};

TEST_P(PharmcatRealFiles, YieldOneStatementPerGeneReport) {
  const std::string dir = testing::realdata_dir();
  if (dir.empty()) GTEST_SKIP() << "real caller outputs are not available";
  const RealFileCase& c = GetParam();
  const std::string path = join_path(join_path(dir, "pharmcat"), c.file);
  LogCapture log;
  const std::string name = c.file;
  const bool is_report = name.find(".report.") != std::string::npos;
  const auto statements =
      is_report ? PharmcatReportJsonParser(path).parse() : PharmcatPhenotypeJsonParser(path).parse();
  ASSERT_EQ(statements.size(), c.statements);
  EXPECT_TRUE(log.warnings().empty());
  for (const auto& s : statements) EXPECT_EQ(s.source, is_report ? "pharmcat_report" : "pharmcat_phenotype");

  const std::optional<std::string> cpic = c.gene_keyed ? std::nullopt : std::optional<std::string>("CPIC");
  EXPECT_EQ(statements.front().gene, "ABCG2");
  EXPECT_EQ(statements[c.first_source_count - 1].gene, "VKORC1");
  EXPECT_EQ(statements[c.first_source_count - 1].phenotype_source, cpic);
  if (name.find("v3.0.1") != std::string::npos) {
    // NAT2, called without a guideline annotation, comes last.
    CallerStatement nat2("NAT2", "*1/*1", {"*1", "*1"}, {}, is_report ? "pharmcat_report" : "pharmcat_phenotype");
    nat2.unannotated = true;
    EXPECT_EQ(statements.back(), nat2);
  } else if (!c.gene_keyed) {
    EXPECT_EQ(statements.back().phenotype_source, "DPWG");
  }

  const auto find = [&](const std::string& gene) -> const CallerStatement& {
    for (const auto& s : statements) {
      if (s.gene == gene) return s;
    }
    throw std::runtime_error("no statement for " + gene);
  };
  const std::string source = is_report ? "pharmcat_report" : "pharmcat_phenotype";
  EXPECT_EQ(find("CYP2C9"),
            CallerStatement("CYP2C9", "*1/*1", {"*1", "*1"}, {"Normal Metabolizer"}, source, cpic, "2.0"));
  if (name.find("example2") != std::string::npos) {
    EXPECT_EQ(find("CYP2C19"), CallerStatement("CYP2C19", "*2/*2", {"*2", "*2"}, {"Poor Metabolizer"}, source, cpic));
    EXPECT_EQ(find("CYP2D6"), CallerStatement("CYP2D6", "Unknown/Unknown", {"Unknown", "Unknown"}, {"No Result"},
                                              source, cpic, "No Result"));
    EXPECT_EQ(find("MT-RNR1"), CallerStatement("MT-RNR1", "Unknown", {"Unknown"}, {"No Result"}, source, cpic));
    EXPECT_EQ(find("HLA-B"), CallerStatement("HLA-B", "Unknown/Unknown", {"Unknown", "Unknown"}, {}, source, cpic));
  } else {
    EXPECT_EQ(find("CYP2D6"),
              CallerStatement("CYP2D6", "*1/*3", {"*1", "*3"}, {"Intermediate Metabolizer"}, source, cpic, "1.0"));
    EXPECT_EQ(find("MT-RNR1"), CallerStatement("MT-RNR1", "1555A>G", {"1555A>G"}, {"n/a"}, source, cpic));
    EXPECT_EQ(find("HLA-B").phenotypes, (Strings{"*15:02 positive", "*57:01 positive", "*58:01 negative"}));
  }
  if (!c.gene_keyed) {
    // DPWG writes DPYD's phenotype with its activity score.
    EXPECT_EQ(statements[c.first_source_count + 7],
              CallerStatement("DPYD", "Reference/Reference", {"Reference", "Reference"}, {"2.0 (Normal Metabolizer)"},
                              source, "DPWG"));
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, PharmcatRealFiles,
                         ::testing::Values(RealFileCase{"pharmcat.example.phenotype.json", 23, 23, true},
                                           RealFileCase{"pharmcat.example.report.json", 23, 23, true},
                                           RealFileCase{"pharmcat.example2.phenotype.json", 23, 23, true},
                                           RealFileCase{"pharmcat.example2.report.json", 23, 23, true},
                                           RealFileCase{"pharmcat.example.v3.0.1.phenotype.json", 38, 21, false},
                                           RealFileCase{"pharmcat.example.v3.0.1.report.json", 38, 21, false},
                                           RealFileCase{"pharmcat.example.v2.13.0.phenotype.json", 37, 21, false},
                                           RealFileCase{"pharmcat.example.v2.13.0.report.json", 37, 21, false}));

TEST(PharmcatRealVersions, ReadFromTheReportFiles) {
  const std::string dir = testing::realdata_dir();
  if (dir.empty()) GTEST_SKIP() << "real caller outputs are not available";
  const auto versions = [&](const char* file) {
    return PharmcatReportJsonParser(join_path(join_path(dir, "pharmcat"), file)).read_versions().dump();
  };
  EXPECT_EQ(versions("pharmcat.example.report.json"),
            R"({"pharmcatVersion":"v3.1.0-2-g0b250f81","dataVersion":"2025-11-05-00-25",)"
            R"("title":"pharmcat.example","timestamp":"2025-11-14T22:36:36.135Z"})");
  EXPECT_EQ(versions("pharmcat.example.v2.13.0.report.json"),
            R"({"pharmcatVersion":"v2.12.0-23-g06d90b7e","dataVersion":null,)"
            R"("title":"pharmcat.example","timestamp":"2024-06-10T22:43:16.994Z",)"
            R"("pharmcatCpicVersion":"v1.39.0, 2024-05-23-09-04","pharmcatDpwgVersion":"2024-05-23-09-04"})");
  EXPECT_EQ(versions("pharmcat.example.v2.1.0.report.json"),
            R"({"pharmcatVersion":"v2.1.0","dataVersion":null,"title":"pharmcat.example",)"
            R"("timestamp":"Nov 7, 2022, 4:19:43 PM","pharmcatCpicVersion":"v1.21.3",)"
            R"("pharmcatDpwgVersion":"v1.21.3, 2022-11-05-00-25"})");
}

}  // namespace
}  // namespace callset_converter
