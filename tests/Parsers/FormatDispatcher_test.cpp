#include "CallsetConverter/Parsers/FormatDispatcher.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CallerFormats.h"
#include "CallsetConverter/Parsers/AldyReader.h"
#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"
#include "CallsetConverter/Parsers/CyriusReaders.h"
#include "CallsetConverter/Parsers/PharmcatTsvReader.h"
#include "CallsetConverter/Parsers/SampleTableReader.h"
#include "CallsetConverter/Parsers/StellarPgxReader.h"
#include "CallsetConverter/Parsers/SummaryJsonReader.h"
#include "CallsetConverter/Parsers/SummaryTsvReader.h"
#include "CallsetConverter/Parsers/UploadTableReader.h"
#include "CallsetConverter/Support/Errors.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::LogCapture;
using testing::message_of;
using testing::TempDir;

// The reader class behind the interface (the report reader derives from
// the phenotype reader, so it is asked first).
std::string kind_of(const ICallReader* reader) {
  if (dynamic_cast<const PharmcatReportJsonParser*>(reader) != nullptr) return "PharmcatReportJsonParser";
  if (dynamic_cast<const PharmcatPhenotypeJsonParser*>(reader) != nullptr) return "PharmcatPhenotypeJsonParser";
  if (dynamic_cast<const SummaryJsonReader*>(reader) != nullptr) return "SummaryJsonReader";
  if (dynamic_cast<const SummaryTsvReader*>(reader) != nullptr) return "SummaryTsvReader";
  if (dynamic_cast<const PharmcatTsvReader*>(reader) != nullptr) return "PharmcatTsvReader";
  if (dynamic_cast<const SampleTableReader*>(reader) != nullptr) return "SampleTableReader";
  if (dynamic_cast<const UploadTableReader*>(reader) != nullptr) return "UploadTableReader";
  if (dynamic_cast<const CyriusTsvReader*>(reader) != nullptr) return "CyriusTsvReader";
  if (dynamic_cast<const CyriusJsonReader*>(reader) != nullptr) return "CyriusJsonReader";
  if (dynamic_cast<const AldyReader*>(reader) != nullptr) return "AldyReader";
  if (dynamic_cast<const StellarPgxReader*>(reader) != nullptr) return "StellarPgxReader";
  return reader == nullptr ? "none" : "unknown";
}

constexpr const char* kDirectory = "<directory>";

struct DispatchCase {
  const char* name;
  const char* file;     // relative to a fresh directory
  std::string content;  // kDirectory makes the entry a directory
  const char* reader;
  const char* debug;  // the start of the one debug record, "" for none
};

void PrintTo(const DispatchCase& c, std::ostream* out) { *out << c.name; }

class DispatchTest : public ::testing::TestWithParam<DispatchCase> {};

TEST_P(DispatchTest, PicksTheReader) {
  TempDir dir;
  const DispatchCase& c = GetParam();
  std::string path = dir.file(c.file);
  if (c.content == kDirectory) {
    std::filesystem::create_directories(path);
  } else {
    path = dir.write(c.file, c.content);
  }
  LogCapture log;
  const auto reader = FormatDispatcher::get_parser(path);
  EXPECT_EQ(kind_of(reader.get()), c.reader);
  EXPECT_EQ(reader->file_path, path);
  const auto debug = log.messages(LogLevel::DEBUG);
  if (std::string(c.debug).empty()) {
    EXPECT_TRUE(debug.empty()) << debug.front();
  } else {
    ASSERT_EQ(debug.size(), 1U);
    EXPECT_TRUE(debug.front().starts_with(std::string(c.debug) + " " + path + ": ")) << debug.front();
  }
}

const std::string kPypgxHeader = "\tGenotype\tPhenotype\tHaplotype1\tHaplotype2\n";
const std::string kReportJson = R"({"pharmcatVersion": "3.1.0"})";

