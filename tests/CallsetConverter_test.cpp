// The converter as a library: the request, input resolution, the per-gene
// merge, the result file in both forms, the provenance sidecar and what a
// failed run leaves behind.

#include "CallsetConverter/CallsetConverter.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "CallerFormats.h"
#include "CallsetConverter/Mappings.h"
#include "CallsetConverter/OutputGuard.h"
#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"
#include "CallsetConverter/Parsers/SummaryJsonReader.h"
#include "CallsetConverter/Parsers/SummaryTsvReader.h"
#include "CallsetConverter/Support/Digest.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Version.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

namespace fs = std::filesystem;
using testing::LogCapture;
using testing::names_in;
using testing::read_file;
using testing::TempDir;

// Small mapping tables of the test's own, so that expectations do not depend
// on the shipped defaults.
JsonDict test_gene_rules() {
  return JsonDict::parse(R"({
    "version": "rules-7",
    "passthrough_sources": ["pypgx", "Zeta", "b_caller"],
    "no_call_tokens": ["Unknown/Unknown"],
    "phenotype_source_preference": ["CPIC", "DPWG"],
    "allow_source_fallback": true,
    "recoverable_genes": ["NAT2"]
  })");
}

class ConverterTest : public ::testing::Test {
 protected:
  void SetUp() override { write_tables(test_gene_rules()); }
  void TearDown() override { set_mappings_dir(std::nullopt); }

  void write_tables(const JsonDict& rules) {
    tables.write("gene_rules.json", rules.dump());
    tables.write("phenotype_terms.json", R"({"version": "terms-3", "genes": {}, "global": {
        "Normal Metabolizer": "Normal Metabolizer",
        "Intermediate Metabolizer": "Intermediate Metabolizer",
        "Poor Metabolizer": "Poor Metabolizer"}})");
    tables.write("genotype_terms.json", R"({"alleles": {}, "diplotype_activity": {}})");
    set_mappings_dir(tables.path().string());
  }

  // A request reading `inputs` from the work directory and writing to out/.
  JsonDict request(const std::vector<std::string>& inputs) const {
    JsonDict r = JsonDict::object();
    r["input_files"] = inputs;
    r["input_dir"] = work.path().string();
    r["output_dir"] = work.file("out");
    return r;
  }

  LogCapture quiet;  // keeps the records of tests that do not look at them off the console
  TempDir tables;
  TempDir work;
};

const char* const CALLS_CSV =
    "Gene,Diplotype,Phenotype\n"
    "CYP2D6,*1/*1,Odd Term\n"
    "CYP2C19,*1/*2,Intermediate Metabolizer\n";

const char* const CALLS_INDENTED =
    "[\n"
    "    {\n"
    "        \"Id\": \"CYP2C19\",\n"
    "        \"Name\": \"CYP2C19\",\n"
    "        \"StarAllele\": \"*1/*2\",\n"
    "        \"Activity\": \"Intermediate Metabolizer\"\n"
    "    },\n"
    "    {\n"
    "        \"Id\": \"CYP2D6\",\n"
    "        \"Name\": \"CYP2D6\",\n"
    "        \"StarAllele\": \"*1/*1\",\n"
    "        \"Activity\": null\n"
    "    }\n"
    "]";

const char* const CALLS_COMPACT =
    "[{\"Id\": \"CYP2C19\", \"Name\": \"CYP2C19\", \"StarAllele\": \"*1/*2\", \"Activity\": \"Intermediate "
    "Metabolizer\"}, {\"Id\": \"CYP2D6\", \"Name\": \"CYP2D6\", \"StarAllele\": \"*1/*1\", \"Activity\": null}]";

std::string gunzip(const std::string& bytes) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  char buffer[4096];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  EXPECT_EQ(status, Z_STREAM_END);
  EXPECT_EQ(stream.avail_in, 0U) << "bytes after the gzip stream";
  inflateEnd(&stream);
  return out;
}

CallerStatement statement(const std::string& gene, const std::string& source,
                          std::optional<std::string> phenotype_source = std::nullopt,
                          std::vector<std::string> phenotypes = {}, std::string diplotype = "*1/*2") {
  return CallerStatement(gene, diplotype, {}, std::move(phenotypes), source, std::move(phenotype_source));
}

// ---- Request ----

TEST_F(ConverterTest, AbsentNullAndEmptyRequestsGiveTheDefaults) {
  for (const auto& given :
       {std::optional<JsonDict>(), std::optional<JsonDict>(JsonDict()), std::optional<JsonDict>(JsonDict::object())}) {
    CallsetConverter converter(given);
    EXPECT_TRUE(converter.input_files.empty());
    EXPECT_EQ(converter.input_dir, ".");
    EXPECT_EQ(converter.output_dir, ".");
    EXPECT_EQ(converter.output_json, HelvaraPgxConstants::DEFAULT_OUTPUT_JSON);
    EXPECT_FALSE(converter.gzip_output);
    EXPECT_TRUE(converter.write_provenance);
    EXPECT_TRUE(converter.recover_dropped_genes);
    EXPECT_TRUE(converter.gene_filter.empty());
    EXPECT_FALSE(converter.phenotype_source);
    EXPECT_EQ(converter.provenance, JsonDict::object());
  }
}

struct FlagCase {
  const char* value;  // JSON text of the member's value
  bool expected;
};

void PrintTo(const FlagCase& c, std::ostream* os) { *os << c.value; }

class RequestFlagTest : public ConverterTest, public ::testing::WithParamInterface<FlagCase> {};

TEST_P(RequestFlagTest, PresentFlagsAreOnExactlyWhenTruthy) {
  const JsonDict value = JsonDict::parse(GetParam().value);
  for (const char* key : {"gzip_output", "write_provenance", "recover_dropped_genes"}) {
    JsonDict r = JsonDict::object();
    r[key] = value;
    CallsetConverter converter(r);
    const bool actual = std::string(key) == "gzip_output"        ? converter.gzip_output
                        : std::string(key) == "write_provenance" ? converter.write_provenance
                                                                 : converter.recover_dropped_genes;
    EXPECT_EQ(actual, GetParam().expected) << key << " = " << GetParam().value;
  }
}

INSTANTIATE_TEST_SUITE_P(Truthiness, RequestFlagTest,
                         ::testing::Values(FlagCase{"null", false}, FlagCase{"false", false}, FlagCase{"0", false},
                                           FlagCase{"0.0", false}, FlagCase{"\"\"", false}, FlagCase{"[]", false},
                                           FlagCase{"{}", false}, FlagCase{"true", true}, FlagCase{"\"no\"", true},
                                           FlagCase{"\" \"", true}, FlagCase{"2", true}, FlagCase{"[0]", true}));

TEST_F(ConverterTest, MalformedRequestsNameTheMember) {
  for (const char* text :
       {R"([1, 2])", R"({"input_dir": 5})", R"({"input_files": "a.json"})", R"({"gene_filter": ["CYP2D6", 3]})",
        R"({"phenotype_source": true})", R"({"output_json": ["a.json"]})", R"({"sample": 3})", R"({"sample": ""})"}) {
    EXPECT_THROW(CallsetConverter(JsonDict::parse(text)), InvalidArgumentError) << text;
  }
}

// ---- Phenotype source ----

struct SourceCase {
  const char* requested;  // JSON text
  std::optional<std::string> resolved;
  std::vector<std::string> preference;
  std::vector<std::string> warnings;
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.requested; }

