#include "CallsetConverter/Parsers/UploadTableReader.h"

#include <gtest/gtest.h>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {

namespace {

using testing::LogCapture;
using testing::TempDir;
using Statements = std::vector<CallerStatement>;

CallerStatement upload(const std::string& gene, const std::string& diplotype,
                       std::vector<std::string> phenotypes = {}) {
  return CallerStatement(gene, diplotype, {}, std::move(phenotypes), HelvaraPgxConstants::CALLER_DIPLOTYPE_TABLE);
}

// "@" in an expected warning stands for the file's path.
std::vector<std::string> with_path(std::vector<std::string> messages, const std::string& path) {
  for (auto& message : messages) {
    if (const auto at = message.find('@'); at != std::string::npos) message.replace(at, 1, path);
  }
  return messages;
}

struct ParseCase {
  const char* name;
  const char* file;
  std::string content;
  Statements statements;
  std::vector<std::string> warnings;
};

class UploadParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(UploadParseTest, ReadsStatements) {
  TempDir dir;
  const std::string path = dir.write(GetParam().file, GetParam().content);
  const UploadTableReader reader(path);
  LogCapture log;
  EXPECT_EQ(reader.parse(), GetParam().statements);
  EXPECT_EQ(log.warnings(), with_path(GetParam().warnings, path));
}

const Statements kCyp2c19{upload("CYP2C19", "*1/*2", {"Intermediate Metabolizer"})};

std::string many_rows() {
  std::string text = "Gene;Diplotype\n";
  for (int i = 0; i < 400; ++i) text += "CYP2C19;*1/*" + std::to_string(i) + "\n";
  return text;
}

INSTANTIATE_TEST_SUITE_P(
    Csv, UploadParseTest,
    ::testing::Values(
        ParseCase{
            "comma", "calls.csv", "Gene,Diplotype,Phenotype\nCYP2C19,*1/*2,Intermediate Metabolizer\n", kCyp2c19, {}},
        ParseCase{"semicolon",
                  "calls.csv",
                  "Gene;Diplotype;Phenotype\r\nCYP2C19;*1/*2;Intermediate Metabolizer",
                  kCyp2c19,
                  {}},
        ParseCase{
            "tab", "calls.csv", "Gene\tDiplotype\tPhenotype\nCYP2C19\t*1/*2\tIntermediate Metabolizer\n", kCyp2c19, {}},
        ParseCase{"upper_case_extension_and_bom",
                  "calls.CSV",
                  "\xEF\xBB\xBFGene,Diplotype,Phenotype\nCYP2C19,*1/*2,Intermediate Metabolizer\n",
                  kCyp2c19,
                  {}},
        ParseCase{
            "space_after_comma", "calls.csv", "Gene, Diplotype\nCYP2C19, *1/*2\n", {upload("CYP2C19", "*1/*2")}, {}},
        ParseCase{"loose_names_semicolons",
                  "calls.csv",
                  " GENE SYMBOL ;Star-Allele;Metaboliser\nCYP2D6;*1/*4;Intermediate Metaboliser\n",
                  {upload("CYP2D6", "*1/*4", {"Intermediate Metaboliser"})},
                  {}},
        ParseCase{"alias_order_not_column_order",
                  "calls.csv",
                  "Name,Gene,Genotype,Diplotype,Status,Phenotype\nS1,CYP2D6,g,*1/*4,s,Poor Metabolizer\n",
                  {upload("CYP2D6", "*1/*4", {"Poor Metabolizer"})},
                  {}},
        ParseCase{"empty_cell_does_not_block",
                  "calls.csv",
                  "Gene,Symbol,Diplotype\n,CYP2C9,*1/*3\n",
                  {upload("CYP2C9", "*1/*3")},
                  {}},
        ParseCase{"later_duplicate_wins",
                  "calls.csv",
                  "Gene,GENE ,Diplotype\nCYP2D6,CYP2C9,*1/*1\n",
                  {upload("CYP2C9", "*1/*1")},
                  {}},
        ParseCase{"no_phenotype_alias",
                  "calls.csv",
                  "Gene,Diplotype,Metabolizer Status,Activity Score\nCYP2D6,*1/*4,IM,1.0\n",
                  {upload("CYP2D6", "*1/*4")},
                  {}},
        ParseCase{"values_trimmed",
                  "calls.csv",
                  "Gene,Diplotype,Phenotype\n CYP2D6 , *1/*4 ,  \n",
                  {upload("CYP2D6", "*1/*4", {""})},
                  {}},
        ParseCase{"rows_skipped",
                  "calls.csv",
                  "Gene,Diplotype,Phenotype\n,*1/*1,NM\nCYP2D6,,IM\nCYP2C9\nCYP2C19,*1/*2,\nA,B,C,extra\n",
                  {upload("CYP2C19", "*1/*2"), upload("A", "B", {"C"})},
                  {"Row without a gene column in @: {'Gene': '', 'Diplotype': '*1/*1', 'Phenotype': 'NM'}",
                   "Skipping CYP2D6: no diplotype column", "Skipping CYP2C9: no diplotype column"}},
        ParseCase{"cells_beyond_header_are_nameless",
                  "calls.csv",
                  "Diplotype,Gene\n*1/*4,CYP2D6\n*1/*2,,CYP2C9\n*1/*3\n",
                  {upload("CYP2D6", "*1/*4")},
                  {"Row without a gene column in @: {'Diplotype': '*1/*2', 'Gene': '', None: ['CYP2C9']}",
                   "Row without a gene column in @: {'Diplotype': '*1/*3', 'Gene': None}"}}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Json, UploadParseTest,
    ::testing::Values(
        ParseCase{"array_of_rows",
                  "calls.json",
                  R"([{"Gene": "CYP2C19", "Diplotype": "*1/*2", "Phenotype": "Intermediate Metabolizer"}, 3, null])",
                  kCyp2c19,
                  {}},
        ParseCase{"keyed_by_gene",
                  "calls.json",
                  R"({"CYP2C19": "*1/*2", "CYP2D6": "*1/*4", "version": 3})",
                  {upload("CYP2C19", "*1/*2"), upload("CYP2D6", "*1/*4")},
                  {}},
        ParseCase{"every_text_member_is_a_gene",
                  "calls.json",
                  R"({"sample": "S1", "CYP2C19": "*1/*2"})",
                  {upload("sample", "S1"), upload("CYP2C19", "*1/*2")},
                  {}},
        ParseCase{"genes_section_array",
                  "calls.json",
                  R"({"genes": [{"gene": "CYP2C19", "diplotype": "*1/*2"}, "CYP2D6"]})",
                  {upload("CYP2C19", "*1/*2")},
                  {}},
        ParseCase{"results_section_object",
                  "calls.json",
                  R"({"results": {"CYP2C19": "*1/*2"}, "CYP2D6": "*1/*1"})",
                  {upload("CYP2C19", "*1/*2")},
                  {}},
        ParseCase{"unusable_sections_tried_in_order",
                  "calls.json",
                  R"({"genes": "x", "results": null, "data": [{"gene": "CYP2C9", "diplotype": "*1/*1"}],
                      "diplotypes": 3})",
                  {upload("CYP2C9", "*1/*1")},
                  {}},
        ParseCase{"no_section_flattens_the_root",
                  "calls.json",
                  R"({"genes": null, "CYP2D6": "*1/*1"})",
                  {upload("CYP2D6", "*1/*1")},
                  {}},
        ParseCase{"object_values",
                  "calls.json",
                  R"({"CYP2C19": {"Diplotype": "*1/*2", "Activity": 1.5},
                      "CYP2D6": {"Gene": "CYP2C9", "Diplotype": "*1/*4"},
                      "x": {"gene": "NUDT15", "Diplotype": "*1/*3"}})",
                  {upload("CYP2C19", "*1/*2", {"1.5"}), upload("CYP2D6", "*1/*4"), upload("NUDT15", "*1/*3")},
                  {}},
        ParseCase{"value_text_forms",
                  "calls.txt",
                  R"([{"gene": null, "id": 7, "call": true, "status": 2},
                      {"gene": "A", "diplotype": false, "phenotype": 1e2},
                      {"gene": "B", "diplotype": 0.1, "phenotype": null}])",
                  {upload("7", "True", {"2"}), upload("A", "False", {"100.0"}), upload("B", "0.1")},
                  {}},
        ParseCase{
            "integers_beyond_64_bits_keep_their_digits",
            "calls.json",
            R"({"CYP2D6": {"Diplotype": 123456789012345678901234567890},
                      "CYP2C9": {"Diplotype": "*1/*2", "Activity": -18446744073709551616}})",
            {upload("CYP2D6", "123456789012345678901234567890"), upload("CYP2C9", "*1/*2", {"-18446744073709551616"})},
            {}},
        ParseCase{"json_row_without_gene",
                  "calls.json",
                  R"([{"Diplotype": "*1/*2", "n": 2, "x": [1, "a"]}, {"Gene": "CYP2D6", "Diplotype": "*1/*4"}])",
                  {upload("CYP2D6", "*1/*4")},
                  {"Row without a gene column in @: {'Diplotype': '*1/*2', 'n': 2, 'x': [1, \"a\"]}"}}),
    [](const auto& info) { return std::string(info.param.name); });

// The dialect is guessed from the start of the file; the rest is read too.
TEST(UploadTableReader, LongCsvIsReadWhole) {
  TempDir dir;
  const UploadTableReader reader(dir.write("calls.csv", many_rows()));
  const Statements statements = reader.parse();
  ASSERT_EQ(statements.size(), 400U);
  EXPECT_EQ(statements.back(), upload("CYP2C19", "*1/*399"));
}

TEST(UploadTableReaderPick, MatchesNamesLoosely) {
  const auto picks = [](const std::string& name, const auto& aliases) {
    UploadTableReader::Row row;
    row.members[name] = "value";
    return UploadTableReader::_pick(row, aliases).has_value();
  };
  for (const char* name : {"Gene", " GENE ", "Gene Symbol", "gene-symbol", "Gene_Symbol", "SYMBOL", "Id", "name"}) {
    EXPECT_TRUE(picks(name, UploadTableReader::GENE_ALIASES)) << name;
  }
  for (const char* name : {"Star Allele", "star-allele", "STAR_ALLELE", "Call", "Label", "Genotype"}) {
    EXPECT_TRUE(picks(name, UploadTableReader::DIPLOTYPE_ALIASES)) << name;
  }
  for (const char* name : {"Metabolizer Status", "Activity Score", "Gene Name", "g e n e"}) {
    EXPECT_EQ(picks(name, UploadTableReader::PHENOTYPE_ALIASES) || picks(name, UploadTableReader::GENE_ALIASES),
              std::string(name) == "g e n e")
        << name;
  }
}

struct ErrorCase {
  const char* name;
  const char* file;
  std::string content;
  std::string message;  // "@" stands for the path
};

class UploadErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(UploadErrorTest, RefusesTheFile) {
  TempDir dir;
  const std::string path = dir.write(GetParam().file, GetParam().content);
  const UploadTableReader reader(path);
  LogCapture log;
  try {
    reader.parse();
    FAIL() << "parsed";
  } catch (const InvalidArgumentError& e) {
    const std::string expected = with_path({GetParam().message}, path).front();
    EXPECT_EQ(std::string(e.what()).substr(0, expected.size()), expected);
  }
}

const std::string kNoRows = "@: no usable rows - the minimum is a Gene and a Diplotype per row";

INSTANTIATE_TEST_SUITE_P(
    Cases, UploadErrorTest,
    ::testing::Values(ErrorCase{"text_root", "calls.json", R"("CYP2D6")", "@: unsupported JSON shape"},
                      ErrorCase{"number_root", "calls.json", "3", "@: unsupported JSON shape"},
                      ErrorCase{"null_root", "calls.json", "null", "@: unsupported JSON shape"},
                      ErrorCase{"empty_array", "calls.json", "[]", kNoRows},
                      ErrorCase{"empty_object", "calls.json", "{}", kNoRows},
                      ErrorCase{"empty_csv", "calls.csv", "", kNoRows},
                      ErrorCase{"header_only_csv", "calls.csv", "Gene,Diplotype\n", kNoRows},
                      ErrorCase{"every_row_skipped", "calls.csv", "Gene,Diplotype\nCYP2D6,\n", kNoRows},
                      ErrorCase{"invalid_json", "calls.json", "{\"CYP2D6\": ", "@ is not valid JSON: "},
                      ErrorCase{"json_with_bom", "calls.json", "\xEF\xBB\xBF{\"CYP2D6\": \"*1/*1\"}",
                                "@ is not valid JSON: "},
                      ErrorCase{"blank_gene_ends_the_parse", "calls.csv", "Gene,Diplotype\nCYP2D6,*1/*1\n  ,*1/*2\n",
                                "gene symbol is required"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace callset_converter
