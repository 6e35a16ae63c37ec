// Hostile and broken input files. Each broken file is given to a conversion
// run twice: through the library (the error kind and its message) and
// through the built callset-converter program (exit status, the error line,
// no crash, no stack exhaustion); either way nothing may be written. Then
// what reaches the operator's terminal: the program's log lines and error
// line show control characters from input files as visible escapes, while
// the library's log records keep their exact messages.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <typeinfo>
#include <utility>
#include <vector>

#include "CallerFormats.h"
#include "CallsetConverter/CallsetConverter.h"
#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"
#include "CallsetConverter/Parsers/SummaryJsonReader.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Text.h"
#include "TestSupport.h"

namespace callset_converter {
namespace {

namespace fs = std::filesystem;
using testing::LogCapture;
using testing::read_file;
using testing::TempDir;

struct Outcome {
  bool exited = false;  // false: ended by a signal
  int status = -1;
  std::string err;
};

// Runs `strings` (the program first), its standard error captured.
Outcome spawn(std::vector<std::string> strings, const std::string& err_path) {
  std::vector<char*> argv;
  argv.reserve(strings.size() + 1);
  for (auto& text : strings) argv.push_back(text.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = 0;
  Outcome outcome;
  const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return outcome;
  int status = 0;
  if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
    outcome.exited = true;
    outcome.status = WEXITSTATUS(status);
  }
  outcome.err = read_file(err_path);
  return outcome;
}

// Runs the built program with `arguments`, its standard error captured.
Outcome run_program(const std::vector<std::string>& arguments, const std::string& err_path) {
  std::vector<std::string> strings{CALLSET_CONVERTER_EXE};
  strings.insert(strings.end(), arguments.begin(), arguments.end());
  return spawn(std::move(strings), err_path);
}

// Runs the shell command `setup` in `folder`, then the program there with
// the shell words `arguments` and "--output-dir out", its address space
// capped at 400 MB and its time at 30 s (killed beyond).
// AddressSanitizer reserves terabytes of address space for its shadow
// memory, so a sanitizer build cannot run under a memory cap; there only the
// time bound applies.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryCapped = false;
#else
constexpr bool kMemoryCapped = true;
#endif

Outcome run_bounded(const std::string& folder, const std::string& setup, const std::string& arguments,
                    const std::string& err_path) {
  const std::string cap = kMemoryCapped ? "ulimit -v 400000 && " : "";
  const std::string script =
      "cd \"$1\" && " + setup + " && " + cap + "exec timeout -s KILL 30 \"$2\" " + arguments + " --output-dir out";
  return spawn({"/bin/sh", "-c", script, "sh", folder, CALLSET_CONVERTER_EXE}, err_path);
}

std::string gzipped(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size())) + 32;
  std::string out(size, '\0');
  z_stream stream{};
  deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

std::string nested_arrays(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

constexpr std::size_t kDeep = 100000;
constexpr std::size_t kFiftyMegabytes = 50U << 20;

std::string pharmcat_report(const std::string& title, const std::string& activity = "\"1.0\"") {
  return R"({"title": )" + title + R"(, "pharmcatVersion": "v3.1.0", "genes": {"CYP2D6": {"geneSymbol": "CYP2D6",
      "sourceDiplotypes": [{"label": "*1/*4", "phenotypes": ["Intermediate Metabolizer"],
      "activityScore": )" +
         activity + "}]}}}";
}

std::string starphase_summary(const std::string& cpic_version) {
  return R"({"pbstarphase_version": "1.5.0", "database_metadata": {"cpic_version": )" + cpic_version +
         R"(}, "gene_details": {"CYP2D6": {"diplotypes": [{"hap1": "*1", "hap2": "*4", "diplotype": "*1/*4"}]}}})";
}

enum class Kind { InvalidArgument, TextDecode, Io };

const char* kind_text(Kind kind) {
  switch (kind) {
    case Kind::InvalidArgument:
      return "InvalidArgumentError";
    case Kind::TextDecode:
      return "TextDecodeError";
    case Kind::Io:
      return "IoError";
  }
  return "";
}

// Whether `error` is exactly of `kind` (a TextDecodeError is not taken for a
// plain invalid argument, a FileNotFoundError not for a plain IoError).
bool is_kind(const std::exception& error, Kind kind) {
  switch (kind) {
    case Kind::InvalidArgument:
      return dynamic_cast<const InvalidArgumentError*>(&error) != nullptr &&
             dynamic_cast<const TextDecodeError*>(&error) == nullptr;
    case Kind::TextDecode:
      return dynamic_cast<const TextDecodeError*>(&error) != nullptr;
    case Kind::Io:
      return dynamic_cast<const IoError*>(&error) != nullptr &&
             dynamic_cast<const FileNotFoundError*>(&error) == nullptr;
  }
  return false;
}

struct BadInput {
  const char* label;
  const char* file_name;
  std::function<std::string()> content;  // empty: the input is a directory
  Kind kind;
  // The message is `before`, the input path, then text starting with `after`.
  const char* before;
  const char* after;
};

void PrintTo(const BadInput& input, std::ostream* os) { *os << input.label; }

class BadInputTest : public ::testing::TestWithParam<BadInput> {
 protected:
  void SetUp() override {
    const BadInput& input = GetParam();
    if (input.content) {
      path = inputs.write(input.file_name, input.content());
    } else {
      path = inputs.file(input.file_name);
      fs::create_directories(path);
    }
  }

  std::string expected_message() const { return GetParam().before + path + GetParam().after; }

  // Nothing at all in the output folder (or no folder).
  void expect_nothing_written() const {
    if (!fs::exists(out_dir)) return;
    for (const auto& entry : fs::directory_iterator(out_dir)) ADD_FAILURE() << "written: " << entry.path();
  }

  TempDir inputs;
  TempDir scratch;
  std::string path;
  std::string out_dir = scratch.file("out");
};

TEST_P(BadInputTest, LibraryRunRaisesTheDocumentedKindNamingTheFile) {
  JsonDict request = JsonDict::object();
  request["input_files"] = JsonDict::array({path});
  request["output_dir"] = out_dir;
  CallsetConverter converter(request);
  try {
    converter.run();
    ADD_FAILURE() << "the run succeeded";
  } catch (const std::exception& error) {
    EXPECT_TRUE(is_kind(error, GetParam().kind))
        << "expected " << kind_text(GetParam().kind) << ", got " << typeid(error).name() << ": " << error.what();
    const std::string_view message = error.what();
    EXPECT_TRUE(message.starts_with(expected_message())) << message.substr(0, 2000);
    // However large the input, the message stays readable.
    EXPECT_LT(message.size(), 1000U);
  }
  expect_nothing_written();
}

TEST_P(BadInputTest, ProgramExitsWithTheErrorLineAndWritesNothing) {
  const Outcome outcome = run_program({path, "--output-dir", out_dir}, scratch.file("stderr"));
  ASSERT_TRUE(outcome.exited) << "ended by a signal; standard error: " << outcome.err.substr(0, 2000);
  EXPECT_EQ(outcome.status, 1);
  const std::string line = "callset-converter: error: " + expected_message();
  EXPECT_NE(outcome.err.find(line), std::string::npos) << outcome.err.substr(0, 2000);
  EXPECT_LT(outcome.err.size(), 1000U);
  expect_nothing_written();
}

const char* const kNotJson = " is not valid JSON: ";
const char* const kNotUtf8 = ": not valid UTF-8: ";

INSTANTIATE_TEST_SUITE_P(
    Inputs, BadInputTest,
    ::testing::Values(
        BadInput{"empty_upload_json", "upload.json", [] { return std::string(); }, Kind::InvalidArgument, "", kNotJson},
        BadInput{"empty_pharmcat_report", "s.pharmcat.report.json", [] { return std::string(); }, Kind::InvalidArgument,
                 "", kNotJson},
        BadInput{"empty_tsv", "s.pbstarphase.tsv", [] { return std::string(); }, Kind::InvalidArgument, "",
                 ": no usable rows"},
        BadInput{"empty_csv", "upload.csv", [] { return std::string(); }, Kind::InvalidArgument, "",
                 ": no usable rows - the minimum is a Gene and a Diplotype per row"},
        BadInput{"bom_pharmcat_report", "s.pharmcat.report.json",
                 [] { return "\xEF\xBB\xBF" + pharmcat_report("\"S\""); }, Kind::InvalidArgument, "", kNotJson},
        BadInput{"bom_upload_json", "upload.json",
                 [] { return std::string("\xEF\xBB\xBF[{\"Gene\": \"CYP2D6\", \"Diplotype\": \"*1/*4\"}]"); },
                 Kind::InvalidArgument, "", kNotJson},
        BadInput{"invalid_utf8_summary_json", "s.pbstarphase.json", [] { return starphase_summary("\"v1\xC3\x28\""); },
                 Kind::TextDecode, "", kNotUtf8},
        BadInput{"invalid_utf8_sniffed_json", "upload.json",
                 [] { return std::string("[{\"Gene\": \"CYP2D6\xFF\", \"Diplotype\": \"*1/*4\"}]"); }, Kind::TextDecode,
                 "", kNotUtf8},
        BadInput{"invalid_utf8_csv", "upload.csv",
                 [] { return std::string("Gene,Diplotype\nCYP2D6,*1/*4\xED\xA0\x80\n"); }, Kind::TextDecode, "",
                 kNotUtf8},
        BadInput{"invalid_utf8_tsv_header", "CYP2D6.tsv", [] { return std::string("\tGeno\xC0\xAFtype\tPhenotype\n"); },
                 Kind::TextDecode, "", kNotUtf8},
        BadInput{"lone_surrogate_escape", "s.pharmcat.report.json", [] { return pharmcat_report("\"S\\ud800\""); },
                 Kind::InvalidArgument, "", kNotJson},
        BadInput{"number_1e400", "s.pharmcat.report.json", [] { return pharmcat_report("\"S\"", "1e400"); },
                 Kind::InvalidArgument, "", kNotJson},
        BadInput{"deep_arrays_pharmcat_version", "s.pharmcat.report.json",
                 [] { return pharmcat_report(nested_arrays(kDeep)); }, Kind::InvalidArgument, "", kNotJson},
        BadInput{"deep_arrays_pharmcat_phenotype", "s.pharmcat.phenotype.json",
                 [] { return "{\"geneReports\": " + nested_arrays(kDeep) + "}"; }, Kind::InvalidArgument, "", kNotJson},
        BadInput{"deep_arrays_summary_version", "s.pbstarphase.json",
                 [] { return starphase_summary(nested_arrays(kDeep)); }, Kind::InvalidArgument, "", kNotJson},
        BadInput{"deep_objects_upload_json", "upload.json",
                 [] {
                   std::string text;
                   for (std::size_t i = 0; i < kDeep; ++i) text += "{\"a\": ";
                   return text + "1" + std::string(kDeep, '}');
                 },
                 Kind::InvalidArgument, "", kNotJson},
        BadInput{"unterminated_50mb_string", "upload.json",
                 [] { return "[{\"Gene\": \"" + std::string(kFiftyMegabytes, 'A'); }, Kind::InvalidArgument, "",
                 kNotJson},
        BadInput{"directory_named_json", "calls.json", nullptr, Kind::Io, "Cannot read ", ": "},
        BadInput{"directory_named_tsv", "calls.tsv", nullptr, Kind::Io, "Cannot read ", ": "},
        BadInput{"directory_named_csv", "calls.csv", nullptr, Kind::Io, "Cannot read ", ": "},
        BadInput{"directory_without_suffix", "calls", nullptr, Kind::InvalidArgument, "Unsupported file type: ", ""},
        BadInput{"prose_named_json", "notes.json", [] { return std::string("Patient notes: nothing to report.\n"); },
                 Kind::InvalidArgument, "", kNotJson},
        BadInput{"prose_named_csv", "notes.csv", [] { return std::string("Patient notes: nothing to report.\n"); },
                 Kind::InvalidArgument, "", ": no usable rows - the minimum is a Gene and a Diplotype per row"},
        BadInput{"image_named_json", "scan.json", [] { return std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16); },
                 Kind::TextDecode, "", kNotUtf8},
        BadInput{"gzipped_input", "calls.json.gz", [] { return gzipped(pharmcat_report("\"S\"")); },
                 Kind::InvalidArgument, "Unsupported file type: ", ""},
        BadInput{"gzip_bytes_named_json", "s.pharmcat.report.json", [] { return gzipped(pharmcat_report("\"S\"")); },
                 Kind::TextDecode, "", kNotUtf8},
        // The CYP2D6 specialists' files, told by content.
        BadInput{"empty_aldy", "S.aldy", [] { return std::string(); }, Kind::InvalidArgument,
                 "Unsupported file type: ", ""},
        BadInput{"aldy_vcf", "S.aldy", [] { return std::string("##fileformat=VCFv4.2\n##source=aldy\n"); },
                 Kind::InvalidArgument, "Unsupported file type: ", ""},
        BadInput{"directory_named_alleles", "S_cyp2d6.alleles", nullptr, Kind::InvalidArgument,
                 "Unsupported file type: ", ""},
        BadInput{"invalid_utf8_aldy", "S.aldy",
                 [] { return testing::aldy_report("S", "CYP2D6", "*1/*4") + "S\tCYP2D6\t2\t*1/\xC3(\n"; },
                 Kind::TextDecode, "", kNotUtf8},
        BadInput{"aldy_row_without_major", "S.aldy",
                 [] { return testing::aldy_report("S", "CYP2D6", "*1/*4") + "S\tCYP2D6\t2\n"; }, Kind::InvalidArgument,
                 "", ", line 5: an Aldy row without a Major cell"},
        BadInput{"cyrius_cohort_without_sample", "cyrius.tsv",
                 [] { return std::string("Sample\tGenotype\tFilter\nA\t*1/*4\tPASS\nB\tNone\tNone\n"); },
                 Kind::InvalidArgument, "", ": the table holds 2 sample(s): 'A', 'B'; choose one with --sample"},
        BadInput{"cyrius_json_of_a_sample_list", "cyrius.json",
                 [] { return std::string(R"({"A": {"Genotype": "*1/*4", "Filter": "PASS"}, "B": {}})"); },
                 Kind::InvalidArgument, "", ": the table holds 2 sample(s): 'A', 'B'; choose one with --sample"},
        BadInput{"stellarpgx_without_banner", "S_cyp2d6.tsv", [] { return std::string("Result:\n*1/*4\n"); },
                 Kind::InvalidArgument, "", ": no usable rows"}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.label); });

// Inputs that are unusual but valid: they convert, and their text reaches the
// output whole.
class AwkwardInputTest : public ::testing::Test {
 protected:
  // Runs the program on one input file and returns the result file's text.
  std::string convert(const std::string& name, const std::string& content) {
    const std::string path = inputs.write(name, content);
    const Outcome outcome = run_program({path, "--output-dir", out_dir}, scratch.file("stderr"));
    EXPECT_TRUE(outcome.exited);
    EXPECT_EQ(outcome.status, 0) << outcome.err.substr(0, 2000);
    return read_file(out_dir + "/helvara_pgx.json");
  }

  TempDir inputs;
  TempDir scratch;
  std::string out_dir = scratch.file("out");
};

TEST_F(AwkwardInputTest, EscapedNulReachesTheOutputEscapedAndDoesNotCutTheText) {
  const std::string result =
      convert("upload.json", R"([{"Gene": "CYP2D6\u0000X", "Diplotype": "*1/*4\u0000tail", "Phenotype": "Normal"}])");
  EXPECT_NE(result.find(R"("Id": "CYP2D6\u0000X")"), std::string::npos) << result;
  EXPECT_NE(result.find(R"("StarAllele": "*1/*4\u0000tail")"), std::string::npos) << result;
  const std::string sidecar = read_file(out_dir + "/helvara_pgx.provenance.json");
  EXPECT_NE(sidecar.find(R"("Id": "CYP2D6\u0000X")"), std::string::npos);
}

// A 50 MB diplotype shaped like a sub-allele (*1 followed by digits and
// ".001"): the sub-allele is cut off without exhausting the stack, and a
// 50 MB version value is copied into the sidecar whole.
TEST_F(AwkwardInputTest, FiftyMegabyteValuesConvert) {
  const std::string digits(kFiftyMegabytes, '7');
  const std::string report = R"({"title": ")" + digits + R"(", "genes": {"CYP2D6": {"geneSymbol": "CYP2D6",
      "sourceDiplotypes": [{"label": "*)" +
                             digits + R"(.001/*4", "phenotypes": ["Intermediate Metabolizer"]}]}}})";
  const std::string result = convert("s.pharmcat.report.json", report);
  EXPECT_NE(result.find("\"StarAllele\": \"*" + digits + "/*4\""), std::string::npos);
  const std::string sidecar = read_file(out_dir + "/helvara_pgx.provenance.json");
  EXPECT_NE(sidecar.find("\"title\": \"" + digits + "\""), std::string::npos);
}

// Nesting up to the accepted depth in a copied version value: the sidecar
// writer copies and writes it without recursion trouble.
TEST_F(AwkwardInputTest, DeepestAcceptedVersionValueIsCopiedToTheSidecar) {
  // 990 levels in the value, two more for the root and "database_metadata".
  const std::string deep = nested_arrays(990);
  convert("s.pbstarphase.json", starphase_summary(deep));
  const std::string sidecar = read_file(out_dir + "/helvara_pgx.provenance.json");
  EXPECT_NE(sidecar.find("\"cpicVersion\": ["), std::string::npos);
}

// An integer beyond 64 bits, even one of 401 digits, is no fault: a version
// value keeps every digit on its way to the sidecar.
TEST_F(AwkwardInputTest, IntegersBeyond64BitsReachTheSidecarWithEveryDigit) {
  for (const std::string& digits : {std::string("18446744073709551616"), "1" + std::string(400, '0')}) {
    convert("s.pbstarphase.json", starphase_summary(digits));
    const std::string sidecar = read_file(out_dir + "/helvara_pgx.provenance.json");
    EXPECT_NE(sidecar.find("\"cpicVersion\": " + digits + ","), std::string::npos) << sidecar;
  }
}

// ---- Reads that never end, pipes, unverifiable paths, earlier results ----

struct HostileRead {
  const char* label;
  const char* setup;      // shell commands run in the input folder first
  const char* arguments;  // shell words after the program name
  int status;
  const char* err_has;     // text standard error must hold
  const char* result_has;  // with status 0: text out/<result>, its sidecar and Bundle must hold
  const char* result_lacks;
  const char* result = "helvara_pgx";
};

void PrintTo(const HostileRead& read, std::ostream* os) { *os << read.label; }

class HostileReadTest : public ::testing::TestWithParam<HostileRead> {};

// Each run is bounded in memory and time: an input that never ends, or a
// pipe opened twice, would show as a kill, not as a hang of the suite.
TEST_P(HostileReadTest, EndsWithinBoundsAsDocumented) {
  const HostileRead& read = GetParam();
  if (!kMemoryCapped && std::string_view(read.label) == "dev_zero_beyond_the_memory_cap") {
    GTEST_SKIP() << "needs a memory cap, which a sanitizer build cannot run under";
  }
  TempDir work;
  work.write("report.txt", pharmcat_report("\"S\""));
  const Outcome outcome = run_bounded(work.path().string(), read.setup, read.arguments, work.file("stderr"));
  ASSERT_TRUE(outcome.exited) << "ended by a signal; standard error: " << outcome.err.substr(0, 2000);
  EXPECT_EQ(outcome.status, read.status) << outcome.err.substr(0, 2000);
  EXPECT_NE(outcome.err.find(read.err_has), std::string::npos) << outcome.err.substr(0, 2000);
  if (read.status != 0) {
    EXPECT_FALSE(fs::exists(work.file("out"))) << "something was written";
    return;
  }
  std::string written = read_file(work.file("out/" + std::string(read.result) + ".json")) +
                        read_file(work.file("out/" + std::string(read.result) + ".provenance.json"));
  if (fs::exists(work.file("out/" + std::string(read.result) + ".fhir.json"))) {
    written += read_file(work.file("out/" + std::string(read.result) + ".fhir.json"));
  }
  EXPECT_NE(written.find(read.result_has), std::string::npos) << written.substr(0, 2000);
  if (read.result_lacks != nullptr) {
    EXPECT_EQ(written.find(read.result_lacks), std::string::npos) << written;
  }
}

// A FIFO is fed once, by a writer that gives up after 30 s.
#define FEED_FIFO(name, command) "mkfifo " name " && (timeout 30 sh -c '" command " > " name "' &)"

INSTANTIATE_TEST_SUITE_P(
    Reads, HostileReadTest,
    ::testing::Values(
        HostileRead{"dev_zero_named_json", "ln -s /dev/zero z.json", "z.json --max-input-size 1000000", 1,
                    "callset-converter: error: z.json is larger than the input size limit of 1000000 bytes\n", nullptr,
                    nullptr},
        HostileRead{"dev_urandom_named_report", "ln -s /dev/urandom s.pharmcat.report.json",
                    "s.pharmcat.report.json --max-input-size=1000000", 1,
                    "error: s.pharmcat.report.json is larger than the input size limit of 1000000 bytes\n", nullptr,
                    nullptr},
        HostileRead{"oversized_regular_tsv", "head -c 2000 /dev/zero > CYP2D6.tsv", "CYP2D6.tsv --max-input-size 1000",
                    1, "error: CYP2D6.tsv is larger than the input size limit of 1000 bytes\n", nullptr, nullptr},
        // The default limit (1 GiB) lies beyond the memory cap.
        HostileRead{"dev_zero_beyond_the_memory_cap", "ln -s /dev/zero z.json", "z.json", 1,
                    "callset-converter: error: out of memory while reading z.json\n", nullptr, nullptr},
        HostileRead{"mapping_table_dev_zero",
                    "mkdir maps && ln -s /dev/zero maps/gene_rules.json && export CALLSET_CONVERTER_MAPPINGS_DIR=maps",
                    "report.txt --max-input-size 1000000", 1,
                    "error: maps/gene_rules.json is larger than the input size limit of 1000000 bytes\n", nullptr,
                    nullptr},
        HostileRead{"fifo_pharmcat_report", FEED_FIFO("s.pharmcat.report.json", "cat report.txt"),
                    "s.pharmcat.report.json", 0, "INFO s.pharmcat.report.json: 1 gene call(s)",
                    "\"pharmcatVersion\": \"v3.1.0\"", nullptr},
        HostileRead{"fifo_sniffed_json", FEED_FIFO("calls.json", "cat report.txt"), "calls.json", 0,
                    "INFO calls.json: 1 gene call(s) from pharmcat_report", "\"pharmcatVersion\": \"v3.1.0\"", nullptr},
        HostileRead{"fifo_pypgx_table",
                    FEED_FIFO("CYP2D6.tsv", "printf \"Genotype\\tPhenotype\\n*1/*4\\tPoor Metabolizer\\n\""),
                    "CYP2D6.tsv", 0, "INFO CYP2D6.tsv: 1 gene call(s) from pypgx", "\"StarAllele\": \"*1/*4\"",
                    nullptr},
        // The Bundle names the input by the digest of the bytes read once.
        HostileRead{"fifo_with_fhir",
                    FEED_FIFO("CYP2D6.tsv", "printf \"Genotype\\tPhenotype\\n*1/*4\\tPoor Metabolizer\\n\""),
                    "CYP2D6.tsv --fhir", 0, "INFO Wrote FHIR bundle",
                    "urn:sha256:3c9c1ddec6de6577acb1edbdb44e6ad31de80f0dab93b0de989d84476a0c4083", nullptr},
        HostileRead{"fifo_aldy_report",
                    FEED_FIFO("S.aldy", "printf \"#Sample\\tGene\\tSolutionID\\tMajor\\nS\\tCYP2D6\\t1\\t*1/*4\\n\""),
                    "S.aldy", 0, "INFO S.aldy: 1 gene call(s) from aldy", "\"StarAllele\": \"*1/*4\"", nullptr},
        HostileRead{"dev_zero_named_alleles", "ln -s /dev/zero z.alleles", "z.alleles --max-input-size 1000000", 1,
                    "callset-converter: error: z.alleles is larger than the input size limit of 1000000 bytes\n",
                    nullptr, nullptr},
        // Listed paths that exist but cannot be checked: never a reason to
        // convert the other file in the folder.
        HostileRead{
            "symbolic_link_loop", "cp report.txt s.pharmcat.report.json && ln -s loop.json loop.json", "loop.json", 1,
            "callset-converter: error: Cannot check loop.json: Too many levels of symbolic links\n", nullptr, nullptr},
        HostileRead{"name_too_long", "cp report.txt s.pharmcat.report.json", "$(printf %0300d 0).json", 1,
                    ".json: File name too long\n", nullptr, nullptr},
        // Yesterday's result, written under the default name, next to its sidecar.
        HostileRead{"earlier_result_in_the_scan",
                    "cp report.txt s.pharmcat.report.json && echo '[{\"Id\": \"FAKE1\", \"StarAllele\": \"*1/*1\"}]' "
                    "> helvara_pgx.json && echo '{}' > helvara_pgx.provenance.json",
                    "--output-json fixed.json", 0,
                    "INFO Not reading ./helvara_pgx.json: the provenance sidecar helvara_pgx.provenance.json records "
                    "it as a result\n",
                    "\"Id\": \"CYP2D6\"", "FAKE1", "fixed"},
        // One row of 300,000 columns: seconds if each cell were found by a
        // search of the row, a moment when the row is built in one pass.
        HostileRead{"csv_row_of_300000_columns",
                    "awk 'BEGIN { printf \"Gene,Diplotype\"; for (i = 0; i < 300000; i++) printf \",c%d\", i; "
                    "printf \"\\nCYP2D6,*1/*4\"; for (i = 0; i < 300000; i++) printf \",x\"; print \"\" }' > wide.csv",
                    "wide.csv", 0, "INFO wide.csv: 1 gene call(s)", "\"StarAllele\": \"*1/*4\"", nullptr}),
    [](const ::testing::TestParamInfo<HostileRead>& info) { return std::string(info.param.label); });

// ---- Exact values ----

struct ExactValue {
  const char* label;
  std::string file_name;
  std::string content;
  std::string result_has;  // in the indented result text
};

void PrintTo(const ExactValue& value, std::ostream* os) { *os << value.label; }

class ExactValueTest : public ::testing::TestWithParam<ExactValue> {};

TEST_P(ExactValueTest, ReachesTheResultExactly) {
  TempDir work;
  JsonDict request = JsonDict::object();
  request["input_files"] = JsonDict::array({work.write(GetParam().file_name, GetParam().content)});
  const std::string result = to_json_text(*CallsetConverter(request).run(true), JsonStyle::Indented);
  EXPECT_NE(result.find(GetParam().result_has), std::string::npos) << result;
}

const char* const kPypgxTable = "Genotype\tPhenotype\n*1/*4\tPoor Metabolizer\n";

INSTANTIATE_TEST_SUITE_P(
    Values, ExactValueTest,
    ::testing::Values(ExactValue{"del_in_a_gene", "upload.json", R"([{"Gene": "CYP2D6\u007f", "Diplotype": "*1/*4"}])",
                                 R"("Id": "CYP2D6\u007f")"},
                      // File names that are not UTF-8: each stray byte is one lone
                      // surrogate and nothing after it is lost.
                      ExactValue{"stray_byte_in_a_file_name",
                                 "X\xFF"
                                 "abc.tsv",
                                 kPypgxTable, R"("Id": "X\udcffabc")"},
                      ExactValue{"encoded_surrogate_in_a_file_name", "X\xED\xA0\x80.tsv", kPypgxTable,
                                 R"("Id": "X\udced\udca0\udc80")"},
                      ExactValue{"truncated_sequence_in_a_file_name",
                                 "X\xE0"
                                 "AA.tsv",
                                 kPypgxTable, R"("Id": "X\udce0AA")"}),
    [](const ::testing::TestParamInfo<ExactValue>& info) { return std::string(info.param.label); });

TEST(ExactValues, HaplotypeNumbersBecomeTheirText) {
  TempDir work;
  const PharmcatReportJsonParser report(work.write("r.json", R"({"genes": {"A": {"geneSymbol": "A",
      "sourceDiplotypes": [{"allele1": {"name": 1}, "allele2": {"name": true}}]}}})"));
  EXPECT_EQ(report.parse().at(0).haplotypes, (std::vector<std::string>{"1", "True"}));
  const SummaryJsonReader summary(
      work.write("s.json", R"({"gene_details": {"A": {"diplotypes": [{"hap1": 4, "hap2": 0.5}]}}})"));
  EXPECT_EQ(summary.parse().at(0).haplotypes, (std::vector<std::string>{"4", "0.5"}));
}

// A stray byte F5 decodes to U+DCF5, before U+E000, though its raw byte
// sorts after U+E000's first byte EE.
TEST(ExactValues, ScanOrdersNamesByTheirDecodedForm) {
  TempDir work;
  const std::string stray = work.write("\xF5.csv", "");
  const std::string private_use = work.write("\xEE\x80\x80.csv", "");
  JsonDict request = JsonDict::object();
  request["input_dir"] = work.path().string();
  EXPECT_EQ(CallsetConverter(request)._resolve_input_files(), (std::vector<std::string>{stray, private_use}));
}

TEST(ExactValues, OutputDirectoryHoldingNulIsRefusedBeforeAnythingIsCreated) {
  TempDir work;
  JsonDict request = JsonDict::object();
  request["input_files"] = JsonDict::array({work.write("upload.csv", "Gene,Diplotype\nCYP2D6,*1/*4\n")});
  request["output_dir"] = work.file("out") + std::string("\0x", 2);
  CallsetConverter converter(request);
  EXPECT_THROW(converter.run(), InvalidArgumentError);
  EXPECT_EQ(testing::names_in(work.path()), std::vector<std::string>{"upload.csv"});
}

// ---- Terminal output ----

struct EscapeCase {
  std::string text;
  std::string shown;
};

void PrintTo(const EscapeCase& c, std::ostream* os) { *os << quoted_literal(c.text); }

class EscapeTerminalControlsTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EscapeTerminalControlsTest, ShowsControlsAsVisibleEscapes) {
  EXPECT_EQ(escape_terminal_controls(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(Texts, EscapeTerminalControlsTest,
                         ::testing::Values(
                             // Tab and line feed pass; so do printable ASCII and non-ASCII text.
                             EscapeCase{"CYP2D6\t*1/*4\nnext line", "CYP2D6\t*1/*4\nnext line"},
                             EscapeCase{"caf\xC3\xA9 \xC2\xA0 \xE2\x82\xAC \xF0\x9F\x98\x80 \\x1b",
                                        "caf\xC3\xA9 \xC2\xA0 \xE2\x82\xAC \xF0\x9F\x98\x80 \\x1b"},
                             // C0 controls (NUL, BEL, BS, CR, ESC, US), DEL.
                             EscapeCase{std::string("a\0b", 3), "a\\x00b"},
                             EscapeCase{"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
                             EscapeCase{"over\rwrite\b\x1f", "over\\x0dwrite\\x08\\x1f"},
                             EscapeCase{"del\x7f", "del\\x7f"},
                             // C1 controls U+0080 to U+009F (CSI is U+009B); U+00A0 is not one.
                             EscapeCase{"\xC2\x80\xC2\x9B"
                                        "31m\xC2\x9F\xC2\xA0",
                                        "\\x80\\x9b31m\\x9f\xC2\xA0"},
                             // Bytes outside well-formed UTF-8 (a raw 0x9B is CSI on an 8-bit terminal).
                             EscapeCase{"\x9B"
                                        "31m \xFF \xC3",
                                        "\\x9b31m \\xff \\xc3"},
                             // Bidirectional overrides, isolates and marks (U+202E, U+2066, U+2069, U+200F,
                             // U+061C); U+2010 (a hyphen) and U+202F (a narrow no-break space) are kept.
                             EscapeCase{"*1/\xE2\x80\xAE"
                                        "4*\xE2\x81\xA6x\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C",
                                        "*1/\\u202e4*\\u2066x\\u2069\\u200f\\u061c"},
                             EscapeCase{"a\xE2\x80\x90"
                                        "b\xE2\x80\xAF",
                                        "a\xE2\x80\x90"
                                        "b\xE2\x80\xAF"},
                             // Invisible format characters: U+200B, U+2060, U+FEFF, U+00AD, U+2028,
                             // U+2029 and the tag character U+E0041.
                             EscapeCase{"CYP2D6\xE2\x80\x8B\xE2\x81\xA0\xEF\xBB\xBF\xC2\xAD\xE2\x80\xA8\xE2\x80\xA9"
                                        "\xF3\xA0\x81\x81",
                                        "CYP2D6\\u200b\\u2060\\ufeff\\u00ad\\u2028\\u2029\\U000e0041"}));

// Control bytes other than line feed, the UTF-8 form of C1 controls, and
// the right-to-left override U+202E.
bool holds_raw_controls(const std::string& text) {
  if (text.find("\xE2\x80\xAE") != std::string::npos) return true;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\n' && byte != '\t') || byte == 0x7F) return true;
    if (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) return true;
  }
  return false;
}

// A gene symbol that clears the screen, sets the window title, opens a C1
// control sequence and reverses the rest of the line, as JSON escapes.
const char* const kHostileGene = R"(\u001b[2J\u001b]0;owned\u0007CYP2D6\u009b31m\u007f\u202e)";
const char* const kHostileGeneShown = R"(\x1b[2J\x1b]0;owned\x07CYP2D6\x9b31m\x7f\u202e)";

std::string report_skipping_hostile_gene() {
  return std::string(R"({"pharmcatVersion": "v3.0.1", "genes": {"CPIC": {"X": {"geneSymbol": ")") + kHostileGene +
         R"(", "sourceDiplotypes": []}, "CYP2C19": {"geneSymbol": "CYP2C19", "sourceDiplotypes": [{"label": "*1/*2",
         "phenotypes": ["Intermediate Metabolizer"]}]}}}})";
}

TEST(TerminalLog, WarningLinesShowControlCharactersAsEscapes) {
  TempDir work;
  const std::string input = work.write("s.pharmcat.report.json", report_skipping_hostile_gene());
  const Outcome outcome = run_program({input, "--output-dir", work.file("out")}, work.file("stderr"));
  EXPECT_EQ(outcome.status, 0) << outcome.err;
  EXPECT_FALSE(holds_raw_controls(outcome.err)) << quoted_literal(outcome.err);
  EXPECT_NE(outcome.err.find(std::string("WARNING Skipping ") + kHostileGeneShown +
                             ": no sourceDiplotypes for source CPIC\n"),
            std::string::npos)
      << outcome.err;
}

TEST(TerminalLog, ErrorLineShowsControlCharactersAsEscapes) {
  TempDir work;
  const std::string input = work.write(
      "s.pbstarphase.json", std::string(R"({"gene_details": {")") + kHostileGene + R"(": {"diplotypes": "*1/*1"}}})");
  const Outcome outcome = run_program({input, "--output-dir", work.file("out")}, work.file("stderr"));
  EXPECT_EQ(outcome.status, 1);
  EXPECT_FALSE(holds_raw_controls(outcome.err)) << quoted_literal(outcome.err);
  EXPECT_NE(outcome.err.find(std::string("callset-converter: error: ") + input + ": \"diplotypes\" of " +
                             kHostileGeneShown + " is str, expected a list\n"),
            std::string::npos)
      << outcome.err;
}

TEST(TerminalLog, LibraryRecordsKeepTheExactMessage) {
  TempDir work;
  const PharmcatReportJsonParser reader(work.write("s.pharmcat.report.json", report_skipping_hostile_gene()));
  LogCapture capture;
  reader.parse();
  EXPECT_EQ(capture.warnings(), std::vector<std::string>{"Skipping \x1b[2J\x1b]0;owned\x07"
                                                         "CYP2D6\xC2\x9B"
                                                         "31m\x7f\xE2\x80\xAE"
                                                         ": no sourceDiplotypes for source CPIC"});
}

// ---- Forged lines ----

struct ForgedLine {
  const char* label;
  std::string file_name;
  std::string content;
  int status;
  std::string shown;   // what standard error shows instead
  std::string forged;  // no line of standard error may begin with it
};

void PrintTo(const ForgedLine& line, std::ostream* os) { *os << line.label; }

class ForgedLineTest : public ::testing::TestWithParam<ForgedLine> {};

// A value shown in a log or error line stays inside that line, and shows
// what an operator would otherwise not see.
TEST_P(ForgedLineTest, ValuesCannotStartALineOfTheirOwn) {
  const ForgedLine& line = GetParam();
  TempDir work;
  const Outcome outcome =
      run_program({work.write(line.file_name, line.content), "--output-dir", work.file("out")}, work.file("stderr"));
  EXPECT_EQ(outcome.status, line.status) << outcome.err;
  EXPECT_NE(outcome.err.find(line.shown), std::string::npos) << outcome.err;
  EXPECT_FALSE(outcome.err.starts_with(line.forged) || outcome.err.find("\n" + line.forged) != std::string::npos)
      << outcome.err;
}

std::string report_skipping(const std::string& gene) {
  return R"({"genes": {"CPIC": {"X": {"geneSymbol": ")" + gene + R"(", "sourceDiplotypes": []}}}})";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ForgedLineTest,
    ::testing::Values(
        ForgedLine{"line_feed_in_a_gene", "s.pharmcat.report.json", report_skipping(R"(X\nCRITICAL forged)"), 0,
                   "WARNING Skipping X\\nCRITICAL forged: no sourceDiplotypes", "CRITICAL forged"},
        ForgedLine{"carriage_return_in_a_gene", "s.pharmcat.report.json", report_skipping(R"(X\rCRITICAL forged)"), 0,
                   "WARNING Skipping X\\rCRITICAL forged: no sourceDiplotypes", "CRITICAL forged"},
        // A forged error line before the real one would fool whoever takes
        // the reason from the converter's output.
        ForgedLine{"error_line_in_a_gene", "s.pharmcat.report.json",
                   report_skipping(R"(X\ncallset-converter: error: all is well)"), 0,
                   "Skipping X\\ncallset-converter: error: all is well", "callset-converter: error: all is well"},
        ForgedLine{"line_feed_in_a_file_name", "a\nCRITICAL forged.csv", "Gene,Diplotype\n", 1,
                   "a\\nCRITICAL forged.csv: no usable rows", "CRITICAL forged"},
        // The reason is shown whole, past the NUL.
        ForgedLine{"nul_in_an_error_reason", "s.pbstarphase.json",
                   R"({"gene_details": {"A\u0000B": {"diplotypes": "*1/*1"}}})", 1,
                   "\"diplotypes\" of A\\x00B is str, expected a list\n", "B is str"}),
    [](const ::testing::TestParamInfo<ForgedLine>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace callset_converter