class PhenotypeSourceTest : public ConverterTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(PhenotypeSourceTest, ResolvesAgainstTheRulesAndReorders) {
  LogCapture log;
  JsonDict r = JsonDict::object();
  r["phenotype_source"] = JsonDict::parse(GetParam().requested);
  CallsetConverter converter(r);
  EXPECT_EQ(converter.phenotype_source, GetParam().resolved);
  EXPECT_EQ(converter._source_preference(), GetParam().preference);
  EXPECT_EQ(log.warnings(), GetParam().warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PhenotypeSourceTest,
    ::testing::Values(SourceCase{"null", std::nullopt, {"CPIC", "DPWG"}, {}},
                      SourceCase{"\"\"", std::nullopt, {"CPIC", "DPWG"}, {}},
                      SourceCase{"\" dpwg \"", "DPWG", {"DPWG", "CPIC"}, {}},
                      SourceCase{"\"CPIC\"", "CPIC", {"CPIC", "DPWG"}, {}},
                      SourceCase{"\"XYZ\"",
                                 std::nullopt,
                                 {"CPIC", "DPWG"},
                                 {"Unknown phenotype source 'XYZ'; using the default order CPIC, DPWG"}},
                      SourceCase{"\"  \"",
                                 std::nullopt,
                                 {"CPIC", "DPWG"},
                                 {"Unknown phenotype source '  '; using the default order CPIC, DPWG"}}));

// ---- Input resolution ----

TEST_F(ConverterTest, ListedFilesAreTakenAsGivenElseUnderTheInputDirectory) {
  const std::string b = work.write("b.csv", CALLS_CSV);
  const std::string elsewhere = tables.write("c.csv", CALLS_CSV);
  LogCapture log;
  CallsetConverter converter(request({"a.csv", "b.csv", elsewhere, "b.csv"}));
  EXPECT_EQ(converter._resolve_input_files(), (std::vector<std::string>{b, elsewhere, b}));
  EXPECT_EQ(log.warnings(), std::vector<std::string>{"Input file not found, skipping: a.csv"});
}

TEST_F(ConverterTest, DirectoryScanTakesSupportedRegularFilesInCodePointOrder) {
  const TempDir scan;
  scan.write("y.csv", "x");
  scan.write("X.JSON", "x");
  scan.write("z.txt", "x");
  scan.write("a.Tsv", "x");
  scan.write("b.ALDY", "x");
  scan.write("S_cyp2d6.alleles", "x");
  fs::create_directories(scan.path() / "w.json");
  fs::create_symlink(scan.path() / "y.csv", scan.path() / "link.json");
  fs::create_symlink(scan.path() / "w.json", scan.path() / "dirlink.csv");
  LogCapture log;
  JsonDict r = JsonDict::object();
  r["input_files"] = {"n1.json", "n2.json", "n3.json"};
  r["input_dir"] = scan.path().string() + "/";
  CallsetConverter converter(r);
  const std::string dir = scan.path().string() + "/";
  EXPECT_EQ(converter._resolve_input_files(),
            (std::vector<std::string>{dir + "S_cyp2d6.alleles", dir + "X.JSON", dir + "a.Tsv", dir + "b.ALDY",
                                      dir + "link.json", dir + "y.csv"}));
  EXPECT_EQ(log.warnings().size(), 3U);
}

TEST_F(ConverterTest, ASecondRunInTheSameDirectoryDoesNotReadBackItsOwnOutput) {
  work.write("calls.csv", CALLS_CSV);
  for (const bool gzip : {false, true}) {
    JsonDict r = JsonDict::object();
    r["input_dir"] = work.path().string();
    r["output_dir"] = work.path().string() + "/.";
    r["gzip_output"] = gzip;
    CallsetConverter converter(r);
    converter.run();
    converter.run();
    EXPECT_EQ(converter._resolve_input_files(), (std::vector<std::string>{work.file("calls.csv")}));
  }
  const std::string plain = read_file(work.file("helvara_pgx.json"));
  EXPECT_EQ(plain, CALLS_INDENTED);
}

TEST_F(ConverterTest, NoInputAtAllIsAnErrorAndWritesNothing) {
  JsonDict r = request({"missing.csv"});
  r["input_dir"] = work.file("no-such-dir");
  CallsetConverter converter(r);
  try {
    converter.run();
    FAIL() << "expected an error";
  } catch (const InvalidArgumentError& error) {
    EXPECT_STREQ(error.what(),
                 "No input files found. Provide input_files or an input_dir containing .json/.csv PGx output.");
  }
  EXPECT_FALSE(fs::exists(work.file("out")));
}

// ---- Merge ----

TEST_F(ConverterTest, HigherRankWinsWhateverTheOrderAndGenesComeOutInCodePointOrder) {
  CallsetConverter converter;
  const auto records = converter._merge({
      statement("CYP2D6", "pbstarphase", std::nullopt, {}, "*4/*4"),
      statement("CYP2D6", "pharmcat_report", "CPIC", {"Poor Metabolizer"}, "*1/*4"),
      statement("CYP2C9", "diplotype_table", std::nullopt, {"Normal Metabolizer"}),
      statement("CYP2C19", "pharmcat_phenotype", "CPIC", {"Normal Metabolizer"}, "*1/*1"),
      statement("CYP2C19", "pharmcat_report", "CPIC", {"Poor Metabolizer"}, "*2/*2"),
  });
  ASSERT_EQ(records.size(), 3U);
  EXPECT_EQ(records[0].gene, "CYP2C19");
  EXPECT_EQ(records[0].star_allele, "*2/*2");
  EXPECT_EQ(records[1].gene, "CYP2C9");
  EXPECT_EQ(records[1].activity, "Normal Metabolizer");
  EXPECT_EQ(records[2].gene, "CYP2D6");
  EXPECT_EQ(records[2].star_allele, "*1/*4");
  EXPECT_EQ(records[2].source, "pharmcat_report");
  EXPECT_EQ(records[2].warnings, std::vector<std::string>{"discordant call from pbstarphase: *4/*4"});
}

TEST_F(ConverterTest, PreferredPhenotypeSourceWinsWithinOneCaller) {
  const std::vector<CallerStatement> calls = {
      statement("CYP2C19", "pharmcat_report", "DPWG", {"Poor Metabolizer"}, "*2/*2"),
      statement("CYP2C19", "pharmcat_report", "CPIC", {"Normal Metabolizer"}, "*1/*1"),
      statement("CYP2C19", "pharmcat_report", std::nullopt, {"Intermediate Metabolizer"}, "*1/*2"),
  };
  EXPECT_EQ(CallsetConverter()._merge(calls).at(0).phenotype_source, "CPIC");
  EXPECT_EQ(CallsetConverter(JsonDict{{"phenotype_source", "dpwg"}})._merge(calls).at(0).phenotype_source, "DPWG");
}

TEST_F(ConverterTest, FallbackTakesTheActivityOfTheNextUsableSource) {
  const std::vector<CallerStatement> calls = {
      statement("CYP2C19", "pharmcat_report", "CPIC", {"Odd Term"}, "*1/*2"),
      statement("CYP2C19", "pharmcat_report", "DPWG", {}, "*1/*2"),
      statement("CYP2C19", "pharmcat_report", "DPWG", {"Poor Metabolizer"}, "*2/*2"),
  };
  CallsetConverter converter;
  const ReportRecord record = converter._merge(calls).at(0);
  EXPECT_EQ(record.star_allele, "*1/*2");
  EXPECT_EQ(record.activity, "Poor Metabolizer");
  EXPECT_EQ(record.phenotype_source, "DPWG");
  EXPECT_EQ(record.warnings, (std::vector<std::string>{"unmapped phenotype term 'Odd Term'",
                                                       "no usable phenotype from CPIC; taken from DPWG"}));

  JsonDict rules = test_gene_rules();
  rules.erase("allow_source_fallback");
  write_tables(rules);
  const ReportRecord kept = CallsetConverter()._merge(calls).at(0);
  EXPECT_FALSE(kept.activity);
  EXPECT_EQ(kept.phenotype_source, "CPIC");
}

TEST_F(ConverterTest, GenesOnlyFromPbStarPhaseSurviveOnlyWhenRecoverable) {
  const std::vector<CallerStatement> calls = {
      statement("NAT2", "pbstarphase", std::nullopt, {}, "*4/*5"),
      statement("NAT2", "pbstarphase", std::nullopt, {}, "*4/*6"),
      statement("CYP2C8", "pbstarphase"),
      statement("CYP3A5", "pbstarphase", std::nullopt, {}, "*3/*3"),
      statement("CYP3A5", "pypgx", std::nullopt, {"Poor Metabolizer"}, "*1/*3"),
  };
  LogCapture log;
  const auto records = CallsetConverter()._merge(calls);
  ASSERT_EQ(records.size(), 2U);
  EXPECT_EQ(records[0].gene, "CYP3A5");
  // Equal ranks: the statement read first wins; a PyPGx call beside it means
  // no recovery. Its phenotype belongs to another call, so it is not lent.
  EXPECT_EQ(records[0].star_allele, "*3/*3");
  EXPECT_FALSE(records[0].activity);
  EXPECT_EQ(records[0].warnings,
            (std::vector<std::string>{"no phenotype from pbstarphase", "discordant call from pypgx: *1/*3"}));
  EXPECT_EQ(records[1].gene, "NAT2");
  EXPECT_EQ(records[1].star_allele, "*4/*5");
  EXPECT_EQ(records[1].warnings.back(), "recovered from pbStarPhase; PharmCAT reported no guideline");
  EXPECT_EQ(log.warnings().back(), "1 gene(s) called only by pbStarPhase are not reported: CYP2C8");

  const auto without = CallsetConverter(JsonDict{{"recover_dropped_genes", false}})._merge(calls);
  ASSERT_EQ(without.size(), 1U);
  EXPECT_EQ(without[0].gene, "CYP3A5");
}

TEST_F(ConverterTest, GeneFilterIsExactAndEmptyRecordsAreStillReported) {
  LogCapture log;
  CallsetConverter converter(JsonDict{{"gene_filter", {"CYP2D6"}}});
  const auto records = converter._merge({
      statement("cyp2d6", "diplotype_table", std::nullopt, {"Normal Metabolizer"}),
      statement("CYP2D6", "diplotype_table", std::nullopt, {}, "Unknown/Unknown"),
  });
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0].gene, "CYP2D6");
  EXPECT_FALSE(records[0].star_allele);
  EXPECT_FALSE(records[0].activity);
  EXPECT_EQ(log.warnings(), std::vector<std::string>{"CYP2D6 produced neither diplotype nor phenotype"});
  EXPECT_TRUE(converter._merge({}).empty());
}

