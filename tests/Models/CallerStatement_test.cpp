#include "CallsetConverter/Models/CallerStatement.h"

#include <gtest/gtest.h>

#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {
namespace {

TEST(CallerStatement, RequiresAGeneSymbol) {
  for (const auto& gene : {std::optional<std::string>(), std::optional<std::string>("")}) {
    try {
      CallerStatement statement(gene);
      FAIL() << "constructed without a gene";
    } catch (const InvalidArgumentError& e) {
      EXPECT_STREQ(e.what(), "gene symbol is required");
    }
  }
  EXPECT_EQ(CallerStatement(" ").gene, " ");
}

TEST(CallerStatement, StoresValuesUnchanged) {
  const CallerStatement statement("CYP2D6", "", {"*1", "*1"}, {" Poor Metabolizer ", ""}, "pypgx", "CPIC", "0.0");
  EXPECT_EQ(statement.diplotype, "");
  EXPECT_EQ(statement.haplotypes, (std::vector<std::string>{"*1", "*1"}));
  EXPECT_EQ(statement.phenotypes, (std::vector<std::string>{" Poor Metabolizer ", ""}));
  EXPECT_EQ(statement.activity_score, "0.0");
  EXPECT_EQ(CallerStatement("NAT2", std::nullopt, {}, {}), CallerStatement("NAT2"));
}

TEST(CallerStatement, DebugRepresentation) {
  EXPECT_EQ(CallerStatement("NAT2").repr(),
            "CallerStatement(gene='NAT2', diplotype=None, phenotypes=[], source=None, phenotype_source=None)");
  EXPECT_EQ(
      CallerStatement("CYP2D6", "*1/*4", {"*1", "*4"}, {"Intermediate Metabolizer", "it's"}, "pypgx", "CPIC", "1.0")
          .repr(),
      "CallerStatement(gene='CYP2D6', diplotype='*1/*4', phenotypes=['Intermediate Metabolizer', \"it's\"], "
      "source='pypgx', phenotype_source='CPIC')");
}

}  // namespace
}  // namespace callset_converter
