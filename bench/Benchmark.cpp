// Times the converter end to end on large generated inputs and, side by side
// in the same run, the yardstick (callset-yardstick: load the same file and
// parse it with simdjson's DOM parser) and a Python script that only loads
// it with json.load, each timed as a whole process exactly like the
// converter. It prints the ratios, which hold on a noisy machine where
// absolute times do not, and the peak memory of each converter run.
//
//   callset-bench [--inputs DIR] [--converter PATH] [--repeat N] [--real-report FILE]
//   callset-bench --smoke
//   callset-bench --cohort [--samples N] [--smoke]   (see CohortBench.cpp)
//
// Inputs are generated into DIR once and reused. --smoke generates small
// inputs into a temporary directory and measures each once: it proves the
// benchmark works and says nothing about speed.

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
#include <functional>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "CohortBench.h"
#include "InputGenerator.h"

namespace callset_bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string inputs = "/tmp/callset-bench-inputs";
  std::string converter = CALLSET_CONVERTER_EXE;
  std::string yardstick = CALLSET_YARDSTICK_EXE;
  std::string python_script = CALLSET_JSON_LOAD_SCRIPT;
  // A real PharmCAT report, measured when it exists.
  std::string real_report = CALLSET_REAL_REPORT;
  int repeat = 3;
  bool smoke = false;
};

