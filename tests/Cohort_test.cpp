// The cohort run, through the built program: the sheet's cases, every
// sample's files against a run of that sample alone, and memory that grows
// with the shared tables, not with samples times tables.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "CallsetConverter/Support/Digest.h"
#include "TestSupport.h"

namespace callset_converter::testing {
namespace {

struct Outcome {
  int status = -1;
  std::string err;
  long peak_kb = 0;
};

// Runs the built program in `folder` with `arguments`; its standard error
// and its own peak memory are kept.
Outcome run_in(const std::string& folder, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), CALLSET_CONVERTER_EXE);
  std::vector<char*> argv;
  for (auto& text : arguments) argv.push_back(text.data());
  argv.push_back(nullptr);
  const std::string err_path = folder + "/.stderr";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  Outcome outcome;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return outcome;
  int status = 0;
  struct rusage usage {};
  if (::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
  outcome.peak_kb = usage.ru_maxrss;
  outcome.err = read_file(err_path);
  return outcome;
}

std::string upload(const std::string& diplotype) {
  return "Gene,Diplotype,Phenotype\nCYP2C9," + diplotype + ",Normal Metabolizer\n";
}

// A PyPGx table of `samples` rows named <prefix><n>, the sample column
// unnamed as PyPGx writes it.
std::string pypgx_table(int samples, const std::string& prefix = "P") {
  std::string text = "\tGenotype\tPhenotype\tHaplotype1\tHaplotype2\n";
  for (int n = 0; n < samples; ++n) {
    const std::string second = n % 3 == 0 ? "*4" : "*2";
    text += prefix + std::to_string(n) + "\t*1/" + second + "\t" +
            (n % 3 == 0 ? "Intermediate Metabolizer" : "Normal Metabolizer") + "\t*1\t" + second + "\n";
  }
  return text;
}

TEST(Cohort, SheetCases) {
  struct Case {
    const char* name;
    const char* sheet;
    std::vector<std::string> extra;  // arguments besides --cohort and --output-dir
    int status;
    const char* status_file;  // expected cohort-status.tsv; nullptr: none written
    const char* error;        // in standard error
  };
  const Case cases[] = {
      {"good",
       "sample\tinputs\nA\ta.csv\n# note\n\nB\tb.csv\n",
       {},
       0,
       "sample\tstatus\terror\nA\tok\t\nB\tok\t\n",
       ""},
      {"bad header", "id\tinputs\nA\ta.csv\n", {}, 2, nullptr, "line 1: the header must start with the column"},
      {"duplicate id", "sample\nA\ta.csv\nA\tb.csv\n", {}, 2, nullptr, "sample A is listed twice (first on line 2)"},
      {"invalid id", "sample\n.A\ta.csv\n", {}, 2, nullptr, "sample id '.A' must be letters"},
      {"with --sample", "sample\nA\ta.csv\n", {"--sample", "P1"}, 2, nullptr, "argument --cohort: not allowed"},
      {"missing input",
       "sample\nA\ta.csv\nB\tnowhere.csv\n",
       {},
       1,
       "sample\tstatus\terror\nA\tok\t\nB\tfailed\tFile not found: nowhere.csv\n",
       "[B] callset-converter: error: "},
      {"failing sample among good ones",
       "sample\nA\ta.csv\nB\tbroken.json\tb.csv\nC\tb.csv\n",
       {},
       1,
       nullptr,
       "[B] callset-converter: error: broken.json is not valid JSON"},
      {"shared table with pypgx_sample",
       "sample\tpypgx_sample\nA\tP1\tCYP2D6.tsv\ta.csv\nB\tP0\tCYP2D6.tsv\n",
       {},
       0,
       "sample\tstatus\terror\nA\tok\t\nB\tok\t\n",
       ""},
      {"shared table without pypgx_sample",
       "sample\nA\tCYP2D6.tsv\tb.csv\nB\tCYP2D6.tsv\n",
       {},
       1,
       "sample\tstatus\terror\nA\tfailed\tCYP2D6.tsv: the table holds 3 sample(s): 'P0', 'P1', 'P2'; choose one with "
       "--sample\nB\tfailed\tCYP2D6.tsv: the table holds 3 sample(s): 'P0', 'P1', 'P2'; choose one with --sample\n",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempDir dir;
    dir.write("a.csv", upload("*1/*1"));
    dir.write("b.csv", upload("*1/*2"));
    dir.write("broken.json", "{\"genes\": ");
    dir.write("CYP2D6.tsv", pypgx_table(3));
    dir.write("sheet.tsv", c.sheet);
    std::vector<std::string> arguments{"--cohort", "sheet.tsv", "--output-dir", "out"};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const Outcome outcome = run_in(dir.path().string(), arguments);
    EXPECT_EQ(outcome.status, c.status) << outcome.err;
    EXPECT_NE(outcome.err.find(c.error), std::string::npos) << outcome.err;
    if (c.status == 2) {
      EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
    } else if (c.status_file != nullptr) {
      EXPECT_EQ(read_file(dir.file("out/cohort-status.tsv")), c.status_file);
    }
  }
}

// Every sample's files are those of a run of that sample alone, over shared
// tables in both PyPGx layouts, a quoted sample cell, a sample whose row is
// missing and two given one shared directory.
TEST(Cohort, EverySampleEqualsItsOwnRun) {
  constexpr int kSamples = 50;
  const TempDir dir;
  dir.write("tables/CYP2D6.tsv", pypgx_table(kSamples));
  // The printed layout: the sample column's header cell is missing.
  std::string printed = pypgx_table(kSamples);
  printed.replace(0, 1, "   ");
  dir.write("tables/CYP2C19.tsv", printed);
  std::string quoted = pypgx_table(kSamples);
  quoted.replace(quoted.find("\nP3\t") + 1, 2, "\"P3\"");
  dir.write("tables/CYP3A5.tsv", quoted);
  // Cyrius's results for the whole cohort, read once and found by sample:
  // P11 has two rows and P12 a value Cyrius does not write, which fail
  // those samples only.
  std::string cyrius_tsv = "Sample\tGenotype\tFilter\n";
  std::string cyrius_json = "{";
  const char* const calls[] = {"*1/*2\tPASS", "*4/*10;*4/*36\tMore_than_one_possible_genotype", "None\tNone"};
  for (int n = 0; n < kSamples; ++n) {
    const std::string name = "P" + std::to_string(n);
    cyrius_tsv += name + "\t" + calls[n % 3] + "\n" + (n == 11 ? name + "\t*1/*1\tPASS\n" : "");
    cyrius_json += (n == 0 ? "\"" : ", \"") + name + "\": {\"Genotype\": " +
                   (n == 12      ? "12"
                    : n % 2 == 0 ? "\"*1/*4\""
                                 : "null") +
                   ", \"Filter\": \"PASS\"}";
  }
  dir.write("cyrius/cohort.tsv", cyrius_tsv);
  dir.write("cyrius/cohort.json", cyrius_json + "}");
  const std::string shared_inputs =
      "tables/CYP2D6.tsv\ttables/CYP2C19.tsv\ttables/CYP3A5.tsv\tcyrius/cohort.tsv\tcyrius/cohort.json";
  std::string sheet = "sample\tpypgx_sample\n";
  for (int n = 0; n < kSamples; ++n) {
    const std::string id = "S" + std::to_string(n);
    const std::string row = n == 7 ? "absent" : "P" + std::to_string(n);
    dir.write("uploads/" + id + ".csv", upload(n % 2 == 0 ? "*1/*1" : "*1/*3"));
    if (n == 9 || n == 10) {
      sheet += id + "\tP" + std::to_string(n) + "\tfolders/shared\n";
      continue;
    }
    sheet += id + "\t" + row + "\t" + shared_inputs + "\tuploads/" + id + ".csv\n";
  }
  // A folder that two samples name: its files are read once for both.
  dir.write("folders/shared/upload.csv", upload("*2/*2"));
  dir.write("folders/shared/CYP2D6.tsv", pypgx_table(kSamples));
  dir.write("sheet.tsv", sheet);
  const Outcome cohort =
      run_in(dir.path().string(), {"--cohort", "sheet.tsv", "--output-dir", "out", "--gzip", "--fhir"});
  ASSERT_EQ(cohort.status, 1) << cohort.err;
  const std::string statuses = read_file(dir.file("out/cohort-status.tsv"));

  for (int n = 0; n < kSamples; ++n) {
    SCOPED_TRACE(n);
    const std::string id = "S" + std::to_string(n);
    std::vector<std::string> one{"--output-dir", "one/" + id, "--gzip", "--fhir"};
    if (n == 9 || n == 10) {
      one.insert(one.end(), {"--input-dir", "folders/shared", "--sample", "P" + std::to_string(n)});
    } else {
      one.insert(one.end(), {"--sample", n == 7 ? "absent" : "P" + std::to_string(n), "--", "tables/CYP2D6.tsv",
                             "tables/CYP2C19.tsv", "tables/CYP3A5.tsv", "cyrius/cohort.tsv", "cyrius/cohort.json",
                             "uploads/" + id + ".csv"});
    }
    const Outcome alone = run_in(dir.path().string(), one);
    if (alone.status != 0) {
      // The status file gives the reason of the error line.
      const std::string reason = alone.err.substr(alone.err.rfind("error: ") + 7);
      EXPECT_NE(statuses.find(id + "\tfailed\t" + reason), std::string::npos) << statuses;
      EXPECT_FALSE(std::filesystem::exists(dir.file("out/" + id + "/helvara_pgx.json.gz")));
      continue;
    }
    EXPECT_NE(statuses.find(id + "\tok\t\n"), std::string::npos);
    for (const char* name : {"helvara_pgx.json.gz", "helvara_pgx.provenance.json"}) {
      EXPECT_EQ(read_file(dir.file("out/" + id + "/" + name)), read_file(dir.file("one/" + id + "/" + name))) << name;
    }
    // The Bundle (its time stamps aside, hence only its size) names each
    // input by its digest, taken once for a shared one.
    const std::string bundle = read_file(dir.file("out/" + id + "/helvara_pgx.fhir.json"));
    EXPECT_EQ(bundle.size(), read_file(dir.file("one/" + id + "/helvara_pgx.fhir.json")).size());
    if (n < 9) {
      for (const char* input : {"tables/CYP2D6.tsv", "cyrius/cohort.json"}) {
        EXPECT_NE(bundle.find("urn:sha256:" + sha256_hex(read_file(dir.file(input)))), std::string::npos) << input;
      }
    }
  }
}

// Twenty shared tables of as many rows as samples: the run's peak memory
// stays within a few times the tables beyond a run of one sample, where
// holding each sample's copy of the tables would take hundreds of MB.
TEST(Cohort, MemoryGrowsWithTheSharedTablesNotWithSamplesTimesTables) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer's own memory hides the converter's";
#endif
  constexpr int kSamples = 1500;
  const TempDir dir;
  std::string sheet = "sample\tpypgx_sample\n";
  std::string tables;
  std::size_t table_bytes = 0;
  const std::string table = pypgx_table(kSamples);
  for (int t = 0; t < 20; ++t) {
    const std::string name = "tables/GENE" + std::to_string(t) + ".tsv";
    dir.write(name, table);
    table_bytes += table.size();
    tables += "\t" + name;
  }
  for (int n = 0; n < kSamples; ++n) {
    const std::string id = "S" + std::to_string(n);
    dir.write("uploads/" + id + ".csv", upload("*1/*1"));
    sheet += id + "\tP" + std::to_string(n) + tables + "\tuploads/" + id + ".csv\n";
  }
  dir.write("sheet.tsv", sheet);
  const Outcome alone = run_in(dir.path().string(), {"--output-dir", "one", "--sample", "P0", "--", "tables/GENE0.tsv",
                                                     "tables/GENE1.tsv", "uploads/S0.csv"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  const Outcome cohort =
      run_in(dir.path().string(), {"--cohort", "sheet.tsv", "--output-dir", "out", "--log-level", "WARNING"});
  ASSERT_EQ(cohort.status, 0) << cohort.err;
  EXPECT_LE(cohort.peak_kb * 1024.0, alone.peak_kb * 1024.0 + 4.0 * static_cast<double>(table_bytes) + (16 << 20))
      << "tables " << table_bytes << " bytes";
}

}  // namespace
}  // namespace callset_converter::testing