// The winner is the first call in merge order, an activity is lent only by
// the same call, and other callers' different calls are named. Each fault
// case is paired with the case that must stay as it was.
struct MergeCase {
  const char* name;
  std::vector<CallerStatement> calls;
  std::optional<std::string> star_allele;
  std::optional<std::string> activity;
  std::string source;
  std::vector<std::string> warnings;
  std::set<std::string> unmapped_terms;
};

CallerStatement no_call(const std::string& source, std::optional<std::string> phenotype_source = std::nullopt) {
  return CallerStatement("CYP2D6", "Unknown/Unknown", {}, {}, source, std::move(phenotype_source));
}

CallerStatement unannotated(std::string diplotype) {
  CallerStatement call("CYP2D6", std::move(diplotype), {}, {}, "pharmcat_report");
  call.unannotated = true;
  return call;
}

TEST_F(ConverterTest, MergeTakesOneCallerCallAndNamesTheOthers) {
  const std::vector<MergeCase> cases = {
      {"another caller's phenotype is not lent",
       {statement("CYP2D6", "pbstarphase", std::nullopt, {}, "*68+*4/*4"),
        statement("CYP2D6", "pypgx", std::nullopt, {"Odd Term"}, "*1/*21"),
        statement("CYP2D6", "pypgx", std::nullopt, {"Intermediate Metabolizer"}, "*1/*21")},
       "*68+*4/*4",
       std::nullopt,
       "pbstarphase",
       {"no phenotype from pbstarphase", "discordant call from pypgx: *1/*21"},
       {}},
      {"the same star allele lends its phenotype",
       {statement("CYP2D6", "pbstarphase", std::nullopt, {}, "*1/*4"),
        statement("CYP2D6", "diplotype_table", std::nullopt, {"Odd Term"}, "*1/*5"),
        statement("CYP2D6", "diplotype_table", std::nullopt, {"Poor Metabolizer"}, "*1/*4")},
       "*1/*4",
       "Poor Metabolizer",
       "pbstarphase",
       {"no phenotype from pbstarphase", "no usable phenotype from pbstarphase; taken from diplotype_table",
        "discordant call from diplotype_table: *1/*5"},
       {"CYP2D6\tOdd Term"}},
      {"a no-call gives way to a call",
       {no_call("pharmcat_report", "CPIC"), no_call("pharmcat_report", "DPWG"),
        statement("CYP2D6", "pypgx", std::nullopt, {"Poor Metabolizer"}, "*5/*68+*4"),
        statement("CYP2D6", "pbstarphase", std::nullopt, {"Odd Term"}, "*4/*4")},
       "*5/*68+*4",
       "Poor Metabolizer",
       "pypgx",
       {"no call from CPIC; taken from pypgx", "discordant call from pbstarphase: *4/*4"},
       {}},
      {"no call anywhere keeps the first",
       {no_call("pharmcat_report", "CPIC"), no_call("pbstarphase")},
       std::nullopt,
       std::nullopt,
       "pharmcat_report",
       {"no diplotype called", "no phenotype from CPIC"},
       {}},
      {"an unannotated call is reported where nobody else called",
       {unannotated("*1/*4")},
       "*1/*4",
       std::nullopt,
       "pharmcat_report",
       {"no phenotype from pharmcat_report", "no guideline annotation from PharmCAT"},
       {}},
      {"an unannotated call ranks below the uploaded table",
       {unannotated("*1/*4"), statement("CYP2D6", "diplotype_table", std::nullopt, {"Poor Metabolizer"}, "*4/*4")},
       "*4/*4",
       "Poor Metabolizer",
       "diplotype_table",
       {"discordant call from pharmcat_report: *1/*4"},
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CallsetConverter converter;
    const std::vector<ReportRecord> records = converter._merge(c.calls);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].star_allele, c.star_allele);
    EXPECT_EQ(records[0].activity, c.activity);
    EXPECT_EQ(records[0].source, c.source);
    EXPECT_EQ(records[0].warnings, c.warnings);
    EXPECT_EQ(converter.normalizer.unmapped_terms, c.unmapped_terms);
  }
}

// A caller is its input file, a diplotype is an unordered pair of
// haplotypes, and PharmCAT's unannotated call is PharmCAT's: each case read
// from files, beside the case with one file per caller that keeps today's
// result.
struct CallerFileCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;
  // The gene's record, or none when the gene is not reported.
  std::optional<std::vector<std::string>> record;  // star allele, activity ("" for none), warnings...
};

std::string upload(const std::string& diplotype, const std::string& phenotype) {
  return "Gene,Diplotype,Phenotype\nCYP2D6," + diplotype + "," + phenotype + "\n";
}

std::string starphase(const std::string& gene, const std::string& diplotype) {
  return "#gene\tdiplotype\n" + gene + "\t" + diplotype + "\n";
}

std::string pypgx(const std::string& diplotype, const std::string& phenotype) {
  return "\tGenotype\tPhenotype\nS1\t" + diplotype + "\t" + phenotype + "\n";
}