[[noreturn]] void usage(int status) {
  std::fputs(
      "usage: callset-bench [--inputs DIR] [--converter PATH] [--repeat N] [--real-report FILE]\n"
      "       callset-bench --smoke\n"
      "\n"
      "Generates large caller outputs into DIR (default /tmp/callset-bench-inputs;\n"
      "kept for later runs), converts each with the callset-converter program and\n"
      "prints its time against the yardstick (load and parse the same file with\n"
      "simdjson's DOM parser) and, for JSON inputs, a Python json.load of it, with\n"
      "the peak memory of each run. FILE, a real PharmCAT report, is measured too.\n"
      "Times are the fastest of N runs (default 3). --smoke measures small inputs\n"
      "once, in a temporary directory.\n",
      status == 0 ? stdout : stderr);
  std::exit(status);
}

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) usage(2);
      return argv[++i];
    };
    if (argument == "--inputs") {
      options.inputs = value();
    } else if (argument == "--converter") {
      options.converter = value();
    } else if (argument == "--real-report") {
      options.real_report = value();
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
  if (options.smoke) options.repeat = 1;
  return options;
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

double seconds_of(const timeval& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// Processor time (what the work itself costs, whatever else the machine
// runs) and wall time, each the least of the runs seen.
struct Cost {
  double cpu = -1;
  double wall = -1;

  bool known() const { return cpu >= 0; }
  void keep_least(const Cost& other) {
    cpu = cpu < 0 ? other.cpu : std::min(cpu, other.cpu);
    wall = wall < 0 ? other.wall : std::min(wall, other.wall);
  }
};

// The launcher: runs a program (the converter, the yardstick or Python) with
// its output to /dev/null and its log to `log_path`, and prints its exit
// status, wall and processor time and peak memory. Every program is started
// from this small fresh process rather than from the benchmark itself, whose
// own memory a child started from it would count as its own.
int launch(int argc, char** argv) {
  if (argc < 4) return 2;
  const char* log_path = argv[2];
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, log_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const auto start = Clock::now();
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[3], &actions, nullptr, argv + 3, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    std::printf("spawn %s\n", std::strerror(spawned));
    return 1;
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const double wall = seconds_since(start);
  const int exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("exit %d %.6f %.6f %ld\n", exit_code, wall, seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime),
              usage.ru_maxrss);
  return 0;
}

struct RunResult {
  Cost cost;
  long peak_kb = 0;
  bool ok = false;
  std::string error;
};

// One run of `command`, through the launcher; `out_dir` is emptied first
// and receives the program's log.
RunResult run_process(const std::vector<std::string>& command, const std::string& out_dir) {
  fs::remove_all(out_dir);
  fs::create_directories(out_dir);
  const std::string log_path = out_dir + "/run.log";
  std::vector<std::string> arguments{"/proc/self/exe", "--launch", log_path};
  arguments.insert(arguments.end(), command.begin(), command.end());
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  RunResult result;
  int pipe_ends[2];
  if (::pipe(pipe_ends) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(pipe_ends[1]);
  std::string report;
  char buffer[256];
  for (ssize_t got; spawned == 0 && (got = ::read(pipe_ends[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    report.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(pipe_ends[0]);
  if (spawned != 0) throw std::runtime_error(std::string("cannot start the launcher: ") + std::strerror(spawned));
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  int exit_code = -1;
  if (std::sscanf(report.c_str(), "exit %d %lf %lf %ld", &exit_code, &result.cost.wall, &result.cost.cpu,
                  &result.peak_kb) != 4) {
    result.error = "cannot run " + command.front() + ": " + report;
    return result;
  }
  result.ok = exit_code == 0;
  if (!result.ok) {
    std::ifstream log(log_path);
    std::stringstream text;
    text << log.rdbuf();
    std::string tail = text.str();
    if (tail.size() > 2000) tail = tail.substr(tail.size() - 2000);
    result.error =
        command.front() + " failed (status " + std::to_string(exit_code) + ") on " + command.back() + ":\n" + tail;
  }
  return result;
}

// One converter run on `input`.
RunResult run_converter(const std::string& converter, const InputCase& input, const std::string& out_dir) {
  std::vector<std::string> command{converter};
  if (input.kind == InputKind::Directory) command.push_back("--input-dir");
  command.insert(command.end(), {input.path, "--output-dir", out_dir});
  if (input.kind == InputKind::SampleTable) command.insert(command.end(), {"--sample", PYPGX_SAMPLE});
  return run_process(command, out_dir);
}

struct Measured {
  InputCase input;
  Cost yardstick;
  Cost python;
  Cost convert;
  long peak_kb = 0;
};

bool is_json(InputKind kind) {
  return kind == InputKind::Report || kind == InputKind::SniffedReport || kind == InputKind::Summary ||
         kind == InputKind::UploadJson;
}

// Keeps the cost of `run` in `cost`; false (after saying why) when it failed.
bool keep(const RunResult& run, Cost& cost) {
  if (!run.ok) {
    std::fprintf(stderr, "%s\n", run.error.c_str());
    return false;
  }
  cost.keep_least(run.cost);
  return true;
}

Measured measure(const Options& options, const InputCase& input, const std::string& out_dir, bool& failed) {
  Measured m;
  m.input = input;
  for (int r = 0; r < options.repeat && !failed; ++r) {
    // A directory has no one document to compare with; the sniffed report
    // shares the references of the report it links to.
    if (is_json(input.kind) && input.kind != InputKind::SniffedReport) {
      failed = !keep(run_process({options.yardstick, input.path}, out_dir), m.yardstick);
      // Python on the largest inputs costs seconds a run: once is enough.
      if (!failed && input.kind == InputKind::Report && r == 0) {
        failed = !keep(run_process({"python3", options.python_script, input.path}, out_dir), m.python);
      }
    }
    const RunResult run = run_converter(options.converter, input, out_dir);
    if (failed || !keep(run, m.convert)) {
      failed = true;
      return m;
    }
    m.peak_kb = std::max(m.peak_kb, run.peak_kb);
  }
  return m;
}

std::string size_text(std::size_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1 << 20));
  return text;
}

std::string ms_text(double seconds) {
  if (seconds < 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", seconds * 1000);
  return text;
}

std::string ratio_text(double numerator, double denominator) {
  if (numerator < 0 || denominator <= 0) return "-";
  char text[32];
  std::snprintf(text, sizeof text, "%.2fx", numerator / denominator);
  return text;
}

std::string machine_text() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  std::string model = "unknown CPU";
  while (std::getline(cpuinfo, line)) {
    if (line.starts_with("model name")) {
      model = line.substr(line.find(':') + 2);
      break;
    }
  }
  std::ifstream loadavg("/proc/loadavg");
  std::string load;
  loadavg >> load;
  return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, load " + load;
}

const Measured* find_case(const std::vector<Measured>& rows, InputKind kind, std::size_t nth) {
  for (const auto& row : rows) {
    if (row.input.kind == kind && nth-- == 0) return &row;
  }
  return nullptr;
}

void print_table(const std::vector<Measured>& rows) {
  const char* const row_format = "%-28s %9s %9s %9s %9s %9s %8s | %8s %8s %8s %8s\n";
  std::printf(row_format, "input", "size", "yardstick", "convert", "convert", "python", "peak RSS", "conv/yard",
              "conv/yard", "RSS/size", "py/conv");
  std::printf(row_format, "", "", "cpu ms", "cpu ms", "wall ms", "cpu ms", "MB", "cpu", "wall", "", "cpu");
  for (const auto& row : rows) {
    const auto size = static_cast<double>(row.input.bytes);
    const double peak = static_cast<double>(row.peak_kb) * 1024;
    char peak_text[32];
    std::snprintf(peak_text, sizeof peak_text, "%.1f", peak / (1 << 20));
    std::printf(row_format, row.input.name.c_str(), size_text(row.input.bytes).c_str(),
                ms_text(row.yardstick.cpu).c_str(), ms_text(row.convert.cpu).c_str(), ms_text(row.convert.wall).c_str(),
                ms_text(row.python.cpu).c_str(), peak_text, ratio_text(row.convert.cpu, row.yardstick.cpu).c_str(),
                ratio_text(row.convert.wall, row.yardstick.wall).c_str(), ratio_text(peak, size).c_str(),
                ratio_text(row.python.cpu, row.convert.cpu).c_str());
  }
}

struct Growth {
  std::string what;
  const Measured* half;
  const Measured* full;
};

std::vector<Growth> growths(const std::vector<Measured>& rows) {
  return {
      {"pbStarPhase genes", find_case(rows, InputKind::Summary, 1), find_case(rows, InputKind::Summary, 2)},
      {"PyPGx rows", find_case(rows, InputKind::SampleTable, 0), find_case(rows, InputKind::SampleTable, 1)},
      {"upload CSV rows", find_case(rows, InputKind::UploadCsv, 0), find_case(rows, InputKind::UploadCsv, 1)},
      {"upload JSON genes", find_case(rows, InputKind::UploadJson, 0), find_case(rows, InputKind::UploadJson, 1)},
  };
}

void print_growth(const std::vector<Measured>& rows) {
  std::printf("\nGrowth when the input doubles (convert processor time, larger over smaller; wall time):\n");
  for (const auto& growth : growths(rows)) {
    if (growth.half == nullptr || growth.full == nullptr) continue;
    std::printf("  %-20s %-26s -> %-26s %7s  (wall %s)\n", growth.what.c_str(), growth.half->input.name.c_str(),
                growth.full->input.name.c_str(), ratio_text(growth.full->convert.cpu, growth.half->convert.cpu).c_str(),
                ratio_text(growth.full->convert.wall, growth.half->convert.wall).c_str());
  }
}

// Peak memory may exceed this many times the input by a constant: the
// program, its libraries and tables, and the parser's fixed buffers.
constexpr double kMemoryPerInputByte = 2.5;
constexpr double kMemoryConstantBytes = 64.0 * (1 << 20);

void print_targets(const std::vector<Measured>& rows, std::size_t report_count) {
  std::printf("\nTargets (processor time; wall time in brackets):\n");
  const auto line = [](const std::string& what, double value, double limit, bool at_least, double wall) {
    const bool met = at_least ? value >= limit : value <= limit;
    std::printf("  %-58s %6.2fx  (at %s %.1fx)  %-6s", what.c_str(), value, at_least ? "least" : "most", limit,
                met ? "met" : "MISSED");
    if (wall >= 0) std::printf("  [%.2fx]", wall);
    std::printf("\n");
  };
  const Measured* source_keyed = find_case(rows, InputKind::Report, report_count - 1);
  const Measured* gene_keyed = find_case(rows, InputKind::Report, 2 * report_count - 1);
  const Measured* real = find_case(rows, InputKind::Report, 2 * report_count);
  for (const Measured* report : {source_keyed, gene_keyed}) {
    if (report == nullptr) continue;
    line("end to end, " + report->input.name + ", over the yardstick", report->convert.cpu / report->yardstick.cpu, 2.0,
         false, report->convert.wall / report->yardstick.wall);
  }
  if (real != nullptr) {
    line("end to end, " + real->input.name + ", over the yardstick", real->convert.cpu / real->yardstick.cpu, 2.5,
         false, real->convert.wall / real->yardstick.wall);
  }
  for (const Measured* report : {source_keyed, gene_keyed}) {
    if (report == nullptr) continue;
    line("Python json.load, " + report->input.name + ", over the converter", report->python.cpu / report->convert.cpu,
         5.0, true, report->python.wall / report->convert.wall);
  }
  for (const auto& row : rows) {
    if (row.input.kind != InputKind::Report && row.input.kind != InputKind::SniffedReport) continue;
    if (row.input.bytes < (50U << 20)) continue;
    const double peak = static_cast<double>(row.peak_kb) * 1024;
    line("peak memory less " + std::to_string(static_cast<int>(kMemoryConstantBytes / (1 << 20))) + " MB, " +
             row.input.name + ", over its size",
         (peak - kMemoryConstantBytes) / static_cast<double>(row.input.bytes), kMemoryPerInputByte, false, -1);
  }
  for (const auto& growth : growths(rows)) {
    if (growth.half == nullptr || growth.full == nullptr) continue;
    line("doubling " + growth.what, growth.full->convert.cpu / growth.half->convert.cpu, 2.2, false,
         growth.full->convert.wall / growth.half->convert.wall);
  }
}

int run(const Options& options) {
  const Scale scale = options.smoke ? smoke_scale() : full_scale();
  std::string inputs = options.inputs;
  if (options.smoke) {
    std::string pattern = (fs::temp_directory_path() / "callset-bench-smoke-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
    inputs = pattern;
  }
  std::string out_pattern = (fs::temp_directory_path() / "callset-bench-out-XXXXXX").string();
  if (::mkdtemp(out_pattern.data()) == nullptr) throw std::runtime_error("cannot create a temporary directory");
  const std::string out_dir = out_pattern + "/run";

  std::printf("callset-bench (%s inputs), %s\n", scale.name.c_str(), machine_text().c_str());
  std::printf("converter %s, fastest of %d run(s), inputs in %s\n", options.converter.c_str(), options.repeat,
              inputs.c_str());
  std::fflush(stdout);
  const auto start = Clock::now();
  std::vector<InputCase> cases = prepare_inputs(inputs, scale);
  // The real report comes after every generated report, so that the
  // targets find it by its place.
  std::error_code no_file;
  if (!options.smoke && !options.real_report.empty() && fs::is_regular_file(options.real_report, no_file)) {
    cases.push_back(InputCase{"real PharmCAT report", InputKind::Report, options.real_report,
                              static_cast<std::size_t>(fs::file_size(options.real_report))});
  }
  std::printf("inputs ready in %.1f s\n\n", seconds_since(start));
  std::fflush(stdout);

  bool failed = false;
  std::vector<Measured> rows;
  for (const auto& input : cases) {
    if (input.kind == InputKind::SniffedReport && !rows.empty()) {
      Measured m = measure(options, input, out_dir, failed);
      const Measured* source = find_case(rows, InputKind::Report, scale.report_bytes.size() - 1);
      m.yardstick = source->yardstick;
      m.python = source->python;
      rows.push_back(m);
    } else {
      rows.push_back(measure(options, input, out_dir, failed));
    }
    if (failed) break;
  }
  print_table(rows);
  print_growth(rows);
  if (!options.smoke && !failed) print_targets(rows, scale.report_bytes.size());

  fs::remove_all(out_pattern);
  if (options.smoke) fs::remove_all(inputs);
  return failed ? 1 : 0;
}

}  // namespace
}  // namespace callset_bench

int main(int argc, char** argv) {
  if (argc > 1 && std::string_view(argv[1]) == "--launch") return callset_bench::launch(argc, argv);
  try {
    if (argc > 1 && std::string_view(argv[1]) == "--cohort") return callset_bench::cohort_main(argc, argv);
    return callset_bench::run(callset_bench::parse_options(argc, argv));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "callset-bench: %s\n", error.what());
    return 1;
  }
}
