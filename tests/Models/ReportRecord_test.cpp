#include "CallsetConverter/Models/ReportRecord.h"

#include <gtest/gtest.h>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"

namespace callset_converter {
namespace {

TEST(ReportRecord, RequiresAGeneSymbol) {
  EXPECT_THROW(ReportRecord(""), InvalidArgumentError);
  EXPECT_THROW(ReportRecord{std::nullopt}, InvalidArgumentError);
}

TEST(ReportRecord, ResultObjectHasExactlyTheFourMembers) {
  EXPECT_EQ(to_json_text(ReportRecord("NAT2").to_result(), JsonStyle::Compact),
            R"({"Id": "NAT2", "Name": "NAT2", "StarAllele": null, "Activity": null})");
  ReportRecord record("CYP2C19", "*1/*2", "", "pharmcat_report", "CPIC");
  record.add_warning("kept in the sidecar only");
  EXPECT_EQ(to_json_text(record.to_result(), JsonStyle::Compact),
            R"({"Id": "CYP2C19", "Name": "CYP2C19", "StarAllele": "*1/*2", "Activity": ""})");
}

TEST(ReportRecord, ProvenanceObject) {
  EXPECT_EQ(to_json_text(ReportRecord("NAT2").to_provenance(), JsonStyle::Compact),
            R"({"Id": "NAT2", "source": null, "phenotypeSource": null, "warnings": []})");
  ReportRecord record("CYP2C19", std::nullopt, std::nullopt, "pharmcat_report", "DPWG");
  record.add_warning("b");
  record.add_warning("a");
  EXPECT_EQ(to_json_text(record.to_provenance(), JsonStyle::Compact),
            R"({"Id": "CYP2C19", "source": "pharmcat_report", "phenotypeSource": "DPWG", "warnings": ["b", "a"]})");
}

TEST(ReportRecord, WarningsAreKeptOnceInOrderPerRecord) {
  ReportRecord first("CYP2D6");
  ReportRecord second("CYP2D6");
  first.add_warning("no diplotype called");
  first.add_warning("no diplotype called");
  first.add_warning("");
  first.add_warning(std::nullopt);
  first.add_warning("No diplotype called");
  EXPECT_EQ(first.warnings, (std::vector<std::string>{"no diplotype called", "No diplotype called"}));
  EXPECT_TRUE(second.warnings.empty());
}

TEST(ReportRecord, DebugRepresentation) {
  EXPECT_EQ(ReportRecord("NAT2").repr(), "ReportRecord(gene='NAT2', star_allele=None, activity=None, source=None)");
  EXPECT_EQ(ReportRecord("CYP2D6", "*1/*4", "Intermediate Metabolizer", "pypgx", "CPIC").repr(),
            "ReportRecord(gene='CYP2D6', star_allele='*1/*4', activity='Intermediate Metabolizer', source='pypgx')");
}

}  // namespace
}  // namespace callset_converter
