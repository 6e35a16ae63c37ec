// callset-bench --cohort [--samples N] [--inputs DIR] [--converter PATH] [--repeat R] [--smoke]
//
// Generates (once, reused) for N and 2N samples: twenty PyPGx cohort tables
// of that many rows, one uploaded CSV per sample and the sample sheet. Then
// measures, each as processor time of a whole process and the fastest of R
// runs (3 unless told):
//   - the cohort run of N samples and of 2N samples (peak memory too);
//   - twenty one-sample runs of the same inputs, scaled to N;
//   - the floor: writing and syncing each sample's two output files (their
//     sizes as the cohort run wrote them), measured in this process.
// and prints the targets as met or missed.

#include "CohortBench.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace callset_bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* GENES[] = {"CYP2D6", "CYP2C19", "CYP2C9", "CYP3A5", "CYP3A4", "CYP2B6", "CYP1A2",
                                 "CYP2A6", "CYP2C8",  "CYP2E1", "CYP4F2", "DPYD",   "G6PD",   "NUDT15",
                                 "NAT2",   "SLCO1B1", "TPMT",   "UGT1A1", "VKORC1", "IFNL3"};
constexpr int kOneSampleRuns = 20;

struct Options {
  std::string inputs = "/tmp/callset-bench-cohort";
  std::string converter = CALLSET_CONVERTER_EXE;
  long samples = 10000;
  int repeat = 3;
  bool smoke = false;
};

[[noreturn]] void usage(int status) {
  std::fputs(
      "usage: callset-bench --cohort [--samples N] [--inputs DIR] [--converter PATH] [--repeat R] [--smoke]\n"
      "\n"
      "Generates N and 2N samples sharing twenty PyPGx cohort tables (in DIR, default\n"
      "/tmp/callset-bench-cohort, kept for later runs), converts each cohort in one\n"
      "--cohort run and prints its processor time against twenty one-sample runs\n"
      "scaled to N and against the floor of writing and syncing each sample's two\n"
      "files, its growth from N to 2N samples and its peak memory. N defaults to\n"
      "10000. Each measurement is taken R times (default 3) and the fastest counts.\n"
      "--smoke: 40 samples in a temporary directory, each measured once, no verdict.\n",
      status == 0 ? stdout : stderr);
  std::exit(status);
}

Options parse(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(2);
      return argv[++i];
    };
    if (argument == "--cohort") continue;
    if (argument == "--samples") {
      options.samples = std::max(2L, std::atol(value().c_str()));
    } else if (argument == "--inputs") {
      options.inputs = value();
    } else if (argument == "--converter") {
      options.converter = value();
    } else if (argument == "--repeat") {
      options.repeat = std::max(1, std::atoi(value().c_str()));
    } else if (argument == "--smoke") {
      options.smoke = true;
    } else if (argument == "--help" || argument == "-h") {
      usage(0);
    } else {
      usage(2);
    }
  }
  if (options.smoke) {
    options.samples = 40;
    options.repeat = 1;
  }
  return options;
}

double seconds_of(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

double cpu_of(const rusage& usage) { return seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime); }

void write_whole(const std::string& path, const std::string& text) {
  const std::string temp = path + ".partial";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + temp);
  }
  fs::rename(temp, path);
}

std::string sample_name(long n) {
  char name[32];
  std::snprintf(name, sizeof name, "NA%06ld_PyPGx", n);
  return name;
}

// The inputs of `samples` samples under DIR/<samples>; written once, the
// sheet last, so that an interrupted run is redone.
std::string prepare(const std::string& root, long samples) {
  const std::string dir = root + "/" + std::to_string(samples);
  const std::string sheet = dir + "/samples.tsv";
  if (fs::exists(sheet)) return sheet;
  fs::create_directories(dir + "/tables");
  fs::create_directories(dir + "/uploads");
  std::string table_list;
  for (std::size_t g = 0; g < std::size(GENES); ++g) {
    std::string text = "\tGenotype\tPhenotype\tHaplotype1\tHaplotype2\tAlternativePhase\tVariantData\tCNV\n";
    for (long n = 0; n < samples; ++n) {
      const long kind = (n * 7 + static_cast<long>(g)) % 5;
      const char* second = kind == 0 ? "*4" : kind == 1 ? "*2" : kind == 2 ? "*17" : "*1";
      const char* phenotype = kind == 0   ? "Intermediate Metabolizer"
                              : kind == 2 ? "Rapid Metabolizer"
                                          : "Normal Metabolizer";
      text += sample_name(n) + "\t*1/" + second + "\t" + phenotype + "\t*1;\t" + second +
              ";\t;\t*4:22-42128945-C-T:0.512;\tNormal\n";
    }
    const std::string path = "tables/" + std::string(GENES[g]) + ".tsv";
    write_whole(dir + "/" + path, text);
    table_list += "\t" + path;
  }
  std::string sheet_text = "sample\tpypgx_sample\n";
  for (long n = 0; n < samples; ++n) {
    const std::string id = "S" + std::to_string(n);
    write_whole(dir + "/uploads/" + id + ".csv",
                "Gene,Diplotype,Phenotype\nABCG2,rs2231142 reference (G)/rs2231142 reference (G),Normal Function\n"
                "RYR1,Reference/Reference,Uncertain Susceptibility\n");
    sheet_text += id + "\t" + sample_name(n) + table_list + "\tuploads/" + id + ".csv\n";
  }
  write_whole(sheet, sheet_text);
  return sheet;
}

