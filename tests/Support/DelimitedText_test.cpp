#include "CallsetConverter/Support/DelimitedText.h"

#include <gtest/gtest.h>

#include "CallsetConverter/Support/Errors.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

struct RowsCase {
  const char* name;
  std::string text;
  CsvDialect dialect;
  std::vector<TextRow> rows;
};

class DelimitedRowsTest : public ::testing::TestWithParam<RowsCase> {};

TEST_P(DelimitedRowsTest, ReadsRows) {
  EXPECT_EQ(read_delimited_rows(GetParam().text, GetParam().dialect), GetParam().rows);
}

const CsvDialect kComma{',', '"', false};

INSTANTIATE_TEST_SUITE_P(
    Cases, DelimitedRowsTest,
    ::testing::Values(
        RowsCase{"lf", "a\tb\nc\td\n", kTabSeparated, {{"a", "b"}, {"c", "d"}}},
        RowsCase{"crlf_and_cr", "a\tb\r\nc\rd", kTabSeparated, {{"a", "b"}, {"c"}, {"d"}}},
        RowsCase{"empty_text", "", kTabSeparated, {}}, RowsCase{"empty_lines", "\n\r\n", kTabSeparated, {{}, {}}},
        RowsCase{"empty_cells", "a\t\n\tb\n", kTabSeparated, {{"a", ""}, {"", "b"}}},
        RowsCase{"quoted_separator", "\"x\ty\"\tz", kTabSeparated, {{"x\ty", "z"}}},
        RowsCase{"doubled_quote", "\"a\"\"b\"\tc", kTabSeparated, {{"a\"b", "c"}}},
        RowsCase{"line_break_in_quotes", "\"multi\r\nline\"\tv\nw", kTabSeparated, {{"multi\r\nline", "v"}, {"w"}}},
        RowsCase{"text_after_closing_quote", "\"ab\"cd\te", kTabSeparated, {{"abcd", "e"}}},
        RowsCase{"quote_inside_cell", "a\"b\tc", kTabSeparated, {{"a\"b", "c"}}},
        RowsCase{"unterminated_quote", "x\t\"open", kTabSeparated, {{"x", "open"}}},
        RowsCase{"spaces_kept", " a , b ", kComma, {{" a ", " b "}}},
        RowsCase{"spaces_skipped",
                 "Gene, Diplotype\nCYP2C19, *1/*2",
                 CsvDialect{',', '"', true},
                 {{"Gene", "Diplotype"}, {"CYP2C19", "*1/*2"}}},
        RowsCase{"single_quotes", "'a;b';c", CsvDialect{';', '\'', false}, {{"a;b", "c"}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DelimitedFiles, SkipByteOrderMarkAndRequireUtf8) {
  testing::TempDir dir;
  EXPECT_EQ(read_delimited_file(dir.write("bom.tsv", "\xEF\xBB\xBF#gene\tdiplotype\n"), kTabSeparated),
            (std::vector<TextRow>{{"#gene", "diplotype"}}));
  EXPECT_THROW(read_delimited_file(dir.write("bad.tsv", "a\t\xC3\n"), kTabSeparated), TextDecodeError);
  EXPECT_THROW(read_delimited_file(dir.file("missing.tsv"), kTabSeparated), FileNotFoundError);
}

TEST(DelimitedFiles, FirstRowReadsOnlyWhatItNeeds) {
  testing::TempDir dir;
  EXPECT_EQ(read_first_row(dir.write("empty.tsv", ""), kTabSeparated), TextRow{});
  EXPECT_EQ(read_first_row(dir.write("blank.tsv", "\nGenotype\n"), kTabSeparated), TextRow{});
  EXPECT_EQ(read_first_row(dir.write("bom.tsv", "\xEF\xBB\xBF\tGenotype\tPhenotype"), kTabSeparated),
            (TextRow{"", "Genotype", "Phenotype"}));
  // Bytes that are not UTF-8 after the first row are never looked at.
  EXPECT_EQ(read_first_row(dir.write("later.tsv", "a\tb\n\xFF\n"), kTabSeparated), (TextRow{"a", "b"}));
  EXPECT_THROW(read_first_row(dir.write("first.tsv", "a\xFF\tb\n"), kTabSeparated), TextDecodeError);
  // A quoted first cell spanning lines and far more than one read.
  const std::string long_cell(100000, 'x');
  EXPECT_EQ(read_first_row(dir.write("long.tsv", "\"" + long_cell + "\n" + long_cell + "\"\tB\nC\n"), kTabSeparated),
            (TextRow{long_cell + "\n" + long_cell, "B"}));
  EXPECT_THROW(read_first_row(dir.file("missing.tsv"), kTabSeparated), FileNotFoundError);
  EXPECT_THROW(read_first_row(dir.path().string(), kTabSeparated), IoError);
}

}  // namespace
}  // namespace callset_converter
