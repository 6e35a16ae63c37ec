#include "CallsetConverter/Parsers/SummaryTsvReader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::LogCapture;
using testing::TempDir;
using Strings = std::vector<std::string>;

using testing::message_of;

// "gene|diplotype|[haplotypes]" for each statement.
Strings summarise(const std::vector<CallerStatement>& statements) {
  Strings out;
  for (const auto& s : statements) {
    EXPECT_EQ(s.source, "pbstarphase");
    EXPECT_TRUE(s.phenotypes.empty());
    EXPECT_EQ(s.phenotype_source, std::nullopt);
    EXPECT_EQ(s.activity_score, std::nullopt);
    out.push_back(s.gene + "|" + s.diplotype.value_or("<none>") + "|" + quoted_literal(s.haplotypes));
  }
  return out;
}

struct TableCase {
  const char* name;
  std::string content;
  Strings statements;
  Strings warnings;
};

class SummaryTsvRows : public ::testing::TestWithParam<TableCase> {};

TEST_P(SummaryTsvRows, ReadsUsableRowsInFileOrder) {
  TempDir dir;
  LogCapture log;
  const std::string path = dir.write("s.pbstarphase.tsv", GetParam().content);
  EXPECT_EQ(summarise(SummaryTsvReader(path).parse()), GetParam().statements);
  EXPECT_EQ(log.warnings(), GetParam().warnings);
}

const std::string kHeader = "#gene\tdiplotype\n";

INSTANTIATE_TEST_SUITE_P(
    Tables, SummaryTsvRows,
    ::testing::Values(TableCase{"Plain",
                                kHeader + "CYP2D6\t*1/*4\nNUDT15\tMultiple/Multiple\n",
                                {"CYP2D6|*1/*4|['*1', '*4']", "NUDT15|Multiple/Multiple|['Multiple', 'Multiple']"},
                                {}},
                      TableCase{"TrimsCellsAndIgnoresExtraCells",
                                kHeader + " CYP2C19 \t *2/*17 \textra\n",
                                {"CYP2C19|*2/*17|['*2', '*17']"},
                                {}},
                      TableCase{"SplitsAtEverySlash",
                                kHeader + "A\t*4\nB\t*1//*2\nC\t/\nD\t* 1 / *2\n",
                                {"A|*4|['*4']", "B|*1//*2|['*1', '*2']", "C|/|[]", "D|* 1 / *2|['* 1 ', ' *2']"},
                                {}},
                      TableCase{"SkipsRowsWithoutDiplotype",
                                kHeader + "CYP3A5\nCYP2B6\t \t*1/*1\nCYP2D6\t*1/*1\n",
                                {"CYP2D6|*1/*1|['*1', '*1']"},
                                {"Skipping CYP3A5: no diplotype called", "Skipping CYP2B6: no diplotype called"}},
                      TableCase{"CommentsAndGeneLessRowsAreSilent",
                                kHeader + "   #CYP2D6\t*1/*1\n\n\t*1/*2\n \t*1/*2\nTPMT\t*1/*3A\n",
                                {"TPMT|*1/*3A|['*1', '*3A']"},
                                {}},
                      TableCase{"HeaderWithoutHashIsData", "gene\tdiplotype\n", {"gene|diplotype|['diplotype']"}, {}},
                      TableCase{"DuplicateGenesStay",
                                kHeader + "CYP2D6\t*1/*2\nCYP2D6\t*2/*2\n",
                                {"CYP2D6|*1/*2|['*1', '*2']", "CYP2D6|*2/*2|['*2', '*2']"},
                                {}},
                      TableCase{"ByteOrderMarkSkipped",
                                "\xEF\xBB\xBF" + kHeader + "CYP2D6\t*1/*4",
                                {"CYP2D6|*1/*4|['*1', '*4']"},
                                {}},
                      TableCase{"CarriageReturnRowEnds",
                                "#gene\tdiplotype\rA\t*1/*2\rB\t*3/*4",
                                {"A|*1/*2|['*1', '*2']", "B|*3/*4|['*3', '*4']"},
                                {}},
                      TableCase{"CrLfRowEnds",
                                "#gene\tdiplotype\r\nA\t*1/*2\r\n\r\nB\t*3/*4\r\n",
                                {"A|*1/*2|['*1', '*2']", "B|*3/*4|['*3', '*4']"},
                                {}},
                      TableCase{"QuotedCells",
                                kHeader + "\"HLA\tA\"\t\"*01:01/\"\"x\"\"\"\n\"CYP\n2D6\"\t\"*1/\r\n*2\"\n",
                                {"HLA\tA|*01:01/\"x\"|['*01:01', '\"x\"']", "CYP\n2D6|*1/\r\n*2|['*1', '\\r\\n*2']"},
                                {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SummaryTsvReader, NoUsableRowIsAnError) {
  TempDir dir;
  LogCapture log;
  for (const std::string content : {"", "#gene\tdiplotype\n", "#gene\tdiplotype\nCYP3A5\n", "\n\n# note\n"}) {
    const std::string path = dir.write("s.tsv", content);
    EXPECT_EQ(message_of<InvalidArgumentError>([&] { SummaryTsvReader(path).parse(); }), path + ": no usable rows");
  }
  EXPECT_EQ(log.warnings(), Strings{"Skipping CYP3A5: no diplotype called"});
}

}  // namespace
}  // namespace callset_converter
