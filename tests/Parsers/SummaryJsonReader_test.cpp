#include "CallsetConverter/Parsers/SummaryJsonReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CallsetConverter/Support/Errors.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::LogCapture;
using testing::TempDir;
using Strings = std::vector<std::string>;

// A gene object as pbStarPhase serialises it: every list present, null
// where empty.
std::string gene(const std::string& diplotypes, const std::string& simple = "null") {
  return R"({"diplotypes": )" + diplotypes + R"(, "simple_diplotypes": )" + simple +
         R"(, "inexact_diplotypes": null, "variant_details": null, "mapping_details": null,
         "multi_mapping_details": null})";
}

std::string call(const std::string& hap1, const std::string& hap2) {
  return R"({"hap1": ")" + hap1 + R"(", "hap2": ")" + hap2 + R"(", "diplotype": ")" + hap1 + "/" + hap2 + R"("})";
}

std::string summary(const std::string& gene_details) {
  return R"({"pbstarphase_version": "1.2.0", "database_metadata": {"pbstarphase_version": "1.2.0",
      "cpic_version": "2025-01-01", "hla_version": "3.58.0", "pharmvar_version": "6.2.3", "build_time": "x"},
      "gene_details": )" +
         gene_details + "}";
}

std::vector<CallerStatement> parse_text(const std::string& json) {
  TempDir dir;
  return SummaryJsonReader(dir.write("s.pbstarphase.json", json)).parse();
}

Strings genes_of(const std::vector<CallerStatement>& statements) {
  Strings out;
  for (const auto& s : statements) out.push_back(s.gene);
  return out;
}

using testing::message_of;

TEST(SummaryJsonReader, GenesComeInCodePointOrderWithTheFirstDiplotype) {
  LogCapture log;
  const auto statements =
      parse_text(summary(R"({"NUDT15": )" + gene("[" + call("*1", "*3") + "]") + R"(, "cyp2d6": )" +
                         gene("[" + call("*1", "*1") + "]") + R"(, "CYP2D6": )" + gene("[" + call("*1", "*4") + "]") +
                         R"(, "ABCG2": )" + gene("[" + call("rs1", "rs2") + "]") + "}"));
  EXPECT_EQ(genes_of(statements), (Strings{"ABCG2", "CYP2D6", "NUDT15", "cyp2d6"}));
  EXPECT_EQ(statements[1], CallerStatement("CYP2D6", "*1/*4", {"*1", "*4"}, {}, "pbstarphase"));
  EXPECT_TRUE(log.warnings().empty());
}

TEST(SummaryJsonReader, FallsBackToSimpleDiplotypes) {
  const auto statements = parse_text(summary(R"({"HLA-A": )" + gene("[]", "[" + call("*02:01", "*24:02") + "]") +
                                             R"(, "CYP2C9": )" + gene("null", "[" + call("*1", "*2") + "]") + "}"));
  EXPECT_EQ(genes_of(statements), (Strings{"CYP2C9", "HLA-A"}));
  EXPECT_EQ(statements[1].diplotype, "*02:01/*24:02");
}

TEST(SummaryJsonReader, SkipsGenesWithNothingToSayAndWarnsOnSeveralCalls) {
  LogCapture log;
  const auto statements = parse_text(summary(R"({
      "A": null, "B": [1], "C": "x", "D": )" +
                                             gene("[]", "[]") + R"(, "E": {},
      "F": )" + gene("[" + call("*1", "*2") + ", " + call("*2", "*3") + ", " + call("*3", "*4") + "]") +
                                             "}"));
  EXPECT_EQ(genes_of(statements), Strings{"F"});
  EXPECT_EQ(statements[0].diplotype, "*1/*2");
  EXPECT_EQ(log.warnings(),
            (Strings{"Skipping A: unexpected payload type NoneType", "Skipping B: unexpected payload type list",
                     "Skipping C: unexpected payload type str", "Skipping D: no diplotypes called",
                     "Skipping E: no diplotypes called", "F has 3 pbStarPhase diplotypes; using the first"}));
}

TEST(SummaryJsonReader, CopiesTheDiplotypeAndNonBlankHaplotypes) {
  const auto statements = parse_text(summary(R"({
      "A": {"diplotypes": [{"hap1": "*1", "hap2": "", "diplotype": "*1/"}]},
      "B": {"diplotypes": [{"hap1": null, "diplotype": null}]},
      "C": {"diplotypes": [{"hap2": "NO_MATCH", "hap1": "NO_MATCH", "diplotype": "NO_MATCH/NO_MATCH"}]}})"));
  ASSERT_EQ(statements.size(), 3U);
  EXPECT_EQ(statements[0], CallerStatement("A", "*1/", {"*1"}, {}, "pbstarphase"));
  EXPECT_EQ(statements[1], CallerStatement("B", std::nullopt, {}, {}, "pbstarphase"));
  EXPECT_EQ(statements[2], CallerStatement("C", "NO_MATCH/NO_MATCH", {"NO_MATCH", "NO_MATCH"}, {}, "pbstarphase"));
}

TEST(SummaryJsonReader, EmptyGeneSymbolWithACallFailsTheStatement) {
  EXPECT_THROW(parse_text(summary(R"({"": )" + gene("[" + call("*1", "*2") + "]") + "}")), InvalidArgumentError);
}

