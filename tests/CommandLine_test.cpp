// The command line: the argument parser on its own, then the built
// callset-converter program run as a process in a scratch directory.

#include "CallsetConverter/CommandLine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Text.h"
#include "CallsetConverter/Support/Version.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

using testing::read_file;
using testing::TempDir;

// ---- Argument parser ----

// The default request with `changes` merged over it.
JsonDict request_with(const char* changes) {
  JsonDict request = JsonDict::parse(R"({"input_files": [], "input_dir": ".", "output_dir": ".",
      "output_json": "helvara_pgx.json", "gzip_output": false, "write_provenance": true,
      "recover_dropped_genes": true, "gene_filter": null, "phenotype_source": null})");
  const JsonDict overrides = JsonDict::parse(changes);
  for (const auto& [key, value] : overrides.items()) request[key] = value;
  return request;
}

struct ParseCase {
  std::vector<std::string> arguments;
  const char* changes;  // members that differ from the default request
  const char* log_level = "INFO";
};

void PrintTo(const ParseCase& c, std::ostream* os) { *os << join(c.arguments, " "); }

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, BuildsTheNineMemberRequest) {
  const CommandLineOptions options = parse_command_line(GetParam().arguments);
  EXPECT_EQ(options.action, CommandLineOptions::Action::Run);
  // dump() keeps member order, so this also checks the order of the nine.
  EXPECT_EQ(options.request.dump(), request_with(GetParam().changes).dump());
  EXPECT_EQ(options.log_level, GetParam().log_level);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, ParseTest,
    ::testing::Values(
        ParseCase{{}, "{}"},
        ParseCase{{"a.json", "--gzip", "b.json"}, R"({"input_files": ["a.json", "b.json"], "gzip_output": true})"},
        ParseCase{{"--in", "d", "--output-d=o", "--output-j", "r.json", "--gz", "--no-p", "--no-r", "--ph", "dpwg",
                   "--log", "debug"},
                  R"({"input_dir": "d", "output_dir": "o", "output_json": "r.json", "gzip_output": true,
                      "write_provenance": false, "recover_dropped_genes": false, "phenotype_source": "dpwg"})",
                  "debug"},
        // --genes swallows every following argument that does not start with "-".
        ParseCase{{"a.json", "--genes", "CYP2D6", "b.json"},
                  R"({"input_files": ["a.json"], "gene_filter": ["CYP2D6", "b.json"]})"},
        ParseCase{{"--genes"}, R"({"gene_filter": []})"},
        ParseCase{{"--gen", "CYP2D6", "--gzip", "a.json"},
                  R"({"input_files": ["a.json"], "gene_filter": ["CYP2D6"], "gzip_output": true})"},
        ParseCase{{"--genes=CYP2D6", "a.json"}, R"({"input_files": ["a.json"], "gene_filter": ["CYP2D6"]})"},
        ParseCase{{"--genes", "A", "--", "b.json"}, R"({"input_files": ["b.json"], "gene_filter": ["A"]})"},
        // After "--" everything is an input path.
        ParseCase{{"--", "--gzip", "-x.json"}, R"({"input_files": ["--gzip", "-x.json"]})"},
        ParseCase{{"--input-dir=", "-", "--output-json", "a", "--output-json=b=c"},
                  R"({"input_dir": "", "input_files": ["-"], "output_json": "b=c"})"},
        ParseCase{{"--phenotype-source="}, R"({"phenotype_source": ""})"},
        // The sample and --fhir follow the nine only when given.
        ParseCase{{"--sam", "NA12878_PyPGx", "a.tsv"}, R"({"input_files": ["a.tsv"], "sample": "NA12878_PyPGx"})"},
        ParseCase{{"--fh", "a.json"}, R"({"input_files": ["a.json"], "fhir": true})"}));

struct UsageCase {
  std::vector<std::string> arguments;
  const char* error;
};

void PrintTo(const UsageCase& c, std::ostream* os) { *os << join(c.arguments, " "); }

class UsageErrorTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(UsageErrorTest, RefusesTheCommandLine) {
  try {
    parse_command_line(GetParam().arguments);
    FAIL() << "expected a usage error";
  } catch (const UsageError& error) {
    EXPECT_STREQ(error.what(), GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, UsageErrorTest,
    ::testing::Values(UsageCase{{"a.json", "--bogus", "-x"}, "unrecognized arguments: --bogus -x"},
                      UsageCase{{"--out", "x"}, "ambiguous option: --out could match --output-dir, --output-json"},
                      UsageCase{{"--no"}, "ambiguous option: --no could match --no-provenance, --no-recover"},
                      UsageCase{{"--g"}, "ambiguous option: --g could match --gzip, --genes"},
                      // Ambiguity is found before -h is acted on.
                      UsageCase{{"-h", "--o=x"}, "ambiguous option: --o could match --output-dir, --output-json"},
                      UsageCase{{"--input-dir"}, "argument --input-dir: expected one argument"},
                      UsageCase{{"--log-level", "--gzip"}, "argument --log-level: expected one argument"},
                      UsageCase{{"--output-json", "--"}, "argument --output-json: expected one argument"},
                      UsageCase{{"--gzip=yes"}, "argument --gzip: ignored explicit argument 'yes'"},
                      // "-5." is no negative number (^-\d+$|^-\d*\.\d+$), so it is an unknown option.
                      UsageCase{{"--log-level", "-5."}, "argument --log-level: expected one argument"},
                      UsageCase{{"--max-input-size", "12x"},
                                "argument --max-input-size: expected a positive whole number of bytes, not '12x'"}));

TEST(ParseCommandLine, HelpAndVersionEndTheParseWherever) {
  using Action = CommandLineOptions::Action;
  EXPECT_EQ(parse_command_line({"a.json", "-h", "--bogus"}).action, Action::Help);
  EXPECT_EQ(parse_command_line({"--he"}).action, Action::Help);
  EXPECT_EQ(parse_command_line({"--vers"}).action, Action::Version);
  EXPECT_THROW(parse_command_line({"--input-dir", "-h"}), UsageError);
}

TEST(ParseCommandLine, LogLevelNamesMapCaseInsensitively) {
  const std::vector<std::pair<const char*, LogLevel>> cases = {
      {"debug", LogLevel::DEBUG},    {"INFO", LogLevel::INFO},     {"Warning", LogLevel::WARNING},
      {"warn", LogLevel::WARNING},   {"error", LogLevel::ERROR},   {"CRITICAL", LogLevel::CRITICAL},
      {"fatal", LogLevel::CRITICAL}, {"notset", LogLevel::NOTSET}, {"verbose", LogLevel::INFO},
      {"", LogLevel::INFO},          {"WARNING ", LogLevel::INFO}};
  for (const auto& [name, level] : cases) EXPECT_EQ(log_level_from_name(name), level) << name;
}

TEST(ParseCommandLine, HelpListsEveryArgumentWithItsExactText) {
  const std::string help = help_text();
  EXPECT_TRUE(help.starts_with(usage_text()));
  for (const char* text :
       {("Convert PharmCAT / pbStarPhase / diplotype-table PGx output into the Helvara PGx JSON format for upload to "
         "Helvara Analysis.\n"),
        "input .json / .csv files\n", "directory to scan when no files are given\n", "gzip the output\n",
        "do not recover genes PharmCAT dropped\n", "restrict output to these genes\n",
        ("preferred PharmCAT phenotype source (CPIC or DPWG). Falls back to the other source for genes the chosen "
         "one does not give a usable phenotype for. Defaults to CPIC.\n"),
        "--output-dir OUTPUT_DIR\n", "--output-json OUTPUT_JSON\n", "--no-provenance\n", "--log-level LOG_LEVEL\n",
        "-h, --help"}) {
    EXPECT_NE(help.find(text), std::string::npos) << text;
  }
}

// ---- The program ----

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tables.write("gene_rules.json", R"({"version": "r1", "passthrough_sources": [],
        "phenotype_source_preference": ["CPIC", "DPWG"], "recoverable_genes": []})");
    tables.write("phenotype_terms.json",
                 R"({"version": "p1", "global": {"Intermediate Metabolizer": "Intermediate Metabolizer"}})");
    tables.write("genotype_terms.json", R"({"version": "g1"})");
    work.write("calls.csv",
               "Gene,Diplotype,Phenotype\nCYP2D6,*1/*1,Odd Term\nCYP2C19,*1/*2,Intermediate Metabolizer\n");
  }

  // Runs the program in the work directory with the test's mapping tables.
  Outcome run(const std::vector<std::string>& arguments) const {
    const std::string exe = CALLSET_CONVERTER_EXE;
    std::vector<std::string> strings{exe};
    strings.insert(strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    argv.reserve(strings.size() + 1);
    for (auto& text : strings) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment{std::string("CALLSET_CONVERTER_MAPPINGS_DIR=") + tables.path().string()};
    for (char** entry = environ; *entry != nullptr; ++entry) {
      if (!std::string_view(*entry).starts_with("CALLSET_CONVERTER_MAPPINGS_DIR=")) environment.emplace_back(*entry);
    }
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (auto& text : environment) envp.push_back(text.data());
    envp.push_back(nullptr);
    const std::string out_path = capture.file("stdout");
    const std::string err_path = capture.file("stderr");
    const std::string directory = work.path().string();

    const pid_t pid = ::fork();
    if (pid == 0) {
      const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (out < 0 || err < 0 || ::chdir(directory.c_str()) != 0) ::_exit(126);
      ::dup2(out, 1);
      ::dup2(err, 2);
      ::execve(exe.c_str(), argv.data(), envp.data());
      ::_exit(127);
    }
    Outcome outcome;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    outcome.out = read_file(out_path);
    outcome.err = read_file(err_path);
    return outcome;
  }

  std::vector<std::string> work_files() const { return testing::names_in(work.path()); }

  // The INFO line naming the mapping directory the environment chose.
  std::string tables_line() const {
    return "INFO Mapping tables from " + tables.path().string() + " (CALLSET_CONVERTER_MAPPINGS_DIR)\n";
  }

  TempDir tables;
  TempDir work;
  TempDir capture;
};

