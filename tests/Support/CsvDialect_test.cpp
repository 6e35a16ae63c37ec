#include <gtest/gtest.h>

#include "CallsetConverter/Support/DelimitedText.h"

namespace callset_converter {
namespace {

struct DialectCase {
  const char* name;
  std::string sample;
  CsvDialect dialect;
};

class CsvDialectTest : public ::testing::TestWithParam<DialectCase> {};

TEST_P(CsvDialectTest, DetectsTheDialect) {
  const CsvDialect found = detect_csv_dialect(GetParam().sample);
  EXPECT_EQ(found.delimiter, GetParam().dialect.delimiter);
  EXPECT_EQ(found.quotechar, GetParam().dialect.quotechar);
  EXPECT_EQ(found.skip_initial_space, GetParam().dialect.skip_initial_space);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CsvDialectTest,
    ::testing::Values(
        DialectCase{"comma", "Gene,Diplotype,Phenotype\nCYP2C19,*1/*2,Intermediate Metabolizer\n", {',', '"', false}},
        DialectCase{
            "semicolon", "Gene;Diplotype;Phenotype\r\nCYP2C19;*1/*2;Intermediate Metabolizer\r\n", {';', '"', false}},
        DialectCase{"tab", "Gene\tDiplotype\tPhenotype\nCYP2C19\t*1/*2\tIntermediate Metabolizer", {'\t', '"', false}},
        DialectCase{"space_after_comma", "Gene, Diplotype\nCYP2C19, *1/*2\n", {',', '"', true}},
        DialectCase{"space_after_comma_empty_cell", "Gene, Diplotype, Phenotype\nCYP2C19, *1/*2,\n", {',', '"', true}},
        DialectCase{"spaces_around_names",
                    " GENE SYMBOL ;Star-Allele;Metaboliser\nCYP2D6;*1/*4;Poor Metaboliser\n",
                    {';', '"', false}},
        DialectCase{"header_only", "Gene;Diplotype", {';', '"', false}},
        DialectCase{"decimal_commas_in_semicolon_table",
                    "Gene;Diplotype;Activity\nCYP2D6;*1/*4;1,5\nCYP2C9;*1/*2;1,5\n",
                    {';', '"', false}},
        DialectCase{"semicolon_lists_in_comma_table",
                    "Gene,Diplotype,Phenotype\nHLA-B,*15:02/*57:01,*15:02 positive;*57:01 positive\n",
                    {',', '"', false}},
        DialectCase{"rows_decide_against_header_comma",
                    "Gene\tDiplotype\tPhenotype, CPIC\nCYP2D6\t*1/*4\tIM\nCYP2C9\t*1/*1\tNM\n",
                    {'\t', '"', false}},
        DialectCase{"double_quoted_cells", "\"Gene\",\"Diplotype\"\n\"CYP2C19\",\"*1/*2, *17\"\n", {',', '"', false}},
        DialectCase{"quoted_cell_over_lines", "Gene;Note\nCYP2D6;\"line one\nline two; more\"\n", {';', '"', false}},
        DialectCase{"quoted_after_space", "Gene, Diplotype\nCYP2D6, \"*1/*2, *3\"\n", {',', '"', true}},
        DialectCase{"single_quoted_cells", "'Gene';'Diplotype'\n'CYP2C19';'*1/*2;*3'\n", {';', '\'', false}},
        DialectCase{"apostrophe_is_text", "Gene,Note\nCYP2D6,the patient's own\nCYP2C9,'s\n", {',', '"', false}},
        DialectCase{"one_column_falls_back", "Gene\nCYP2C19\n", {',', '"', false}},
        DialectCase{"empty_falls_back", "", {',', '"', false}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace callset_converter