std::size_t tables_size(const std::string& sheet) {
  std::size_t total = 0;
  for (const auto& entry : fs::directory_iterator(fs::path(sheet).parent_path() / "tables")) total += entry.file_size();
  return total;
}

struct Run {
  double cpu = 0;
  double wall = 0;
  long peak_kb = 0;
  int status = -1;
};

// Runs `arguments` in `folder`, its output to /dev/null and its log to
// `log_path`; its own processor time and peak memory.
Run run_in(const std::string& folder, std::vector<std::string> arguments, const std::string& log_path) {
  std::vector<char*> argv;
  for (auto& text : arguments) argv.push_back(text.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned));
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  Run run;
  run.wall = std::chrono::duration<double>(Clock::now() - start).count();
  run.cpu = cpu_of(usage);
  run.peak_kb = usage.ru_maxrss;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

// Keeps in `best` the faster of it and `run` (the first run is kept as it
// is), with the larger peak memory of the two.
void keep_faster(Run& best, const Run& run, bool first) {
  const long peak_kb = first ? run.peak_kb : std::max(best.peak_kb, run.peak_kb);
  if (first || run.cpu < best.cpu) best = run;
  best.peak_kb = peak_kb;
}

// One cohort run, writing to `out`.
Run cohort_run(const Options& options, const std::string& sheet, const std::string& out) {
  const std::string folder = fs::path(sheet).parent_path().string();
  fs::create_directories(fs::path(out).parent_path());  // for the log beside it
  const Run run = run_in(folder, {options.converter, "--cohort", "samples.tsv", "--output-dir", out}, out + ".log");
  if (run.status != 0) throw std::runtime_error("the cohort run failed; see " + out + ".log");
  return run;
}

// Twenty one-sample runs spread over the sheet, their mean processor time.
Run one_sample_runs(const Options& options, const std::string& sheet, long samples, const std::string& out) {
  const std::string folder = fs::path(sheet).parent_path().string();
  Run total;
  const int runs = options.smoke ? 3 : kOneSampleRuns;
  for (int r = 0; r < runs; ++r) {
    const long n = samples * r / runs;
    std::vector<std::string> arguments{options.converter, "--output-dir", out + "/one",
                                       "--sample",        sample_name(n), "--"};
    for (const char* gene : GENES) arguments.push_back("tables/" + std::string(gene) + ".tsv");
    arguments.push_back("uploads/S" + std::to_string(n) + ".csv");
    Run run;
    for (int repeat = 0; repeat < options.repeat; ++repeat) {
      const Run one = run_in(folder, arguments, out + "-one.log");
      if (one.status != 0) throw std::runtime_error("a one-sample run failed; see " + out + "-one.log");
      keep_faster(run, one, repeat == 0);
    }
    total.cpu += run.cpu / runs;
    total.wall += run.wall / runs;
  }
  return total;
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The floor: for each of `samples` samples, a folder and its two files of
// the sizes the cohort run wrote, each written to a temporary name, synced
// and renamed into place. Processor time of this process.
double floor_cpu(const std::string& cohort_out, const std::string& out, long samples) {
  const std::string result = read_all(cohort_out + "/S0/helvara_pgx.json");
  const std::string sidecar = read_all(cohort_out + "/S0/helvara_pgx.provenance.json");
  fs::create_directories(out);
  struct rusage before {};
  struct rusage after {};
  ::getrusage(RUSAGE_SELF, &before);
  for (long n = 0; n < samples; ++n) {
    const std::string dir = out + "/S" + std::to_string(n);
    if (::mkdir(dir.c_str(), 0777) != 0) throw std::runtime_error("cannot create " + dir);
    for (const auto& [name, text] :
         {std::pair{"helvara_pgx.json", &result}, std::pair{"helvara_pgx.provenance.json", &sidecar}}) {
      const std::string path = dir + "/" + name;
      const std::string temp = path + ".tmp";
      const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd < 0 || ::write(fd, text->data(), text->size()) != static_cast<ssize_t>(text->size()) || ::fsync(fd) != 0 ||
          ::close(fd) != 0 || ::rename(temp.c_str(), path.c_str()) != 0) {
        throw std::runtime_error("cannot write " + path);
      }
    }
  }
  ::getrusage(RUSAGE_SELF, &after);
  return cpu_of(after) - cpu_of(before);
}

