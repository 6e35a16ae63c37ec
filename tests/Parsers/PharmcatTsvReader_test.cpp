#include "CallsetConverter/Parsers/PharmcatTsvReader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "CallsetConverter/Support/Errors.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::LogCapture;
using testing::message_of;
using testing::TempDir;
using Statements = std::vector<CallerStatement>;

const std::string kHeader =
    "PharmCAT v3.0.0\nGene\tSource Diplotype\tPhenotype\tActivity Score\tHaplotype 1\tHaplotype 2\t"
    "Recommendation Lookup Diplotype\tRecommendation Lookup Phenotype\tRecommendation Lookup Activity Score\n";

CallerStatement report(const std::string& gene, std::optional<std::string> diplotype,
                       std::vector<std::string> haplotypes, std::vector<std::string> phenotypes,
                       std::optional<std::string> activity = std::nullopt) {
  return CallerStatement(gene, std::move(diplotype), std::move(haplotypes), std::move(phenotypes), "pharmcat_report",
                         std::nullopt, std::move(activity));
}

TEST(PharmcatTsvReader, ReadsRowsAsTheJsonReportIsRead) {
  TempDir dir;
  LogCapture log;
  const std::string path = dir.write(
      "r.tsv", kHeader +
                   "CYP2C9\t*1/*2\tIntermediate Metabolizer\t1.5\t*1\tCYP2C9*2\t*1/*2\tIntermediate Metabolizer\t1.5\n"
                   "IFNL3\trs12979860 reference (C)/rs12979860 reference (C)\t \t\t\t\t\t\t\n"
                   "CYP2D6\tUnknown/Unknown\tNo Result\t\t\t\t\t\t\n"
                   // Unphased: one row per allele, one combined lookup call.
                   "DPYD\tc.1898delC (*3)\tn/a\tn/a\t\t\tc.1898delC (*3)/c.295_298delTCAT (*7)\tPoor Metabolizer\t0.0\n"
                   "DPYD\tc.295_298delTCAT (*7)\tn/a\tn/a\t\t\tc.1898delC (*3)/c.295_298delTCAT (*7)\tPoor "
                   "Metabolizer\t0.0\n"
                   // Ambiguous: several complete calls.
                   "UGT1A1\t*28/*37\tPoor Metabolizer\t\t\t\t*28/*37\tPoor Metabolizer\t\n"
                   "UGT1A1\t*28/*80+*37\tPoor Metabolizer\t\t\t\t*28/*80+*37\tPoor Metabolizer\t\n"
                   "NAT2\t\t\t\t\t\t\t\t\n"
                   // As DPYD, but only the second row names the combined call.
                   "TPMT\t*3A\tn/a\tn/a\t\t\t\t\t\n"
                   "TPMT\t*3C\tn/a\tn/a\t\t\t*3A/*3C\tPoor Metabolizer\t\n");
  const Statements statements = PharmcatTsvReader(path).parse();
  CallerStatement ugt1a1 = report("UGT1A1", "*28/*37", {}, {"Poor Metabolizer"});
  ugt1a1.warnings = {"ambiguous: 2 possible diplotypes: *28/*37, *28/*80+*37"};
  EXPECT_EQ(statements, (Statements{report("CYP2C9", "*1/*2", {"*1", "*2"}, {"Intermediate Metabolizer"}, "1.5"),
                                    report("IFNL3", "rs12979860 reference (C)/rs12979860 reference (C)", {}, {}),
                                    report("CYP2D6", "Unknown/Unknown", {}, {"No Result"}),
                                    report("DPYD", "c.1898delC (*3)/c.295_298delTCAT (*7)",
                                           {"c.1898delC (*3)", "c.295_298delTCAT (*7)"}, {"Poor Metabolizer"}, "0.0"),
                                    ugt1a1, report("TPMT", "*3A/*3C", {"*3A", "*3C"}, {"Poor Metabolizer"})}));
  EXPECT_EQ(log.warnings(), (std::vector<std::string>{"Skipping NAT2: no source diplotype",
                                                      "UGT1A1 has 2 source diplotypes for None; using the first"}));
  EXPECT_EQ(PharmcatTsvReader(path).read_versions().dump(), R"({"pharmcatVersion":"v3.0.0"})");

  const std::string other = dir.write("o.tsv", "#gene\tdiplotype\nCYP2D6\t*1/*1\n");
  EXPECT_TRUE(message_of<InvalidArgumentError>([&] {
                PharmcatTsvReader(other).parse();
              }).starts_with(other + ": not a PharmCAT TSV report"));
  EXPECT_EQ(message_of<InvalidArgumentError>([&] { PharmcatTsvReader(dir.write("h.tsv", kHeader)).parse(); }),
            dir.file("h.tsv") + ": no usable rows");
}

TEST(PharmcatTsvReader, ANamedPipeIsReadOnceForCallsAndVersion) {
  TempDir dir;
  const std::string path = dir.file("r.tsv");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::promise<void> read;
  std::atomic<bool> opened_again{false};
  std::thread writer([&] {
    std::ofstream(path) << kHeader << "CYP2C9\t*1/*2\tIntermediate Metabolizer\t1.5\t\t\t\t\t\n";
    // A second open of the pipe waits for a writer that never comes; this
    // one comes after a while, so that the test fails instead of hanging.
    if (read.get_future().wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      opened_again = true;
      std::ofstream{path};
    }
  });
  const PharmcatTsvReader reader(path);
  const Statements statements = reader.parse();
  const std::string versions = reader.read_versions().dump();
  read.set_value();
  writer.join();
  EXPECT_EQ(statements.size(), 1U);
  EXPECT_EQ(versions, R"({"pharmcatVersion":"v3.0.0"})");
  EXPECT_FALSE(opened_again);
}

}  // namespace
}  // namespace callset_converter