// A PharmCAT 3.0 report: CYP2D6 under each of `by_source` (source, label,
// phenotype), and CYP2B6 `unannotated` when given.
std::string pharmcat_json(const std::vector<std::array<std::string, 3>>& by_source,
                          const std::string& unannotated = "") {
  const auto report = [](const std::string& gene, const std::string& label, const std::string& phenotype) {
    return R"({"geneSymbol": ")" + gene + R"(", "sourceDiplotypes": [{"label": ")" + label + R"(", "phenotypes": [)" +
           (phenotype.empty() ? "" : "\"" + phenotype + "\"") + "]}]}";
  };
  std::string genes;
  for (const auto& [source, label, phenotype] : by_source) {
    genes += (genes.empty() ? "\"" : ", \"") + source + R"(": {"CYP2D6": )" + report("CYP2D6", label, phenotype) + "}";
  }
  return R"({"pharmcatVersion": "v3.0.0", "genes": {)" + genes + R"(}, "unannotatedGeneCalls": [)" +
         (unannotated.empty() ? "" : report("CYP2B6", unannotated, "")) + "]}";
}

std::string pharmcat_tsv(const std::string& label, const std::string& phenotype) {
  return "PharmCAT v3.0.0\nGene\tSource Diplotype\tPhenotype\tActivity Score\nCYP2D6\t" + label + "\t" + phenotype +
         "\t\n";
}

TEST_F(ConverterTest, ACallBelongsToItsFileAndHaplotypeOrderIsNoDisagreement) {
  using Files = std::vector<std::pair<std::string, std::string>>;
  using Record = std::vector<std::string>;
  const std::vector<CallerFileCase> cases = {
      {"another file of the same format lends no phenotype and is named",
       Files{{"lab_a.csv", upload("*4/*4", "")}, {"lab_b.csv", upload("*1/*1", "Normal Metabolizer")}},
       Record{"*4/*4", "", "no phenotype from diplotype_table", "discordant call from diplotype_table: *1/*1"}},
      {"(as another format's file)",
       Files{{"calls.tsv", starphase("CYP2D6", "*4/*4")}, {"lab_b.csv", upload("*1/*1", "Normal Metabolizer")}},
       Record{"*4/*4", "", "no phenotype from pbstarphase", "discordant call from diplotype_table: *1/*1"}},
      {"PharmCAT reports of two runs are two callers",
       Files{{"a.pharmcat.report.json", pharmcat_json({{"CPIC", "*1/*4", ""}})},
             {"b.pharmcat.tsv", pharmcat_tsv("*1/*1", "Normal Metabolizer")}},
       Record{"*1/*4", "", "no phenotype from CPIC", "discordant call from pharmcat_report: *1/*1"}},
      {"(one report's two phenotype sources are one caller)",
       Files{
           {"a.pharmcat.report.json", pharmcat_json({{"CPIC", "*1/*4", ""}, {"DPWG", "*1/*1", "Normal Metabolizer"}})}},
       Record{"*1/*4", "Normal Metabolizer", "no phenotype from CPIC",
              "no usable phenotype from CPIC; taken from DPWG"}},
      {"haplotypes in the other order are the same call",
       Files{{"calls.tsv", starphase("CYP2D6", "*1/*36+*10")}, {"CYP2D6.tsv", pypgx("*36+*10/*1", "Poor Metabolizer")}},
       Record{"*1/*36+*10", "Poor Metabolizer", "no phenotype from pbstarphase",
              "no usable phenotype from pbstarphase; taken from pypgx"}},
      {"(in the same order)",
       Files{{"calls.tsv", starphase("CYP2D6", "*1/*36+*10")}, {"CYP2D6.tsv", pypgx("*1/*36+*10", "Poor Metabolizer")}},
       Record{"*1/*36+*10", "Poor Metabolizer", "no phenotype from pbstarphase",
              "no usable phenotype from pbstarphase; taken from pypgx"}},
      {"a haplotype's own text still counts",
       Files{{"calls.tsv", starphase("CYP2D6", "*1/*4x2")}, {"CYP2D6.tsv", pypgx("*4/*1", "Poor Metabolizer")}},
       Record{"*1/*4x2", "", "no phenotype from pbstarphase", "discordant call from pypgx: *4/*1"}},
      {"an unannotated PharmCAT call keeps pbStarPhase's gene",
       Files{{"a.pharmcat.report.json", pharmcat_json({{"CPIC", "*1/*4", ""}}, "*1/*1")},
             {"calls.tsv", starphase("CYP2B6", "*1/*6")}},
       Record{"*1/*6", "", "no phenotype from pbstarphase", "discordant call from pharmcat_report: *1/*1"}},
      {"(a gene pbStarPhase alone called is dropped)",
       Files{{"a.pharmcat.report.json", pharmcat_json({{"CPIC", "*1/*4", ""}})},
             {"calls.tsv", starphase("CYP2B6", "*1/*6")}},
       std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<std::string> paths;
    for (const auto& [name, content] : c.files) paths.push_back(dir.write(name, content));
    const std::string gene = c.files.back().second.find("CYP2B6") != std::string::npos ? "CYP2B6" : "CYP2D6";
    const auto records = CallsetConverter().parse_files(paths);
    const auto found = std::find_if(records.begin(), records.end(), [&](const auto& r) { return r.gene == gene; });
    if (!c.record) {
      EXPECT_EQ(found, records.end());
      continue;
    }
    ASSERT_NE(found, records.end());
    Record got{found->star_allele.value_or(""), found->activity.value_or("")};
    got.insert(got.end(), found->warnings.begin(), found->warnings.end());
    EXPECT_EQ(got, *c.record);
  }

  // Two spellings of one file are one caller.
  const std::string lab = work.write("lab.csv", "");
  fs::create_directory(work.file("sub"));
  CallerStatement first = statement("CYP2D6", "diplotype_table", std::nullopt, {}, "*4/*4");
  CallerStatement second = statement("CYP2D6", "diplotype_table", std::nullopt, {"Poor Metabolizer"}, "*1/*4");
  first.input_file = lab;
  second.input_file = work.file("sub/../lab.csv");
  EXPECT_EQ(CallsetConverter()._merge({first, second}).at(0).warnings,
            (std::vector<std::string>{"no phenotype from diplotype_table",
                                      "no usable phenotype from diplotype_table; taken from diplotype_table"}));
}

// ---- Result file ----

struct OutputCase {
  bool gzip;
  const char* output_json;
  const char* result_name;
  const char* sidecar_name;
};

void PrintTo(const OutputCase& c, std::ostream* os) { *os << (c.gzip ? "gzip " : "plain ") << c.output_json; }

class OutputTest : public ConverterTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(OutputTest, WritesTheResultAndSidecarUnderTheirNames) {
  work.write("calls.csv", CALLS_CSV);
  JsonDict r = request({"calls.csv"});
  r["gzip_output"] = GetParam().gzip;
  r["output_json"] = GetParam().output_json;
  LogCapture log;
  CallsetConverter converter(r);
  EXPECT_EQ(converter.run(), std::nullopt);

  const fs::path out = work.path() / "out";
  EXPECT_EQ(names_in(out), (std::vector<std::string>{GetParam().result_name, GetParam().sidecar_name}));
  const std::string bytes = read_file((out / GetParam().result_name).string());
  if (GetParam().gzip) {
    ASSERT_GE(bytes.size(), 2U);
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b");
    EXPECT_EQ(gunzip(bytes), CALLS_COMPACT);
  } else {
    EXPECT_EQ(bytes, CALLS_INDENTED);
  }
  const std::string sidecar = read_file((out / GetParam().sidecar_name).string());
  EXPECT_EQ(sidecar, to_json_text(JsonDict::parse(sidecar), JsonStyle::Indented)) << "indented, never gzipped";
  EXPECT_EQ(log.messages(LogLevel::INFO),
            (std::vector<std::string>{"calls.csv: 2 gene call(s) from diplotype_table",
                                      "Wrote 2 gene results to " + (out / GetParam().result_name).string(),
                                      "Wrote provenance to " + (out / GetParam().sidecar_name).string()}));
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputTest,
    ::testing::Values(OutputCase{false, "out.json", "out.json", "out.provenance.json"},
                      OutputCase{true, "out.json", "out.json.gz", "out.provenance.json"},
                      OutputCase{true, "out.json.gz", "out.json.gz", "out.provenance.json"},
                      OutputCase{true, "out.JSON.GZ", "out.JSON.GZ.gz", "out.JSON.GZ.provenance.json"},
                      OutputCase{false, "out.gz.json", "out.gz.json", "out.gz.provenance.json"},
                      OutputCase{false, "out.json.json", "out.json.json", "out.json.provenance.json"},
                      OutputCase{false, "out.JSON", "out.JSON", "out.JSON.provenance.json"},
                      OutputCase{false, "out", "out", "out.provenance.json"}));

TEST_F(ConverterTest, ReturnListWritesNothingButStillLogs) {
  work.write("calls.csv", CALLS_CSV);
  LogCapture log;
  CallsetConverter converter(request({"calls.csv"}));
  const auto payload = converter.run(true);
  ASSERT_TRUE(payload);
  EXPECT_EQ(to_json_text(*payload, JsonStyle::Compact), CALLS_COMPACT);
  EXPECT_FALSE(fs::exists(work.file("out")));
  EXPECT_EQ(log.messages(LogLevel::INFO), std::vector<std::string>{"calls.csv: 2 gene call(s) from diplotype_table"});
  EXPECT_EQ(log.warnings(), std::vector<std::string>{"1 term(s) have no Helvara mapping yet:\n  CYP2D6\tOdd Term"});
}

TEST_F(ConverterTest, AnEmptyResultIsStillWrittenWithItsSidecar) {
  work.write("calls.csv", CALLS_CSV);
  for (const bool gzip : {false, true}) {
    JsonDict r = request({"calls.csv"});
    r["gene_filter"] = {"NOPE"};
    r["gzip_output"] = gzip;
    LogCapture log;
    CallsetConverter(r).run();
    const std::string result = work.file(gzip ? "out/helvara_pgx.json.gz" : "out/helvara_pgx.json");
    EXPECT_EQ(gzip ? gunzip(read_file(result)) : read_file(result), "[]");
    EXPECT_EQ(JsonDict::parse(read_file(work.file("out/helvara_pgx.provenance.json")))["genes"], JsonDict::array());
    EXPECT_EQ(log.messages(LogLevel::INFO).at(1), "Wrote 0 gene results to " + result);
  }
}

// ---- Sidecar ----

TEST_F(ConverterTest, SidecarHoldsTheEightMembersInOrder) {
  work.write("s.pharmcat.report.json", R"({"pharmcatVersion": "3.1.0", "dataVersion": "2025-01", "title": "t",
      "timestamp": "ts", "genes": {"CPIC": {"CYP2C19": {"geneSymbol": "CYP2C19", "sourceDiplotypes": [
        {"label": "*1/*2", "allele1": {"name": "*1"}, "allele2": {"name": "*2"}, "phenotypes": ["Odd Term"]}]}}}})");
  work.write("s.pbstarphase.json", R"({"pbstarphase_version": "1.2",
      "database_metadata": {"cpic_version": "c1", "hla_version": "h1", "pharmvar_version": "p1"},
      "gene_details": {"NAT2": {"diplotypes": [{"diplotype": "*4/*5", "hap1": "*4", "hap2": "*5"}]},
                       "CYP2C19": {"diplotypes": [{"diplotype": "*1/*1", "hap1": "*1", "hap2": "*1"}]}}})");
  CallsetConverter converter(request({"s.pharmcat.report.json", "s.pbstarphase.json"}));
  converter.run();
  const JsonDict sidecar = JsonDict::parse(read_file(work.file("out/helvara_pgx.provenance.json")));
  std::vector<std::string> keys;
  for (const auto& [key, value] : sidecar.items()) keys.push_back(key);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"parserVersion", "resultSha256", "phenotypeSourcePreference", "mappingVersions",
                                      "passthroughSources", "callers", "unmappedTerms", "genes"}));
  EXPECT_EQ(sidecar["parserVersion"], package_version());
  EXPECT_EQ(sidecar["resultSha256"], sha256_hex(read_file(work.file("out/helvara_pgx.json"))));
  EXPECT_EQ(sidecar["phenotypeSourcePreference"], JsonDict({"CPIC", "DPWG"}));
  EXPECT_EQ(sidecar["mappingVersions"].dump(),
            R"({"gene_rules":"rules-7","phenotype_terms":"terms-3","genotype_terms":null})");
  EXPECT_EQ(sidecar["passthroughSources"], JsonDict({"Zeta", "b_caller", "pypgx"}));
  EXPECT_EQ(sidecar["callers"].dump(),
            R"({"pharmcatVersion":"3.1.0","dataVersion":"2025-01","title":"t","timestamp":"ts",)"
            R"("pbstarphaseVersion":"1.2","cpicVersion":"c1","hlaVersion":"h1","pharmvarVersion":"p1"})");
  EXPECT_EQ(sidecar["unmappedTerms"], JsonDict({"CYP2C19\tOdd Term"}));
  ASSERT_EQ(sidecar["genes"].size(), 2U);
  EXPECT_EQ(sidecar["genes"][0]["Id"], "CYP2C19");
  EXPECT_EQ(sidecar["genes"][0]["source"], "pharmcat_report");
  EXPECT_EQ(sidecar["genes"][1]["Id"], "NAT2");
  EXPECT_EQ(sidecar["genes"][1]["warnings"].back(), "recovered from pbStarPhase; PharmCAT reported no guideline");
  // The result and sidecar written straight as text are the texts of their JSON values.
  const auto records = converter.parse_files();
  EXPECT_EQ(converter._provenance_text(records, "digest"),
            to_json_text(converter._provenance_document(records, "digest"), JsonStyle::Indented));
  JsonDict results = JsonDict::array();
  for (const auto& record : records) results.push_back(record.to_result());
  EXPECT_EQ(read_file(work.file("out/helvara_pgx.json")), to_json_text(results, JsonStyle::Indented));
}

