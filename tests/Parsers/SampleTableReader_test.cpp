#include "CallsetConverter/Parsers/SampleTableReader.h"
#include "CallsetConverter/Parsers/SampleTableIndex.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "CallsetConverter/Support/DelimitedText.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {

namespace {

using testing::LogCapture;
using testing::message_of;
using testing::TempDir;
using Statements = std::vector<CallerStatement>;

constexpr const char* kPypgx = HelvaraPgxConstants::CALLER_PYPGX;
const std::string kHeader = "\tGenotype\tPhenotype\tHaplotype1\tHaplotype2\tAlternativePhase\tVariantData\tCNV\n";

CallerStatement pypgx(const std::string& gene, std::optional<std::string> diplotype,
                      std::vector<std::string> haplotypes, std::vector<std::string> phenotypes) {
  return CallerStatement(gene, std::move(diplotype), std::move(haplotypes), std::move(phenotypes), kPypgx);
}

struct HeaderCase {
  const char* name;
  std::vector<std::string> header;
  bool pypgx;
};

class PypgxHeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(PypgxHeaderTest, RecognisesTheTable) {
  EXPECT_EQ(SampleTableReader::is_pypgx_table(GetParam().header), GetParam().pypgx);
}

INSTANTIATE_TEST_SUITE_P(Cases, PypgxHeaderTest,
                         ::testing::Values(HeaderCase{"pypgx_data_tsv",
                                                      {"", "Genotype", "Phenotype", "Haplotype1", "Haplotype2",
                                                       "AlternativePhase", "VariantData", "CNV"},
                                                      true},
                                           HeaderCase{"cells_trimmed", {" Genotype ", "Phenotype"}, true},
                                           HeaderCase{"lower_case", {"genotype", "phenotype"}, false},
                                           HeaderCase{"genotype_only", {"", "Genotype", "Haplotype1"}, false},
                                           HeaderCase{"pbstarphase", {"#gene", "diplotype"}, false},
                                           HeaderCase{"empty", {}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct FileNameCase {
  const char* name;
  const char* file;
  std::optional<std::string> gene;
};

class GeneFromFileNameTest : public ::testing::TestWithParam<FileNameCase> {};

TEST_P(GeneFromFileNameTest, TakesTheStem) {
  TempDir dir;
  const SampleTableReader reader(dir.write(GetParam().file, kHeader));
  EXPECT_EQ(reader._gene_from_file_name(), GetParam().gene);
}

INSTANTIATE_TEST_SUITE_P(Cases, GeneFromFileNameTest,
                         ::testing::Values(FileNameCase{"gene", "CYP2C19.tsv", "CYP2C19"},
                                           FileNameCase{"case_kept", "cyp2d6.tsv", "cyp2d6"},
                                           FileNameCase{"last_extension_only", "CYP2C19.data.tsv", "CYP2C19.data"},
                                           FileNameCase{"trimmed", " CYP2D6 .tsv", "CYP2D6"},
                                           FileNameCase{"no_extension", "sub.d/NUDT15", "NUDT15"},
                                           FileNameCase{"leading_dot_only", ".tsv", ".tsv"},
                                           FileNameCase{"leading_dots", "..tsv", "."},
                                           FileNameCase{"data", "data.tsv", std::nullopt},
                                           FileNameCase{"results_upper_case", "Results.TSV", std::nullopt},
                                           FileNameCase{"genotypes", "GENOTYPES.tsv", std::nullopt},
                                           FileNameCase{"phenotypes", "phenotypes.tsv", std::nullopt},
                                           FileNameCase{"blank_stem", " .tsv", std::nullopt}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SampleTableReaderValue, StripsTrailingSemicolonsBeforeTrimming) {
  using Row = SampleTableReader::Row;
  const Row row{{"a", "*1/*2;"}, {"b", "A;B;;"}, {"c", "*1/*2; "}, {"d", " *3 ;"}, {"e", ""}, {"f", std::nullopt}};
  EXPECT_EQ(SampleTableReader::_value(row, {"a"}), "*1/*2");
  EXPECT_EQ(SampleTableReader::_value(row, {"b"}), "A;B");
  EXPECT_EQ(SampleTableReader::_value(row, {"c"}), "*1/*2;");
  EXPECT_EQ(SampleTableReader::_value(row, {"d"}), "*3");
  // An empty cell ends the search; a missing or unreached column does not.
  EXPECT_EQ(SampleTableReader::_value(row, {"e", "a"}), "");
  EXPECT_EQ(SampleTableReader::_value(row, {"missing", "f", "b"}), "A;B");
  EXPECT_EQ(SampleTableReader::_value(row, {"A", "f"}), std::nullopt);
}

struct ParseCase {
  const char* name;
  const char* file;
  std::string content;
  Statements statements;
  std::vector<std::string> warnings;
};

class SampleTableParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(SampleTableParseTest, ReadsStatements) {
  TempDir dir;
  const SampleTableReader reader(dir.write(GetParam().file, GetParam().content));
  LogCapture log;
  EXPECT_EQ(reader.parse(), GetParam().statements);
  EXPECT_EQ(log.warnings(), GetParam().warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SampleTableParseTest,
    ::testing::Values(
        ParseCase{"one_sample",
                  "CYP2D6.tsv",
                  kHeader + "sample1\t*1/*4\tIntermediate Metabolizer\t*1;\t*4;\t;\t*4:22-42524947-C-T:0.9;\tNormal\n",
                  {pypgx("CYP2D6", "*1/*4", {"*1", "*4"}, {"Intermediate Metabolizer"})},
                  {}},
        ParseCase{
            "rows_in_order_crlf_and_bom",
            "CYP2D6.tsv",
            "\xEF\xBB\xBF\tGenotype\tPhenotype\tGene\r\ns1\t*1/*1\tNormal Metabolizer\tCYP2C9\r\n\r\ns1\t*4/*5\tPoor "
            "Metabolizer\tCYP2D6\r\ns1\t*2x2/*71\tIndeterminate\tCYP2B6",
            {pypgx("CYP2C9", "*1/*1", {}, {"Normal Metabolizer"}), pypgx("CYP2D6", "*4/*5", {}, {"Poor Metabolizer"}),
             pypgx("CYP2B6", "*2x2/*71", {}, {"Indeterminate"})},
            {}},
        ParseCase{
            "gene_column_per_row",
            "data.tsv",
            "\tGene\tGenotype\tPhenotype\ns1\tCYP2C9\t*1/*2\tIntermediate Metabolizer\ns1\tCYP2C19\t*1/*1\tNormal "
            "Metabolizer\n",
            {pypgx("CYP2C9", "*1/*2", {}, {"Intermediate Metabolizer"}),
             pypgx("CYP2C19", "*1/*1", {}, {"Normal Metabolizer"})},
            {}},
        ParseCase{"gene_column_wins_empty_falls_back",
                  "CYP2C19.tsv",
                  "\tGene\tGenotype\tPhenotype\ns1\tCYP2C9\t*1/*2\tIM\ns1\t\t*1/*1\tNM\n",
                  {pypgx("CYP2C9", "*1/*2", {}, {"IM"}), pypgx("CYP2C19", "*1/*1", {}, {"NM"})},
                  {}},
        ParseCase{"gene_cell_of_separators_falls_back",
                  "CYP2C19.tsv",
                  "\tGene\tGenotype\tPhenotype\ns3\t ;\t*2/*2\tPM\n",
                  {pypgx("CYP2C19", "*2/*2", {}, {"PM"})},
                  {}},
        // Its first cells are genes, not samples.
        ParseCase{"gene_column_first",
                  "data.tsv",
                  "Gene\tGenotype\tPhenotype\nCYP2C9\t*1/*2\tIM\nCYP2C19\t*1/*1\tNM\n",
                  {pypgx("CYP2C9", "*1/*2", {}, {"IM"}), pypgx("CYP2C19", "*1/*1", {}, {"NM"})},
                  {}},
        ParseCase{"lower_case_gene_column",
                  "CYP2C19.tsv",
                  "gene\tGenotype\tPhenotype\nCYP3A5\t*3/*3\tPoor Metabolizer\n",
                  {pypgx("CYP3A5", "*3/*3", {}, {"Poor Metabolizer"})},
                  {}},
        ParseCase{"empty_cells_are_values",
                  "CYP2D6.tsv",
                  "\tGenotype\tPhenotype\tHaplotype1\tHaplotype2\ns1\t\t\t*2;\t\n",
                  {pypgx("CYP2D6", "", {"*2"}, {""})},
                  {}},
        ParseCase{"short_row_skipped",
                  "CYP2D6.tsv",
                  "\tGenotype\tPhenotype\ns1\ns1\t*1/*2\n",
                  {pypgx("CYP2D6", "*1/*2", {}, {})},
                  {"Skipping CYP2D6: no Genotype or Phenotype column"}},
        ParseCase{"phenotype_only",
                  "G6PD.tsv",
                  "\tPhenotype\ns1\tG6PD Normal\n",
                  {pypgx("G6PD", std::nullopt, {}, {"G6PD Normal"})},
                  {}},
        ParseCase{"repeated_header_keeps_later_column_extra_cells_ignored",
                  "CYP2B6.tsv",
                  "Genotype\tGenotype\tPhenotype\n*1/*1\t*1/*6\tIM\textra\n",
                  {pypgx("CYP2B6", "*1/*6", {}, {"IM"})},
                  {}},
        ParseCase{"quoted_cell",
                  "CYP2D6.tsv",
                  "\tGenotype\tPhenotype\ns1\t\"*1/*4\"\t\"Poor\tMetabolizer \"\"x\"\"\"\n",
                  {pypgx("CYP2D6", "*1/*4", {}, {"Poor\tMetabolizer \"x\""})},
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

struct ErrorCase {
  const char* name;
  const char* file;
  std::string content;
  std::string message;  // after the path
  std::vector<std::string> warnings;
};

class SampleTableErrorTest : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(SampleTableErrorTest, RefusesTheTable) {
  TempDir dir;
  const std::string path = dir.write(GetParam().file, GetParam().content);
  const SampleTableReader reader(path);
  LogCapture log;
  try {
    reader.parse();
    FAIL() << "parsed";
  } catch (const InvalidArgumentError& e) {
    EXPECT_EQ(e.what(), path + GetParam().message);
  }
  EXPECT_EQ(log.warnings(), GetParam().warnings);
}

const std::string kNoGene =
    ": cannot tell which gene this table is for - the file name is not a gene symbol and there is no Gene column";
const std::string kNoRows = ": no usable rows - a PyPGx table needs a Genotype or Phenotype column and one data row";

INSTANTIATE_TEST_SUITE_P(
    Cases, SampleTableErrorTest,
    ::testing::Values(
        ErrorCase{"empty_file", "CYP2D6.tsv", "", ": the table has no header row", {}},
        ErrorCase{"first_line_empty", "CYP2D6.tsv", "\n\tGenotype\tPhenotype\n", ": the table has no header row", {}},
        ErrorCase{"header_only", "CYP2D6.tsv", kHeader, kNoRows, {}},
        ErrorCase{"names_not_exact",
                  "CYP2D6.tsv",
                  "\tGenotype \tPhenotype \ns1\t*1/*1\tNM\n",
                  kNoRows,
                  {"Skipping CYP2D6: no Genotype or Phenotype column"}},
        ErrorCase{"no_gene_anywhere", "data.tsv", "\tGenotype\tPhenotype\ns1\t*1/*1\tNM\n", kNoGene, {}},
        // Rows of two samples are refused whatever genes they call, a row
        // too short to use included; beside each, a one-sample case above.
        ErrorCase{"two_samples_other_genes",
                  "data.tsv",
                  "\tGene\tGenotype\tPhenotype\ns1\tCYP2C9\t*1/*2\tIM\ns2\tCYP2C19\t*1/*1\tNM\n",
                  ": the table holds 2 sample(s): 's1', 's2'; choose one with --sample",
                  {}},
        ErrorCase{"short_row_of_another_sample",
                  "CYP2D6.tsv",
                  "\tGenotype\tPhenotype\ns1\ns2\t*1/*2\n",
                  ": the table holds 2 sample(s): 's1', 's2'; choose one with --sample",
                  {}},
        // The error at a later row discards what earlier rows gave.
        ErrorCase{"later_row_without_gene",
                  "results.tsv",
                  "Gene\tGenotype\tPhenotype\nCYP2D6\t*1/*1\tNM\n\t*1/*2\tIM\n",
                  kNoGene,
                  {}}),
    [](const auto& info) { return std::string(info.param.name); });

// The tables PyPGx itself printed, read under the file name the pipeline
// gives them.
TEST(SampleTableReaderRealData, PypgxTables) {
  const std::string root = testing::realdata_dir();
  if (root.empty()) GTEST_SKIP() << "no real caller outputs";
  const std::string folder = root + "/pypgx";
  // Each multi-sample table is read for one sample; read without one it is
  // refused, naming how many samples it holds.
  struct Expected {
    const char* file;
    std::optional<std::string> sample;
    const char* samples_held;  // in the error without a sample; "" for one-row tables
    CallerStatement call;
  };
  const std::vector<Expected> tables = {
      {"README.grch37-CYP2D6-results.head2.tsv", std::nullopt, "",
       pypgx("CYP2D6", "*4/*5", {"*4;*10;*74;*2", "*10;*74;*2"}, {"Poor Metabolizer"})},
      {"docs_tutorials.grch37-CYP2D6-pipeline.print-data.tsv", "NA07019_PyPGx", "9 sample(s)",
       pypgx("CYP2D6", "*1/*4", {"*1", "*4;*10;*74;*2"}, {"Intermediate Metabolizer"})},
      // Printed layout: four spaces stand where the sample column's tab
      // belongs; the values still land under their own names.
      {"docs_tutorials.cram-CYP2D6.print-data.tsv", "HG00436_PyPGx", "2 sample(s)",
       pypgx("CYP2D6", "*2x2/*71", {"*71;*1", "*2"}, {"Indeterminate"})},
      {"cohort-0.16.0/CYP2D6.tsv", "NA18484_PyPGx",
       "70 sample(s): 'HG00589_PyPGx', 'NA07019_PyPGx', "
       "'NA10851_PyPGx', 'NA18484_PyPGx', 'NA12006_PyPGx', ...;",
       pypgx("CYP2D6", "*1/*17", {"*1", "*17;*2"}, {"Normal Metabolizer"})},
  };
  for (const auto& table : tables) {
    SCOPED_TRACE(table.file);
    const std::string source = folder + "/" + table.file;
    if (!std::filesystem::exists(source)) GTEST_SKIP() << source << " is absent";
    EXPECT_TRUE(SampleTableReader::is_pypgx_table(read_first_row(source, kTabSeparated)));
    TempDir dir;
    const std::string path = dir.write("CYP2D6.tsv", testing::read_file(source));
    EXPECT_EQ(SampleTableReader(path, table.sample).parse(), Statements{table.call});
    if (*table.samples_held != '\0') {
      EXPECT_NE(message_of<InvalidArgumentError>([&] {
                  SampleTableReader(path).parse();
                }).find(std::string(": the table holds ") + table.samples_held),
                std::string::npos);
    }
  }
}

// --sample against tables of one and of several samples.
TEST(SampleTableReaderSample, ChoosesRowsOrRefusesTheTable) {
  TempDir dir;
  const std::string two = dir.write("CYP2D6.tsv", kHeader + "s1\t*1/*1\tNM\ns2\t*4/*4\tPM\n");
  const std::string one = dir.write("CYP2C19.tsv", kHeader + "s1\t*1/*2\tIM\n");
  const std::string unnamed = dir.write("CYP2C9.tsv", kHeader + "\t*1/*3\tIM\n");
  const std::string twice = dir.write("NUDT15.tsv", kHeader + "s1\t*1/*1\tNM\ns1\t*1/*3\tIM\n");
  EXPECT_EQ(SampleTableReader(two, "s2").parse(), Statements{pypgx("CYP2D6", "*4/*4", {}, {"PM"})});
  EXPECT_EQ(SampleTableReader(one, "s1").parse().size(), 1U);
  EXPECT_EQ(SampleTableReader(unnamed, "s1").parse(), Statements{pypgx("CYP2C9", "*1/*3", {}, {"IM"})});
  // Only the chosen rows decide the printed layout: another sample's longer
  // row does not shift this one's values under their neighbours' names.
  const std::string printed = dir.write("CYP2B6.tsv", "    Genotype\tPhenotype\ns1\t*1/*6\tIM\ns2\t*1/*1\tNM\tx\n");
  EXPECT_EQ(SampleTableReader(printed, "s1").parse(), Statements{pypgx("CYP2B6", "*1/*6", {}, {"IM"})});
  const auto error = [](const std::string& path, std::optional<std::string> sample) {
    return message_of<InvalidArgumentError>([&] { SampleTableReader(path, sample).parse(); });
  };
  EXPECT_EQ(error(two, std::nullopt), two + ": the table holds 2 sample(s): 's1', 's2'; choose one with --sample");
  // A one-row table of another sample is a wrong-patient file.
  EXPECT_EQ(error(one, "s2"), one + ": no row for sample 's2'; the table holds 1 sample(s): 's1'");
  EXPECT_EQ(error(two, "S1"), two + ": no row for sample 'S1'; the table holds 2 sample(s): 's1', 's2'");
  EXPECT_EQ(error(twice, "s1"), twice + ": sample 's1' has more than one row for NUDT15");
}

// A cohort's index gives each sample its own rows in file order, whatever
// order the samples are asked for in (the row after the last one found is
// tried first).
TEST(SampleTableIndexRows, EachSampleGetsItsOwnRowsInAnyOrder) {
  TempDir dir;
  const std::string table = kHeader + "a\t1\nb\t2\na\t3\nc\t4\nb\t5\n";
  const SampleTableIndex index(dir.write("CYP2D6.tsv", table), table);
  const auto texts = [&](const std::string& sample) {
    std::string joined;
    for (const auto& row : index.rows_of(sample)) joined += row.text;
    return joined;
  };
  const std::vector<std::pair<std::string, std::string>> asked = {
      {"a", "a\t1\na\t3\n"}, {"b", "b\t2\nb\t5\n"}, {"c", "c\t4\n"}, {"b", "b\t2\nb\t5\n"}, {"d", ""},
      {"a", "a\t1\na\t3\n"}, {"a", "a\t1\na\t3\n"}, {"c", "c\t4\n"}};
  for (const auto& [sample, rows] : asked) EXPECT_EQ(texts(sample), rows) << sample;
}

}  // namespace
}  // namespace callset_converter