const char* const UNMAPPED_LINES = "WARNING 1 term(s) have no Helvara mapping yet:\n  CYP2D6\tOdd Term\n";

TEST_F(ProgramTest, HelpAndVersionPrintAndExitZero) {
  const Outcome help = run({"calls.csv", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, help_text());
  EXPECT_EQ(help.err, "");
  const Outcome version = run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "callset-converter " + package_version() + "\n");
  EXPECT_EQ(work_files(), std::vector<std::string>{"calls.csv"});
}

TEST_F(ProgramTest, UsageErrorsExitTwoBeforeReadingAnything) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{
           {"calls.csv", "--bogus"}, {"--out", "x"}, {"calls.csv", "--phenotype-source"}}) {
    const Outcome outcome = run(arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_TRUE(outcome.err.starts_with(usage_text())) << outcome.err;
    EXPECT_NE(outcome.err.find("\ncallset-converter: error: "), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out, "");
  }
  EXPECT_EQ(work_files(), std::vector<std::string>{"calls.csv"});
}

TEST_F(ProgramTest, NoArgumentsScanTheWorkingDirectoryAndWriteBesideIt) {
  const Outcome outcome = run({});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.err, tables_line() + "INFO calls.csv: 2 gene call(s) from diplotype_table\n" + UNMAPPED_LINES +
                             "INFO Wrote 2 gene results to ./helvara_pgx.json\n"
                             "INFO Wrote provenance to ./helvara_pgx.provenance.json\n");
  EXPECT_EQ(work_files(), (std::vector<std::string>{"calls.csv", "helvara_pgx.json", "helvara_pgx.provenance.json"}));
  EXPECT_EQ(JsonDict::parse(read_file(work.file("helvara_pgx.json"))).size(), 2U);
}

TEST_F(ProgramTest, GenesSwallowFollowingPathsAndPrefixesWork) {
  // b.csv would fail to read; it is taken as a gene name instead.
  work.write("b.csv", "");
  const Outcome outcome =
      run({"calls.csv", "--gen", "CYP2C19", "b.csv", "--gz", "--no-prov", "--output-d", "out", "--output-j=r.json"});
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_EQ(outcome.err, tables_line() +
                             "INFO calls.csv: 2 gene call(s) from diplotype_table\n"
                             "INFO Wrote 1 gene results to out/r.json.gz\n");
  EXPECT_EQ(work_files(), (std::vector<std::string>{"b.csv", "calls.csv", "out"}));
  EXPECT_EQ(testing::names_in(work.path() / "out"), std::vector<std::string>{"r.json.gz"});
}

TEST_F(ProgramTest, LogLevelSetsTheThreshold) {
  const std::string skipped = "WARNING Input file not found, skipping: missing.csv\n";
  for (const char* level : {"WARNING", "warn"}) {
    const Outcome outcome = run({"missing.csv", "calls.csv", "--no-provenance", "--log-level", level});
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, skipped + UNMAPPED_LINES) << level;
  }
  EXPECT_EQ(run({"calls.csv", "--log-level=error"}).err, "");
  const Outcome verbose = run({"missing.csv", "calls.csv", "--log-level", "verbose"});
  // At INFO the run first names the mapping directory the environment chose.
  EXPECT_TRUE(
      verbose.err.starts_with(tables_line() + skipped + "INFO calls.csv: 2 gene call(s) from diplotype_table\n"))
      << verbose.err;
}

// The error line shows whatever the log level.
TEST_F(ProgramTest, ConverterErrorsExitOneAndWriteNothing) {
  work.write("taken", "x");
  const Outcome blocked = run({"calls.csv", "--output-dir", "taken", "--log-level", "critical"});
  EXPECT_EQ(blocked.status, 1);
  EXPECT_TRUE(blocked.err.starts_with("callset-converter: error: Cannot create directory taken")) << blocked.err;
  EXPECT_EQ(work_files(), (std::vector<std::string>{"calls.csv", "taken"}));
}

}  // namespace
}  // namespace callset_converter