TEST_F(ConverterTest, SidecarIsSkippedWhenSwitchedOffIncludingByNull) {
  work.write("calls.csv", CALLS_CSV);
  for (const JsonDict& off : {JsonDict(false), JsonDict(nullptr)}) {
    JsonDict r = request({"calls.csv"});
    r["write_provenance"] = off;
    LogCapture log;
    CallsetConverter(r).run();
    EXPECT_EQ(names_in(work.path() / "out"), std::vector<std::string>{"helvara_pgx.json"});
    EXPECT_EQ(log.messages(LogLevel::INFO).size(), 2U);
    fs::remove_all(work.path() / "out");
  }
}

TEST_F(ConverterTest, VersionReadFailuresAreLoggedOnlyForInputAndValueErrors) {
  const std::string gone = work.write("gone.pharmcat.report.json", "{}");
  const PharmcatReportJsonParser missing(gone);
  fs::remove(gone);
  const SummaryJsonReader invalid(work.write("bad.pbstarphase.json", "{not json"));
  const SummaryTsvReader unasked(work.write("calls.tsv", "nonsense"));
  const PharmcatReportJsonParser array_root(work.write("array.pharmcat.report.json", "[1]"));

  LogCapture log;
  CallsetConverter converter;
  converter._collect_versions(missing);
  converter._collect_versions(invalid);
  converter._collect_versions(unasked);
  EXPECT_EQ(converter.provenance, JsonDict::object());
  ASSERT_EQ(log.warnings().size(), 2U);
  EXPECT_EQ(log.warnings()[0], "Could not read versions from " + gone + ": File not found: " + gone);
  EXPECT_TRUE(log.warnings()[1].starts_with("Could not read versions from " + invalid.file_path + ": " +
                                            invalid.file_path + " is not valid JSON: "));
  // A structurally unusable document is neither kind and ends the run.
  EXPECT_ANY_THROW(converter._collect_versions(array_root));
}