TEST(SummaryJsonReader, MissingGeneDetailsIsAnError) {
  TempDir dir;
  for (const std::string json : {R"({"pbstarphase_version": "1"})", R"({"gene_details": []})"}) {
    const std::string path = dir.write("s.json", json);
    EXPECT_EQ(message_of<InvalidArgumentError>([&] { SummaryJsonReader(path).parse(); }),
              path + ": no gene_details section found");
  }
}

struct MalformedCase {
  const char* member;
  std::string gene_details;
};

class SummaryJsonMalformed : public ::testing::TestWithParam<MalformedCase> {};

// A document not shaped as pbStarPhase writes it fails as a whole, naming
// the file and the member, with neither the invalid-argument nor the
// file-system kind.
TEST_P(SummaryJsonMalformed, FailsNamingTheFileAndMember) {
  TempDir dir;
  const std::string path = dir.write("m.json", summary(GetParam().gene_details));
  const std::string message = message_of<MalformedStructureError>([&] { SummaryJsonReader(path).parse(); });
  EXPECT_EQ(message.rfind(path + ": ", 0), 0U) << message;
  EXPECT_NE(message.find(GetParam().member), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(
    Details, SummaryJsonMalformed,
    ::testing::Values(MalformedCase{"\"diplotypes\" of A", R"({"A": {"diplotypes": "*1/*2"}})"},
                      MalformedCase{"\"simple_diplotypes\" of A", R"({"A": {"simple_diplotypes": {"x": 1}}})"},
                      MalformedCase{"first entry of \"diplotypes\" of A", R"({"A": {"diplotypes": [null]}})"},
                      MalformedCase{"\"diplotype\"", R"({"A": {"diplotypes": [{"diplotype": false}]}})"}));

TEST(SummaryJsonReader, NonObjectRootIsMalformed) {
  TempDir dir;
  const std::string path = dir.write("m.json", "[]");
  EXPECT_EQ(message_of<MalformedStructureError>([&] { SummaryJsonReader(path).parse(); }),
            path + ": expected a JSON object at the root");
  EXPECT_EQ(message_of<MalformedStructureError>([&] { SummaryJsonReader(path).read_versions(); }),
            path + ": expected a JSON object at the root");
}

struct VersionsCase {
  const char* name;
  std::string json;
  std::string versions;
};

class SummaryJsonVersions : public ::testing::TestWithParam<VersionsCase> {};

TEST_P(SummaryJsonVersions, ReadsToolAndDatabaseVersions) {
  TempDir dir;
  EXPECT_EQ(SummaryJsonReader(dir.write("v.json", GetParam().json)).read_versions().dump(), GetParam().versions);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SummaryJsonVersions,
    ::testing::Values(
        VersionsCase{"Full", summary("{}"),
                     R"({"pbstarphaseVersion":"1.2.0","cpicVersion":"2025-01-01","hlaVersion":"3.58.0",)"
                     R"("pharmvarVersion":"6.2.3"})"},
        VersionsCase{"NoMetadata", R"({"pbstarphase_version": 4})",
                     R"({"pbstarphaseVersion":4,"cpicVersion":null,"hlaVersion":null,"pharmvarVersion":null})"},
        VersionsCase{"BlankMetadata", R"({"database_metadata": "", "gene_details": {}})",
                     R"({"pbstarphaseVersion":null,"cpicVersion":null,"hlaVersion":null,"pharmvarVersion":null})"},
        VersionsCase{"AnyKind", R"({"database_metadata": {"hla_version": [1, {"a": 2.5}], "cpic_version": null}})",
                     R"({"pbstarphaseVersion":null,"cpicVersion":null,"hlaVersion":[1,{"a":2.5}],)"
                     R"("pharmvarVersion":null})"},
        // pbStarPhase 0.8 wrote the root version under the tool's former
        // name; the metadata's copy stands in when the root has none.
        VersionsCase{"FormerRootName",
                     R"({"pharmgoat_version": "0.8.0", "database_metadata": {"pbstarphase_version": "x"}})",
                     R"({"pbstarphaseVersion":"0.8.0","cpicVersion":null,"hlaVersion":null,"pharmvarVersion":null})"},
        VersionsCase{"MetadataCopy", R"({"database_metadata": {"pbstarphase_version": "2.0.0"}})",
                     R"({"pbstarphaseVersion":"2.0.0","cpicVersion":null,"hlaVersion":null,"pharmvarVersion":null})"},
        VersionsCase{"RootNullStaysNull",
                     R"({"pbstarphase_version": null, "database_metadata": {"pbstarphase_version": "2.0.0"}})",
                     R"({"pbstarphaseVersion":null,"cpicVersion":null,"hlaVersion":null,"pharmvarVersion":null})"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SummaryJsonReader, MetadataOfTheWrongKindIsMalformed) {
  TempDir dir;
  const std::string path = dir.write("v.json", R"({"database_metadata": ["6.2.3"]})");
  EXPECT_EQ(message_of<MalformedStructureError>([&] { SummaryJsonReader(path).read_versions(); }),
            path + ": \"database_metadata\" is list, expected a dict");
}

}  // namespace
}  // namespace callset_converter
