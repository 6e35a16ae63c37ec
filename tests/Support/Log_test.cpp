#include "CallsetConverter/Support/Log.h"

#include <gtest/gtest.h>

#include "TestSupport.h"

namespace callset_converter {
namespace {

TEST(FillTemplate, FillsEachPlaceholderByItsKind) {
  EXPECT_EQ(fill_template("%s: %d gene call(s) from %s", {std::string("a.json"), 3, "pypgx"}),
            "a.json: 3 gene call(s) from pypgx");
  EXPECT_EQ(fill_template("Unknown phenotype source %r; using %s", {std::string("it's"), "CPIC, DPWG"}),
            "Unknown phenotype source \"it's\"; using CPIC, DPWG");
  EXPECT_EQ(fill_template("%s and %r", {std::optional<std::string>(), std::optional<std::string>()}), "None and None");
  EXPECT_EQ(fill_template("%r", {std::vector<std::string>{"a", "b"}}), "['a', 'b']");
  EXPECT_EQ(fill_template("100%% of %s", {"x"}), "100% of x");
  EXPECT_EQ(fill_template("%s %s", {"only"}), "only %s");
  EXPECT_EQ(fill_template("%d", {std::size_t{42}}), "42");
}

TEST(Logger, PassesRecordsAtOrAboveTheThresholdToTheHandler) {
  testing::LogCapture capture;
  Logger::instance().set_level(LogLevel::WARNING);
  log_info("hidden %s", "x");
  log_warning("Skipping %s: %s", "CYP2D6", "no diplotypes called");
  Logger::instance().log(LogLevel::ERROR, "bad %d", 1);
  ASSERT_EQ(capture.records.size(), 2U);
  EXPECT_EQ(capture.records[0].level, LogLevel::WARNING);
  EXPECT_EQ(capture.records[0].message, "Skipping CYP2D6: no diplotypes called");
  EXPECT_EQ(capture.records[1].message, "bad 1");
  EXPECT_STREQ(level_name(capture.records[1].level), "ERROR");
}

}  // namespace
}  // namespace callset_converter