void verdict(const char* what, double value, const char* limit_text, bool met) {
  std::printf("  %-58s %8.2f  %-10s %s\n", what, value, limit_text, met ? "met" : "MISSED");
}

}  // namespace

int cohort_main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const Options options = parse(argc, argv);
  std::string root = options.inputs;
  if (options.smoke) {
    std::string pattern = (fs::temp_directory_path() / "callset-bench-cohort-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    root = pattern;
  }
  root = fs::absolute(root).string();
  const long n = options.samples;
  std::printf("callset-bench --cohort: %ld and %ld samples, 20 shared PyPGx tables, inputs in %s\n", n, 2 * n,
              root.c_str());
  std::fflush(stdout);
  const std::string sheet = prepare(root, n);
  const std::string sheet_double = prepare(root, 2 * n);
  const std::string out = root + "/out";

  // Nothing is removed until every measurement is taken: a file system
  // that has just deleted many files is slower to create new ones, which
  // would charge one run for the cleanup of another.
  const Run single = one_sample_runs(options, sheet, n, out);
  // The two sizes take turns, so that both meet the file system in the same
  // states (it slows as the runs' files pile up); each run writes to a
  // folder of its own.
  Run cohort;
  Run doubled;
  for (int r = 0; r < options.repeat; ++r) {
    const std::string run = "/" + std::to_string(r);
    keep_faster(cohort, cohort_run(options, sheet, out + "-" + std::to_string(n) + run), r == 0);
    keep_faster(doubled, cohort_run(options, sheet_double, out + "-" + std::to_string(2 * n) + run), r == 0);
  }
  double floor = 0;
  for (int r = 0; r < options.repeat; ++r) {
    const double cpu = floor_cpu(out + "-" + std::to_string(n) + "/0", out + "-floor/" + std::to_string(r), n);
    floor = r == 0 ? cpu : std::min(floor, cpu);
  }
  floor /= static_cast<double>(n);
  for (const auto& done : {out, out + "-" + std::to_string(n), out + "-" + std::to_string(2 * n), out + "-floor"}) {
    fs::remove_all(done);
  }
  const double tables = static_cast<double>(tables_size(sheet_double));

  const double per_sample = cohort.cpu / static_cast<double>(n);
  std::printf("\n%-44s %12s %12s %10s\n", "", "cpu", "wall", "peak MB");
  std::printf("%-44s %10.3f s %10.3f s %10.1f\n", "one-sample run (mean of the runs)", single.cpu, single.wall, 0.0);
  std::printf("%-44s %10.3f s %10.3f s %10.1f\n", ("cohort run, " + std::to_string(n) + " samples").c_str(), cohort.cpu,
              cohort.wall, cohort.peak_kb / 1024.0);
  std::printf("%-44s %10.3f s %10.3f s %10.1f\n", ("cohort run, " + std::to_string(2 * n) + " samples").c_str(),
              doubled.cpu, doubled.wall, doubled.peak_kb / 1024.0);
  std::printf("%-44s %10.3f ms\n", "cohort processor time per sample", per_sample * 1e3);
  std::printf("%-44s %10.3f ms\n", "floor: write and sync two files, per sample", floor * 1e3);
  std::printf("%-44s %10.1f MB\n", ("shared tables at " + std::to_string(2 * n) + " samples").c_str(),
              tables / (1 << 20));

  const double speedup = single.cpu * static_cast<double>(n) / cohort.cpu;
  const double over_floor = per_sample / floor;
  const double growth = doubled.cpu / cohort.cpu;
  const double memory = (doubled.peak_kb * 1024.0 - 64.0 * (1 << 20)) / tables;
  if (options.smoke) {
    std::printf("\n(smoke run: no verdict)\n");
    fs::remove_all(root);
    return 0;
  }
  std::printf("\nTargets (processor time):\n");
  verdict(("N one-sample runs over the cohort run, N=" + std::to_string(n)).c_str(), speedup, ">= 200", speedup >= 200);
  verdict("cohort time per sample over the write-and-sync floor", over_floor, "<= 3", over_floor <= 3);
  verdict(("cohort run at N=" + std::to_string(2 * n) + " over N=" + std::to_string(n)).c_str(), growth, "<= 2.2",
          growth <= 2.2);
  verdict("peak memory at 2N, less 64 MB, over the shared tables", memory, "<= 2.5", memory <= 2.5);
  return speedup >= 200 && over_floor <= 3 && growth <= 2.2 && memory <= 2.5 ? 0 : 1;
}

}  // namespace callset_bench