INSTANTIATE_TEST_SUITE_P(
    ByName, DispatchTest,
    ::testing::Values(
        DispatchCase{"report_any_case", "HG002.PharmCAT.Report.JSON", "{}", "PharmcatReportJsonParser", ""},
        DispatchCase{"report_before_phenotype", "s.pharmcat.phenotype.report.json", "{}", "PharmcatReportJsonParser",
                     ""},
        DispatchCase{"phenotype", "s.pharmcat.phenotype.json", kReportJson, "PharmcatPhenotypeJsonParser", ""},
        DispatchCase{"starphase", "sample.pbstarphase.json", kReportJson, "SummaryJsonReader", ""},
        DispatchCase{"csv_first", "pharmcat_calls.csv", kReportJson, "UploadTableReader", ""},
        DispatchCase{"csv_any_case", "calls.CSV", "", "UploadTableReader", ""},
        // A name rule does not open the file: a directory passes unread.
        DispatchCase{"name_rule_reads_nothing", "x.pharmcat.report.json", kDirectory, "PharmcatReportJsonParser", ""},
        DispatchCase{"only_the_last_component", "a.csv/pharmcat.report/calls.json", "{}", "UploadTableReader", ""}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    TsvHeader, DispatchTest,
    ::testing::Values(
        DispatchCase{"pypgx_table", "CYP2D6.tsv", kPypgxHeader + "s1\t*1/*4\tIM\t*1;\t*4;\n", "SampleTableReader", ""},
        DispatchCase{"pypgx_any_case_quoted", "CYP2D6.TSV", "\"Genotype\"\t\"Phenotype\"\n", "SampleTableReader", ""},
        DispatchCase{"bom_removed_from_first_cell", "CYP2D6.tsv", "\xEF\xBB\xBFGenotype\tPhenotype\n",
                     "SampleTableReader", ""},
        DispatchCase{"pbstarphase_table", "calls.tsv", "#gene\tdiplotype\nCYP2D6\t*1/*4\n", "SummaryTsvReader", ""},
        DispatchCase{"pharmcat_tsv_any_name", "calls.tsv",
                     "PharmCAT v3.0.0\nGene\tSource Diplotype\tPhenotype\tActivity Score\tHaplotype 1\n",
                     "PharmcatTsvReader", ""},
        DispatchCase{"banner_without_header", "calls.tsv", "PharmCAT v3.0.0\nCYP2D6\t*1/*4\n", "SummaryTsvReader", ""},
        DispatchCase{"empty_tsv", "calls.tsv", "", "SummaryTsvReader", ""},
        DispatchCase{"first_line_empty", "calls.tsv", "\nGenotype\tPhenotype\n", "SummaryTsvReader", ""},
        DispatchCase{"unreadable_header", "calls.tsv", kDirectory, "SummaryTsvReader", "Could not read the header of"}),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    ByContent, DispatchTest,
    ::testing::Values(
        DispatchCase{"pharmcat_version", "upload.json", R"({"x": 1, "pharmcatVersion": null})",
                     "PharmcatReportJsonParser", ""},
        DispatchCase{"drugs", "upload.json", R"({"drugs": {}, "geneReports": {}})", "PharmcatReportJsonParser", ""},
        DispatchCase{"gene_reports", "upload.json", R"({"geneReports": {}, "gene_details": {}})",
                     "PharmcatPhenotypeJsonParser", ""},
        DispatchCase{"pharmcat_name_without_kind", "PharmCAT.json", R"({"geneReports": {}})",
                     "PharmcatPhenotypeJsonParser", ""},
        DispatchCase{"gene_details", "upload.json", R"({"gene_details": null})", "SummaryJsonReader", ""},
        DispatchCase{"pbstarphase_version", "upload.json", R"({"pbstarphase_version": "1.0"})", "SummaryJsonReader",
                     ""},
        DispatchCase{"nested_members_do_not_count", "upload.json", R"({"genes": {"pharmcatVersion": 1}})",
                     "UploadTableReader", ""},
        DispatchCase{"array_root", "upload.json", R"([{"pharmcatVersion": 1}])", "UploadTableReader", ""},
        DispatchCase{"invalid_json", "upload.json", "{\"CYP2D6\":", "UploadTableReader", "Could not sniff"},
        DispatchCase{"bom_makes_invalid_json", "upload.json", "\xEF\xBB\xBF" + kReportJson, "UploadTableReader",
                     "Could not sniff"},
        DispatchCase{"unreadable_json", "upload.json", kDirectory, "UploadTableReader", "Could not sniff"}),
    [](const auto& info) { return std::string(info.param.name); });

const std::string kCyrius = testing::cyrius_tsv("S", "CYP2D6", "*1/*4");
const std::string kAldy = testing::aldy_report("S", "CYP2D6", "*1/*4");
const std::string kStellar = testing::stellarpgx_result("S", "CYP2D6", "*1/*4");
const std::string kCyriusJson = R"({"S": {"Genotype": "*1/*4", "Filter": "PASS", "Call_info": "unique_match"}})";

INSTANTIATE_TEST_SUITE_P(
    Specialists, DispatchTest,
    ::testing::Values(DispatchCase{"aldy", "S.aldy", kAldy, "AldyReader", ""},
                      DispatchCase{"stellarpgx", "S_cyp2d6.ALLELES", kStellar, "StellarPgxReader", ""},
                      DispatchCase{"cyrius_tsv", "cyrius.tsv", kCyrius, "CyriusTsvReader", ""},
                      DispatchCase{"bcyrius_tsv", "out.tsv", testing::cyrius_tsv("S", "CYP2D6", "*1/*4", "Normal"),
                                   "CyriusTsvReader", ""},
                      DispatchCase{"aldy_named_tsv", "calls.tsv", kAldy, "AldyReader", ""},
                      DispatchCase{"stellarpgx_named_tsv", "calls.tsv", kStellar, "StellarPgxReader", ""},
                      DispatchCase{"content_over_extension", "S.aldy", kCyrius, "CyriusTsvReader", ""},
                      DispatchCase{"any_other_name", "cyrius_result", kCyrius, "CyriusTsvReader", ""},
                      DispatchCase{"cyrius_json", "cyrius.json", kCyriusJson, "CyriusJsonReader", ""},
                      DispatchCase{"gene_keyed_upload_stays", "upload.json", R"({"CYP2D6": {"Genotype": "*1/*4"}})",
                                   "UploadTableReader", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatDispatcher, RefusesOtherFileTypes) {
  TempDir dir;
  // Aldy's VCF and .simple outputs included.
  const std::vector<std::pair<std::string, std::string>> files = {
      {"results.json.gz", "{}"},
      {"notes.txt", "{}"},
      {"CYP2D6", "{}"},
      {"calls.csv.bak", "{}"},
      {"S.aldy", "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\n"},
      {"S.simple", "Sample\tGene\tMajor\nS\tCYP2D6\t*1/*4\n"}};
  for (const auto& [name, content] : files) {
    const std::string path = dir.write(name, content);
    try {
      FormatDispatcher::get_parser(path);
      FAIL() << name;
    } catch (const InvalidArgumentError& e) {
      EXPECT_EQ(e.what(), "Unsupported file type: " + path);
    }
  }
  try {
    FormatDispatcher::get_parser("");
    FAIL() << "empty path";
  } catch (const InvalidArgumentError& e) {
    EXPECT_STREQ(e.what(), "Unsupported file type: ");
  }
}

TEST(FormatDispatcher, MissingFilesReachTheReaderConstructor) {
  TempDir dir;
  struct Case {
    const char* file;
    std::size_t debug_records;
  };
  for (const Case c : {Case{"missing.csv", 0}, Case{"missing.tsv", 1}, Case{"missing.json", 1},
                       Case{"missing.pharmcat.report.json", 0}, Case{"missing.aldy", 1}}) {
    const std::string path = dir.file(c.file);
    LogCapture log;
    try {
      FormatDispatcher::get_parser(path);
      FAIL() << c.file;
    } catch (const FileNotFoundError& e) {
      EXPECT_EQ(e.what(), "File not found: " + path);
    }
    EXPECT_EQ(log.messages(LogLevel::DEBUG).size(), c.debug_records) << c.file;
  }
}

// What every reader shares: the construction checks of the reader base, the
// source name its statements carry, and undecodable bytes raised as the
// decoding error.
struct ReaderCase {
  const char* name;
  std::unique_ptr<ICallReader> (*make)(const std::string& path);
  const char* file;
  std::string content;      // one usable call
  std::string undecodable;  // a bad byte after a usable start
  const char* source;
};

void PrintTo(const ReaderCase& c, std::ostream* out) { *out << c.name; }

template <typename Reader>
std::unique_ptr<ICallReader> make_reader(const std::string& path) {
  return std::make_unique<Reader>(path);
}

class EveryReader : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(EveryReader, SharesConstructionSourceNameAndDecodeErrors) {
  const ReaderCase& c = GetParam();
  TempDir dir;
  EXPECT_EQ(message_of<InvalidArgumentError>([&] { c.make(""); }), "file_path cannot be empty");
  const std::string missing = dir.file(c.file);
  EXPECT_EQ(message_of<FileNotFoundError>([&] { c.make(missing); }), "File not found: " + missing);

  const auto reader = c.make(dir.write(c.file, c.content));
  EXPECT_EQ(reader->reader_source_name(), c.source);
  const auto statements = reader->parse();
  ASSERT_EQ(statements.size(), 1U);
  EXPECT_EQ(statements[0].source, c.source);

  const auto undecodable = c.make(dir.write(c.file, c.undecodable));
  EXPECT_THROW(undecodable->parse(), TextDecodeError);
}

const std::string kPharmcatCall =
    R"({"geneReports": {"CPIC": [{"geneSymbol": "CYP2D6", "sourceDiplotypes": [{"label": "*1/*4"}]}]}})";
const std::string kPharmcatUndecodable =
    "{\"geneReports\": {\"CPIC\": [{\"geneSymbol\": \"CYP2D6\xFF\", \"sourceDiplotypes\": []}]}}";

INSTANTIATE_TEST_SUITE_P(
    Readers, EveryReader,
    ::testing::Values(
        ReaderCase{"pharmcat_phenotype", make_reader<PharmcatPhenotypeJsonParser>, "s.json", kPharmcatCall,
                   kPharmcatUndecodable, "pharmcat_phenotype"},
        ReaderCase{"pharmcat_report", make_reader<PharmcatReportJsonParser>, "s.json", kPharmcatCall,
                   kPharmcatUndecodable, "pharmcat_report"},
        ReaderCase{"pbstarphase_json", make_reader<SummaryJsonReader>, "s.json",
                   R"({"gene_details": {"CYP2D6": {"diplotypes": [{"diplotype": "*1/*4"}]}}})",
                   "{\"gene_details\": {\"CYP2D6\": {\"diplotypes\": [{\"diplotype\": \"*1/\xC3(\"}]}}}",
                   "pbstarphase"},
        ReaderCase{"pbstarphase_tsv", make_reader<SummaryTsvReader>, "s.tsv", "#gene\tdiplotype\nCYP2D6\t*1/*4\n",
                   "#gene\tdiplotype\nCYP2D6\t*1/*4\nG\xE9NE\t*1/*1\n", "pbstarphase"},
        ReaderCase{"pypgx_table", make_reader<SampleTableReader>, "CYP2D6.tsv",
                   "\tGenotype\tPhenotype\ns1\t*1/*4\tIM\n",
                   "\tGenotype\tPhenotype\ns1\t*1/*4\tIM\ns2\t*1/*1\tNormal \xFF\n", "pypgx"},
        ReaderCase{"cyrius_tsv", make_reader<CyriusTsvReader>, "c.tsv", kCyrius,
                   kCyrius.substr(0, kCyrius.size() - 6) + "\xFF\tPASS\n", "cyrius"},
        ReaderCase{"cyrius_json", make_reader<CyriusJsonReader>, "c.json", kCyriusJson,
                   "{\"S\": {\"Genotype\": \"*1/*4\xFF\", \"Filter\": \"PASS\"}}", "cyrius"},
        ReaderCase{"aldy", make_reader<AldyReader>, "S.aldy", kAldy, kAldy + "S\tCYP2D6\t2\t*1/\xC3(\n", "aldy"},
        ReaderCase{"stellarpgx", make_reader<StellarPgxReader>, "S_cyp2d6.alleles", kStellar, kStellar + "\xFF\n",
                   "stellarpgx"},
        ReaderCase{"upload_table", make_reader<UploadTableReader>, "calls.csv", "Gene,Diplotype\nCYP2D6,*1/*4\n",
                   "Gene,Diplotype\nCYP2D6,*1/*4\nCYP2C9,*1/\xC3(\n", "diplotype_table"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormatDispatcher, DecodeErrorsAreNotCaught) {
  TempDir dir;
  EXPECT_THROW(FormatDispatcher::get_parser(dir.write("upload.json", "{\"CYP2D6\": \"*1/\xFF\"}")), TextDecodeError);
  EXPECT_THROW(FormatDispatcher::get_parser(dir.write("calls.tsv", "#gene\xFF\tdiplotype\n")), TextDecodeError);
}

}  // namespace
}  // namespace callset_converter