// ---- Failures and repeated runs ----

TEST_F(ConverterTest, AReaderErrorInTheSecondFileLeavesNothingWritten) {
  work.write("calls.csv", CALLS_CSV);
  work.write("broken.pharmcat.report.json", "{\"pharmcatVersion\": ");
  LogCapture log;
  CallsetConverter converter(request({"calls.csv", "broken.pharmcat.report.json"}));
  EXPECT_THROW(converter.run(), InvalidArgumentError);
  EXPECT_EQ(log.messages(LogLevel::INFO), std::vector<std::string>{"calls.csv: 2 gene call(s) from diplotype_table"});
  EXPECT_FALSE(fs::exists(work.file("out")));
}

TEST_F(ConverterTest, RepeatedRunsRewriteTheSameOutputAndKeepWhatWasCollected) {
  work.write("calls.csv", CALLS_CSV);
  CallsetConverter converter(request({"calls.csv"}));
  converter.run();
  const std::string first_sidecar = read_file(work.file("out/helvara_pgx.provenance.json"));
  work.write("calls.csv", "Gene,Diplotype\nCYP2C19,*1/*2\n");
  converter.run();
  const JsonDict result = JsonDict::parse(read_file(work.file("out/helvara_pgx.json")));
  ASSERT_EQ(result.size(), 1U);
  const JsonDict sidecar = JsonDict::parse(read_file(work.file("out/helvara_pgx.provenance.json")));
  // The unmapped term of the first run stays in the normaliser's record.
  EXPECT_EQ(sidecar["unmappedTerms"], JsonDict({"CYP2D6\tOdd Term"}));
  EXPECT_NE(read_file(work.file("out/helvara_pgx.provenance.json")), first_sidecar);
  EXPECT_EQ(names_in(work.path() / "out"),
            (std::vector<std::string>{"helvara_pgx.json", "helvara_pgx.provenance.json"}));
}

TEST_F(ConverterTest, FailedWritesLeaveNoFileBehind) {
  work.write("calls.csv", CALLS_CSV);
  {
    // The output directory is a file.
    work.write("taken", "not a directory");
    JsonDict r = request({"calls.csv"});
    r["output_dir"] = work.file("taken");
    EXPECT_THROW(CallsetConverter(r).run(), IoError);
    EXPECT_EQ(read_file(work.file("taken")), "not a directory");
  }
  {
    // Only output_dir is created, not a sub-directory named in output_json;
    // the failed run removes the directories it created.
    JsonDict r = request({"calls.csv"});
    r["output_dir"] = work.file("out/deeper");
    r["output_json"] = "sub/out.json";
    EXPECT_THROW(CallsetConverter(r).run(), IoError);
    EXPECT_FALSE(fs::exists(work.path() / "out"));
  }
  {
    // The sidecar cannot be written: neither is, nor any temporary file.
    fs::create_directories(work.path() / "out" / "helvara_pgx.provenance.json");
    EXPECT_THROW(CallsetConverter(request({"calls.csv"})).run(), IoError);
    EXPECT_EQ(names_in(work.path() / "out"), (std::vector<std::string>{"helvara_pgx.provenance.json"}));
    EXPECT_TRUE(fs::is_empty(work.path() / "out" / "helvara_pgx.provenance.json"));
  }
}

TEST_F(ConverterTest, ResultOrSidecarOverAnInputIsRefusedBeforeReading) {
  const std::string calls = work.write("calls.csv", CALLS_CSV);
  fs::create_symlink(calls, work.file("link.json"));
  // Not an earlier result: one object has a fifth member.
  const std::string lookalike =
      work.write("res.json", R"([{"Id": "A", "Name": "A", "StarAllele": null, "Activity": null, "Note": 1}])");
  const std::string sidecar = work.write("up.provenance.json", "{}");
  struct Case {
    std::vector<std::string> inputs;  // none: the directory is scanned
    const char* output_json;
    bool provenance;
    const char* refused;  // the output named
    std::string input;
  };
  for (const Case& c :
       {Case{{"calls.csv"}, "calls.csv", true, "calls.csv", calls},
        Case{{"calls.csv"}, "link.json", true, "link.json", calls}, Case{{}, "calls.csv", true, "calls.csv", calls},
        Case{{}, "res.json", false, "res.json", lookalike},
        Case{{"up.provenance.json"}, "up.json", false, "up.provenance.json", sidecar}}) {
    JsonDict r = request(c.inputs);
    r["output_dir"] = work.path().string();
    r["output_json"] = c.output_json;
    r["write_provenance"] = c.provenance;
    LogCapture log;
    const std::string message = testing::message_of<InvalidArgumentError>([&] { CallsetConverter(r).run(); });
    EXPECT_EQ(message, "Refusing to write " + work.file(c.refused) + ": it is the input file " + c.input);
    for (const auto& line : log.messages(LogLevel::INFO)) {
      EXPECT_EQ(line.find("gene call(s)"), std::string::npos) << "nothing read: " << line;
    }
  }
  EXPECT_EQ(read_file(calls), CALLS_CSV);
  EXPECT_EQ(names_in(work.path()),
            (std::vector<std::string>{"calls.csv", "link.json", "res.json", "up.provenance.json"}));
}

TEST_F(ConverterTest, WithoutASidecarAnEarlierOneIsRemovedAndAnEarlierResultIsNotRead) {
  work.write("calls.csv", CALLS_CSV);
  JsonDict r = request({});
  r["output_dir"] = work.path().string();
  CallsetConverter(r).run();
  r["write_provenance"] = false;
  LogCapture log;
  CallsetConverter(r).run();
  EXPECT_EQ(names_in(work.path()), (std::vector<std::string>{"calls.csv", "helvara_pgx.json"}));
  EXPECT_EQ(
      log.messages(LogLevel::INFO),
      (std::vector<std::string>{
          "Not reading " + work.file("helvara_pgx.json") + ", the converter's own earlier result",
          "calls.csv: 2 gene call(s) from diplotype_table", "Wrote 2 gene results to " + work.file("helvara_pgx.json"),
          "Removed " + work.file("helvara_pgx.provenance.json") + ", the sidecar of an earlier result"}));
}

TEST_F(ConverterTest, EveryNameTheFileSystemTakesWorksAndNoneIsWrittenAlone) {
  work.write("calls.csv", CALLS_CSV);
  // The sidecar's name is 11 bytes longer than a result name ending in .json.
  for (const auto& [length, provenance, works] :
       {std::tuple{255, false, true}, std::tuple{244, true, true}, std::tuple{245, true, false}}) {
    const std::string name = std::string(static_cast<std::size_t>(length) - 5, 'n') + ".json";
    JsonDict r = request({"calls.csv"});
    r["output_json"] = name;
    r["write_provenance"] = provenance;
    if (!works) {
      EXPECT_THROW(CallsetConverter(r).run(), IoError);
      EXPECT_FALSE(fs::exists(work.path() / "out")) << "the directory the run created stays only with a result";
      continue;
    }
    CallsetConverter(r).run();
    std::vector<std::string> expected{name};
    if (provenance) expected.push_back(CallsetConverter::provenance_path(name));
    EXPECT_EQ(names_in(work.path() / "out"), expected);
    fs::remove_all(work.path() / "out");
  }
}

