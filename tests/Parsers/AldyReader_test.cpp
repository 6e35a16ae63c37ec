#include "CallsetConverter/Parsers/AldyReader.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "CallerFormats.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::TempDir;

const std::string kHeader =
    "#Sample\tGene\tSolutionID\tMajor\tMinor\tCopy\tAllele\tLocation\tType\tCoverage\tEffect\tdbSNP\tCode\tStatus\n";

// One solution's line and two rows (a copy without variants, ending early,
// and one with a variant whose Effect holds spaces and a slash).
std::string solution(const std::string& sample, const std::string& gene, int id, const std::string& major,
                     const std::string& members = "") {
  const std::string lead = sample + "\t" + gene + "\t" + std::to_string(id) + "\t" + major + "\t4.021\t";
  return "#Solution " + std::to_string(id) + ": *(4.1021 -rs28371738)" + members + "\n" + lead + "0\t1\n" + lead +
         "1\t4.021\t42128945\tC>T\t31\tsplicing defect/169frameshift\trs3892097\t1846G>A\tnormal\n";
}

// "gene:diplotype|phenotypes|activity|warnings" per statement, or the error.
std::string outcome(const std::string& text, const std::optional<std::string>& sample = std::nullopt) {
  TempDir dir;
  try {
    std::vector<std::string> out;
    for (const auto& s : AldyReader(dir.write("s.aldy", text), sample).parse()) {
      EXPECT_EQ(s.source, "aldy");
      out.push_back(s.gene + ":" + s.diplotype.value_or("-") + "|" + join(s.phenotypes, ";") + "|" +
                    s.activity_score.value_or("") + "|" + join(s.warnings, "; "));
    }
    return join(out, "\n");
  } catch (const std::exception& error) {
    const std::string message = error.what();
    return "error:" + message.substr(message.find(": ") + 2);
  }
}

struct AldyCase {
  const char* name;
  std::string text;
  const char* sample;
  const char* expected;
};

void PrintTo(const AldyCase& c, std::ostream* out) { *out << c.name; }

class AldyRules : public ::testing::TestWithParam<AldyCase> {};

TEST_P(AldyRules, ReadsTheMajorsOfEachGenesSolutions) {
  const AldyCase& c = GetParam();
  EXPECT_EQ(outcome(c.text, *c.sample ? std::optional<std::string>(c.sample) : std::nullopt), c.expected);
}

const std::string kCpicIm = "; gene=CYP2D6-pharmvar-6.2.14 (2025-07-20); cpic=intermediate; cpic_score=1.0";

INSTANTIATE_TEST_SUITE_P(
    Rules, AldyRules,
    ::testing::Values(
        AldyCase{"one_major_aldy3", kHeader + solution("S", "CYP2D6", 1, "*1/*4+*4.021"), "", "CYP2D6:*1/*4+*4.021|||"},
        AldyCase{"same_major_differing_minors_with_cpic",
                 kHeader + solution("S", "CYP2D6", 1, "*1/*4", kCpicIm) + solution("S", "CYP2D6", 2, "*1/*4", kCpicIm),
                 "", "CYP2D6:*1/*4|intermediate|1.0|"},
        AldyCase{
            "two_majors_one_cpic",
            kHeader + solution("S", "CYP2D6", 1, "*1/*4", kCpicIm) + solution("S", "CYP2D6", 2, "*4+*4/*139", kCpicIm),
            "", "CYP2D6:-|intermediate|1.0|ambiguous: 2 possible diplotypes: *1/*4, *4+*4/*139"},
        AldyCase{"two_majors_differing_cpic",
                 kHeader + solution("S", "CYP2D6", 1, "*1/*4", kCpicIm) +
                     solution("S", "CYP2D6", 2, "*4/*4", "; gene=CYP2D6-pharmvar-6.2.14 (2025-07-20); cpic=poor"),
                 "", "CYP2D6:-|||ambiguous: 2 possible diplotypes: *1/*4, *4/*4"},
        AldyCase{
            "novel_alleles_both_marks",
            kHeader + solution("S", "CYP2D6", 1, "*1/*4.021+*4NX") + solution("S", "CYP2D6", 2, "*1/*4.021+*4N.ALDY"),
            "", "CYP2D6:*1/*4.021+*4N|||novel allele inferred by Aldy: *4NX; novel allele inferred by Aldy: *4N.ALDY"},
        AldyCase{"duplication_is_no_mark", kHeader + solution("S", "CYP2D6", 1, "*2x2/*4"), "", "CYP2D6:*2x2/*4|||"},
        AldyCase{"genes_in_file_order_header_repeated",
                 kHeader + solution("S", "CYP2D6", 1, "*1/*2") + kHeader +
                     solution("S", "CYP2C19", 1, "*1/*17", "; gene=CYP2C19-pharmvar-6.2.14 (2025-07-20); cpic=rapid"),
                 "", "CYP2D6:*1/*2|||\nCYP2C19:*1/*17|rapid||"},
        AldyCase{"chosen_sample", kHeader + solution("A", "CYP2D6", 1, "*1/*2") + solution("B", "CYP2D6", 1, "*4/*4"),
                 "B", "CYP2D6:*4/*4|||"},
        AldyCase{"several_samples_unchosen",
                 kHeader + solution("A", "CYP2D6", 1, "*1/*2") + solution("B", "CYP2D6", 1, "*4/*4"), "",
                 "error:the table holds 2 sample(s): 'A', 'B'; choose one with --sample"},
        AldyCase{"absent_sample", kHeader + solution("A", "CYP2D6", 1, "*1/*2"), "Z",
                 "error:no row for sample 'Z'; the table holds 1 sample(s): 'A'"},
        AldyCase{"no_solutions", kHeader, "", ""},
        AldyCase{"row_without_major", kHeader + "S\tCYP2D6\t1\n", "", "error:an Aldy row without a Major cell"},
        AldyCase{"simple_output_refused", "Sample\tGene\tMajor\nS\tCYP2D6\t*1/*4\n", "",
                 "error:not an Aldy report - expected a first line starting #Sample, Gene, SolutionID, Major"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AldyVersions, GeneDatabasesAreListedOnceInFileOrder) {
  TempDir dir;
  const std::string text = kHeader + solution("S", "CYP2D6", 1, "*1/*4", kCpicIm) +
                           solution("S", "CYP2D6", 2, "*1/*4", kCpicIm) + kHeader +
                           solution("S", "CYP2C19", 1, "*1/*1", "; gene=CYP2C19-pharmvar-6.2.14 (2025-07-20)");
  EXPECT_EQ(AldyReader(dir.write("a.aldy", text)).read_versions().dump(),
            "{\"aldyGeneDatabase\":\"CYP2D6-pharmvar-6.2.14 (2025-07-20), CYP2C19-pharmvar-6.2.14 (2025-07-20)\"}");
  EXPECT_EQ(AldyReader(dir.write("b.aldy", kHeader + solution("S", "CYP2D6", 1, "*1/*4"))).read_versions().dump(),
            "{}");
}

TEST(AldyWriter, TheTestWriterIsReadBack) {
  EXPECT_EQ(outcome(testing::aldy_report("S", "CYP2D6", "*1/*4", "intermediate")), "CYP2D6:*1/*4|intermediate||");
}

}  // namespace
}  // namespace callset_converter