TEST_F(ConverterTest, ConcurrentRunsIntoOneFolderLeaveAMatchingPair) {
  work.write("a.csv", CALLS_CSV);
  work.write("b.csv", "Gene,Diplotype\nCYP2C19,*1/*2\n");
  std::vector<pid_t> children;
  for (const char* input : {"a.csv", "b.csv"}) {
    const pid_t child = ::fork();
    if (child == 0) {
      try {
        for (int i = 0; i < 20; ++i) CallsetConverter(request({input})).run();
      } catch (...) {
        ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_EQ(status, 0);
  }
  const JsonDict sidecar = JsonDict::parse(read_file(work.file("out/helvara_pgx.provenance.json")));
  EXPECT_EQ(sidecar["resultSha256"], sha256_hex(read_file(work.file("out/helvara_pgx.json"))));
  EXPECT_EQ(names_in(work.path() / "out"),
            (std::vector<std::string>{"helvara_pgx.json", "helvara_pgx.provenance.json"}));
}

TEST_F(ConverterTest, RealPharmcatReportConvertsEndToEnd) {
  const std::string realdata = testing::realdata_dir();
  if (realdata.empty()) GTEST_SKIP() << "no real caller outputs";
  JsonDict r = request({realdata + "/pharmcat/pharmcat.example.v3.0.1.report.json"});
  CallsetConverter converter(r);
  const auto payload = converter.run(true);
  ASSERT_TRUE(payload);
  ASSERT_FALSE(payload->empty());
  std::set<std::string> ids;
  for (const auto& item : *payload) {
    EXPECT_EQ(item.size(), 4U);
    ids.insert(item["Id"].get<std::string>());
  }
  EXPECT_EQ(ids.size(), payload->size()) << "one object per gene";
  EXPECT_TRUE(ids.contains("CYP2C19"));
  converter.run();
  const JsonDict sidecar = JsonDict::parse(read_file(work.file("out/helvara_pgx.provenance.json")));
  EXPECT_EQ(sidecar["callers"]["pharmcatVersion"].is_string(), true);
}

TEST_F(ConverterTest, RealMultiCallerRunSaysWhatIsNotReported) {
  const std::string realdata = testing::realdata_dir();
  if (realdata.empty()) GTEST_SKIP() << "no real caller outputs";
  set_mappings_dir(std::nullopt);
  const std::string report = realdata + "/pharmcat/pharmcat.example2.report.json";
  fs::copy_file(realdata + "/pypgx/README.grch37-CYP2D6-results.head2.tsv", work.file("CYP2D6.tsv"));
  work.write("calls.tsv", "#gene\tdiplotype\nCYP2E1\t*1/*2\nABCB1\t*1/*1\nNAT2\t*4/*5\n");
  JsonDict r = request({report, "CYP2D6.tsv", "calls.tsv"});
  r["phenotype_source"] = "DPWG";
  LogCapture log;
  const JsonDict payload = *CallsetConverter(r).run(true);
  const auto cyp2d6 =
      std::find_if(payload.begin(), payload.end(), [](const JsonDict& item) { return item["Id"] == "CYP2D6"; });
  ASSERT_NE(cyp2d6, payload.end());
  // PharmCAT's CYP2D6 no-call gives way to PyPGx's call, with its own phenotype.
  EXPECT_EQ((*cyp2d6)["StarAllele"], "*4/*5");
  EXPECT_EQ((*cyp2d6)["Activity"], "Poor Metabolizer");
  const std::vector<std::string> warnings = log.warnings();
  EXPECT_NE(std::find(warnings.begin(), warnings.end(),
                      report + ": PharmCAT wrote no per-source phenotypes; the requested phenotype source DPWG "
                               "does not apply to it"),
            warnings.end());
  EXPECT_NE(std::find(warnings.begin(), warnings.end(),
                      "2 gene(s) called only by pbStarPhase are not reported: ABCB1, CYP2E1"),
            warnings.end());
}

TEST_F(ConverterTest, ChosenSampleIsReadFromACohortTableAndRecordedAfterTheResultDigest) {
  work.write("CYP2D6.tsv", "\tGenotype\tPhenotype\nNA1\t*1/*1\tNormal Metabolizer\nNA2\t*4/*4\tPoor Metabolizer\n");
  JsonDict r = request({"CYP2D6.tsv"});
  r["sample"] = "NA2";
  CallsetConverter(r).run();
  EXPECT_EQ(JsonDict::parse(read_file(work.file("out/helvara_pgx.json")))[0]["StarAllele"], "*4/*4");
  const JsonDict sidecar = JsonDict::parse(read_file(work.file("out/helvara_pgx.provenance.json")));
  EXPECT_EQ(std::next(sidecar.begin(), 2).key(), "sample");
  EXPECT_EQ(sidecar["sample"], "NA2");
}

// One patient per report, a file read whole and once, a folder's earlier
// result left out: each case beside the unchanged one.
TEST_F(ConverterTest, EachFileIsOnePatientsAndEarlierResultsAreNotInputs) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> listed;         // none: the folder is scanned
    std::vector<std::string> genes;          // "Id StarAllele Activity"; empty for an error
    std::string error = "";                  // after the folder's path
    std::vector<std::string> left_out = {};  // files the scan takes for earlier results
  };
  const std::string pypgx = "\tGene\tGenotype\tPhenotype\n";
  const std::string pharmcat =
      "PharmCAT 3.0.0\nGene\tSource Diplotype\tPhenotype\tActivity Score\tRecommendation Lookup Diplotype\t"
      "Recommendation Lookup Phenotype\n";
  const std::string earlier = R"([{"Id": "CYP2C9", "Name": "CYP2C9", "StarAllele": "*1/*3", "Activity": null}])";
  const std::string upload = R"([{"Gene": "CYP2C9", "Diplotype": "*1/*3"}])";
  const std::vector<Case> cases = {
      {"one sample's table of two genes",
       {{"data.tsv", pypgx + "s1\tCYP2C9\t*1/*2\tIM\ns1\tCYP2C19\t*1/*1\tNM\n"}},
       {"data.tsv"},
       {"CYP2C19 *1/*1 NM", "CYP2C9 *1/*2 IM"}},
      {"two samples' table, one gene each",
       {{"data.tsv", pypgx + "s1\tCYP2C9\t*1/*2\tIM\ns2\tCYP2C19\t*1/*1\tNM\n"}},
       {"data.tsv"},
       {},
       "/data.tsv: the table holds 2 sample(s): 's1', 's2'; choose one with --sample"},
      {"combined call in the first of a gene's rows",
       {{"r.tsv", pharmcat + "DPYD\t*3\tn/a\tn/a\t*3/*7\tPoor Metabolizer\nDPYD\t*7\tn/a\tn/a\t\t\n"}},
       {"r.tsv"},
       {"DPYD *3/*7 Poor Metabolizer"}},
      {"combined call in a later row",
       {{"r.tsv", pharmcat + "DPYD\t*3\tn/a\tn/a\t\t\nDPYD\t*7\tn/a\tn/a\t*3/*7\tPoor Metabolizer\n"}},
       {"r.tsv"},
       {"DPYD *3/*7 Poor Metabolizer"}},
      {"an uploaded table in the folder is read", {{"calls.json", upload}}, {}, {"CYP2C9 *1/*3 null"}},
      {"an earlier result under another name is not",
       {{"calls.csv", "Gene,Diplotype\nCYP2D6,*1/*4\n"}, {"old.json", earlier}},
       {},
       {"CYP2D6 *1/*4 null"},
       "",
       {"old.json"}},
      {"listed, an earlier result is read as given", {{"old.json", earlier}}, {"old.json"}, {"CYP2C9 *1/*3 null"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const TempDir folder;
    for (const auto& [name, content] : c.files) folder.write(name, content);
    JsonDict r = request(c.listed);
    r["input_dir"] = folder.path().string();
    LogCapture log;
    if (!c.error.empty()) {
      EXPECT_EQ(testing::message_of<InvalidArgumentError>([&] { CallsetConverter(r).run(true); }),
                folder.path().string() + c.error);
      continue;
    }
    const JsonDict result = *CallsetConverter(r).run(true);
    std::vector<std::string> genes;
    for (const auto& record : result) {
      genes.push_back(record["Id"].get<std::string>() + " " + record["StarAllele"].get<std::string>() + " " +
                      (record["Activity"].is_null() ? "null" : record["Activity"].get<std::string>()));
    }
    EXPECT_EQ(genes, c.genes);
    std::vector<std::string> left_out;
    for (const auto& line : log.messages(LogLevel::INFO)) {
      if (line.starts_with("Not reading ")) left_out.push_back(line);
    }
    std::vector<std::string> expected_left_out;
    for (const auto& name : c.left_out) {
      expected_left_out.push_back("Not reading " + folder.file(name) + ": it is a result of this converter");
    }
    EXPECT_EQ(left_out, expected_left_out);
  }
  // The check reads no more than the size limit.
  const std::string old = work.write("old.json", earlier);
  EXPECT_TRUE(is_earlier_result(old, earlier.size()));
  EXPECT_FALSE(is_earlier_result(old, earlier.size() - 1));
}

// PharmCAT and the three CYP2D6 specialists in one run, with the shipped
// tables: each caller's words map to the same report term, the specialists
// rank below PharmCAT and among themselves by file order, and only a
// differing call is named.
TEST_F(ConverterTest, CyriusAldyAndStellarPgxMergeWithPharmcatOnCyp2d6) {
  set_mappings_dir(std::nullopt);
  const auto pharmcat = [&](const std::string& diplotype, const std::string& phenotype) {
    return work.write("s.pharmcat.report.json",
                      R"({"pharmcatVersion": "3.1.0", "genes": {"CYP2D6": {"geneSymbol": "CYP2D6",
                          "sourceDiplotypes": [{"label": ")" +
                          diplotype + R"(", "phenotypes": [")" + phenotype + R"("]}]}}})");
  };
  struct RunCase {
    const char* name;
    std::vector<std::string> files;
    std::optional<std::string> star_allele;
    std::optional<std::string> activity;
    const char* source;
    std::vector<std::string> warnings;
  };
  const std::vector<RunCase> cases = {
      {"all agree",
       {pharmcat("*1/*4", "Intermediate Metabolizer"), work.write("a.tsv", testing::cyrius_tsv("S", "CYP2D6", "*1/*4")),
        work.write("S.aldy", testing::aldy_report("S", "CYP2D6", "*1/*4", "intermediate")),
        work.write("S_cyp2d6.alleles",
                   testing::stellarpgx_result("S", "CYP2D6", "*1/*4", "Intermediate metaboliser (IM)"))},
       "*1/*4",
       "Intermediate Metabolizer",
       "pharmcat_report",
       {}},
      {"the specialists disagree",
       {work.write("b.tsv", testing::cyrius_tsv("S", "CYP2D6", "*1/*2x2")),
        pharmcat("*1/*4", "Intermediate Metabolizer"),
        work.write("T.aldy", testing::aldy_report("S", "CYP2D6", "*4/*4", "poor")),
        work.write("S_cyp2d6.alleles",
                   testing::stellarpgx_result("S", "CYP2D6", "*1/*41 or *119/*2", "Indeterminate"))},
       "*1/*4",
       "Intermediate Metabolizer",
       "pharmcat_report",
       {"discordant call from cyrius: *1/*2x2", "discordant call from aldy: *4/*4"}},
      {"without PharmCAT the first specialist's call wins",
       {work.write("c.tsv", "Sample\tGenotype\tFilter\nS\tNone\tNone\n"),
        work.write("U.aldy", testing::aldy_report("S", "CYP2D6", "*1/*4", "intermediate")),
        work.write("S_cyp2d6.alleles",
                   testing::stellarpgx_result("S", "CYP2D6", "*1/*4", "Intermediate metaboliser (IM)"))},
       "*1/*4",
       "Intermediate Metabolizer",
       "aldy",
       {"no call from cyrius; taken from aldy"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CallsetConverter converter(request(c.files));
    const std::vector<ReportRecord> records = converter.parse_files(c.files);
    ASSERT_EQ(records.size(), 1U);
    EXPECT_EQ(records[0].star_allele, c.star_allele);
    EXPECT_EQ(records[0].activity, c.activity);
    EXPECT_EQ(records[0].source, c.source);
    EXPECT_EQ(records[0].warnings, c.warnings);
    EXPECT_TRUE(converter.normalizer.unmapped_terms.empty());
  }
  // The Aldy report's gene database reaches the sidecar with PharmCAT's version.
  CallsetConverter converter(request({"s.pharmcat.report.json", "S.aldy"}));
  converter.run();
  const JsonDict sidecar = JsonDict::parse(read_file(work.file("out/helvara_pgx.provenance.json")));
  EXPECT_EQ(sidecar["callers"]["aldyGeneDatabase"], "CYP2D6-pharmvar-6.2.14 (2025-07-20)");
  EXPECT_EQ(sidecar["callers"]["pharmcatVersion"], "3.1.0");
}

// Real caller outputs through the whole program with the shipped tables:
// the genes each yields and the calls of a few.
TEST_F(ConverterTest, RealCallerOutputsOfEveryVersion) {
  const std::string realdata = testing::realdata_dir();
  if (realdata.empty()) GTEST_SKIP() << "no real caller outputs";
  set_mappings_dir(std::nullopt);
  using Call = std::pair<std::optional<std::string>, std::optional<std::string>>;
  struct Case {
    const char* file;
    std::optional<std::string> sample;
    std::size_t genes;
    std::map<std::string, Call> calls;
    std::map<std::string, std::string> callers;
  };
  const std::vector<Case> cases = {
      {"pharmcat/pharmcat.example2.v3.0.0.report.tsv",
       std::nullopt,
       19,
       {{"CYP2C19", {"*2/*2", "Poor Metabolizer"}}, {"NAT2", {"*1/*1", "Rapid Metabolizer"}}},
       {{"pharmcatVersion", "v2.15.5-60-g7b59c997"}}},
      {"pharmcat/pharmcat.example2.v3.0.0.report.json",
       std::nullopt,
       23,
       {{"NAT2", {"*1/*1", "Rapid Metabolizer"}}, {"CYP2D6", {std::nullopt, std::nullopt}}},
       {{"dataVersion", "2025-03-07-16-38"}}},
      {"pharmcat/pharmcat.example.v2.1.0.report.json",
       std::nullopt,
       23,
       {{"CFTR", {std::nullopt, std::nullopt}}, {"CYP2C19", {"*38/*38", "Normal Metabolizer"}}},
       {{"timestamp", "Nov 7, 2022, 4:19:43 PM"}, {"pharmcatCpicVersion", "v1.21.3"}}},
      {"pharmcat/pharmcat.example.v2.8.3.report.json",
       std::nullopt,
       23,
       {{"F5", {"rs6025 C/rs6025 C", std::nullopt}}, {"DPYD", {"Reference/Reference", "Normal Metabolizer"}}},
       {{"pharmcatCpicVersion", "v1.32.0"}}},
      {"pypgx/cohort-0.16.0/CYP2D6.tsv", "NA18484_PyPGx", 1, {{"CYP2D6", {"*1/*17", "Normal Metabolizer"}}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    JsonDict r = request({realdata + "/" + c.file});
    if (c.sample) r["sample"] = *c.sample;
    CallsetConverter converter(r);
    const JsonDict payload = *converter.run(true);
    EXPECT_EQ(payload.size(), c.genes);
    for (const auto& item : payload) {
      const auto expected = c.calls.find(item["Id"].get<std::string>());
      if (expected == c.calls.end()) continue;
      const auto text = [](const JsonDict& value) {
        return value.is_null() ? std::nullopt : std::optional<std::string>(value.get<std::string>());
      };
      EXPECT_EQ(Call(text(item["StarAllele"]), text(item["Activity"])), expected->second) << expected->first;
    }
    for (const auto& [key, value] : c.callers) EXPECT_EQ(converter.provenance[key], value) << key;
  }
}

}  // namespace
}  // namespace callset_converter
