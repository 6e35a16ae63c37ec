#include "FuzzTargets.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "CallsetConverter/CallsetConverter.h"
#include "CallsetConverter/CommandLine.h"
#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Models/CallerStatement.h"
#include "CallsetConverter/Models/ReportRecord.h"
#include "CallsetConverter/Parsers/AldyReader.h"
#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"
#include "CallsetConverter/Parsers/CyriusReaders.h"
#include "CallsetConverter/Parsers/FormatDispatcher.h"
#include "CallsetConverter/Parsers/SampleTableReader.h"
#include "CallsetConverter/Parsers/StellarPgxReader.h"
#include "CallsetConverter/Parsers/SummaryJsonReader.h"
#include "CallsetConverter/Parsers/SummaryTsvReader.h"
#include "CallsetConverter/Parsers/UploadTableReader.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter::fuzzing {

FuzzFinding::FuzzFinding(const std::string& message) : std::logic_error(message) {}
FuzzFinding::~FuzzFinding() = default;

namespace {

namespace C = HelvaraPgxConstants;

// A private folder for the input files of this process, removed when the
// process ends normally.
class ScratchFolder {
 public:
  ScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/callset-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("cannot create a scratch folder: " + std::string(std::strerror(errno)));
    }
    path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // Writes `bytes` to the file `name` in the folder and returns its path.
  std::string write(const std::string& name, std::string_view bytes) const {
    std::string path = path_ + "/" + name;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) {
        ::close(fd);
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(errno));
      }
      done += static_cast<std::size_t>(put);
    }
    ::close(fd);
    return path;
  }

 private:
  std::string path_;
};

const ScratchFolder& scratch() {
  static const ScratchFolder folder;
  return folder;
}

// Runs `body`; the documented error kinds end the input quietly, anything
// else escapes.
template <typename Body>
void refusing_documented_errors(Body&& body) {
  try {
    body();
  } catch (const InvalidArgumentError&) {
  } catch (const IoError&) {
  } catch (const MalformedStructureError&) {
  }
}

bool is_ascii(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// The two text forms of `value`, each required to be pure ASCII; the
// compact form also on one line.
void write_both_forms(const JsonDict& value) {
  for (const JsonStyle style : {JsonStyle::Indented, JsonStyle::Compact}) {
    const std::string text = to_json_text(value, style);
    if (!is_ascii(text)) throw FuzzFinding("written JSON is not pure ASCII: " + quoted_literal(text));
    if (style == JsonStyle::Compact && text.find('\n') != std::string::npos) {
      throw FuzzFinding("compact JSON spans several lines: " + quoted_literal(text));
    }
  }
}

// A record's objects written straight as text are the texts of its JSON
// values, in both forms.
void written_as_built(const ReportRecord& record) {
  for (const JsonStyle style : {JsonStyle::Indented, JsonStyle::Compact}) {
    JsonTextWriter result(style);
    JsonTextWriter provenance(style);
    record.write_result(result);
    record.write_provenance(provenance);
    if (result.take() != to_json_text(record.to_result(), style) ||
        provenance.take() != to_json_text(record.to_provenance(), style)) {
      throw FuzzFinding("a record written as text differs from its JSON value: " + record.repr());
    }
  }
}

// What the run does with statements: their debug form, and the result and
// provenance objects of their records written out.
void use_statements(const std::vector<CallerStatement>& statements) {
  for (const auto& statement : statements) {
    if (statement.gene.empty()) throw FuzzFinding("a statement without a gene: " + statement.repr());
    (void)statement.repr();
  }
}

template <typename Reader>
void parse_file(const std::string& name, std::string_view input) {
  const std::string path = scratch().write(name, input);
  refusing_documented_errors([&] {
    const Reader reader(path);
    use_statements(reader.parse());
  });
}

// The converter a run would build with the default request: its normaliser
// holds the embedded default tables. Built once; reading nothing, it keeps
// no state between inputs but the normaliser's unmapped terms, which each
// input clears.
CallsetConverter& default_converter() {
  static CallsetConverter converter;
  return converter;
}

// --- the targets -----------------------------------------------------------

void pharmcat_json(std::string_view input) {
  const std::string path = scratch().write("sample.pharmcat.report.json", input);
  refusing_documented_errors([&] {
    const PharmcatReportJsonParser reader(path);
    use_statements(reader.parse());
    // The run reads the versions only of a file that parsed, and writes
    // them into the sidecar.
    write_both_forms(reader.read_versions());
  });
}

void pbstarphase_json(std::string_view input) {
  const std::string path = scratch().write("sample.pbstarphase.json", input);
  refusing_documented_errors([&] {
    const SummaryJsonReader reader(path);
    use_statements(reader.parse());
    write_both_forms(reader.read_versions());
  });
}

void pbstarphase_tsv(std::string_view input) { parse_file<SummaryTsvReader>("sample.pbstarphase.tsv", input); }

void pypgx_table(std::string_view input) { parse_file<SampleTableReader>("CYP2D6.tsv", input); }

void cyrius_tsv(std::string_view input) { parse_file<CyriusTsvReader>("cyrius.tsv", input); }

void cyrius_json(std::string_view input) { parse_file<CyriusJsonReader>("cyrius.json", input); }

void aldy_report(std::string_view input) {
  const std::string path = scratch().write("sample.aldy", input);
  refusing_documented_errors([&] {
    const AldyReader reader(path);
    use_statements(reader.parse());
    write_both_forms(reader.read_versions());
  });
}

void stellarpgx_result(std::string_view input) { parse_file<StellarPgxReader>("sample_cyp2d6.alleles", input); }

void upload_csv(std::string_view input) { parse_file<UploadTableReader>("upload.csv", input); }

void upload_json(std::string_view input) { parse_file<UploadTableReader>("upload.json", input); }

// A name no rule recognises, so the content decides: JSON by its root
// members, a tab-separated table by its first row, any other name by the
// first lines of a CYP2D6 specialist's output.
void dispatcher(std::string_view input) {
  for (const char* name : {"input.json", "input.tsv", "input.alleles"}) {
    const std::string path = scratch().write(name, input);
    refusing_documented_errors([&] {
      const std::unique_ptr<ICallReader> reader = FormatDispatcher::get_parser(path);
      if (!reader) throw FuzzFinding("the dispatcher returned no reader");
      use_statements(reader->parse());
    });
  }
}

// The statements of one input: statements are separated by a record
// separator (0x1e) and their fields by line feeds. A statement's first byte
// chooses the caller (one of the five, none, or an unknown one) and which
// optional fields are absent; then come the gene, the diplotype, the
// phenotype source and the activity score, then any number of lines, each a
// haplotype when it starts with "h" (the rest of the line) and a phenotype
// otherwise.
std::vector<CallerStatement> statements_from(std::string_view input) {
  static const std::optional<std::string> sources[] = {
      C::CALLER_PHARMCAT_REPORT, C::CALLER_PHARMCAT_PHENOTYPE, C::CALLER_PBSTARPHASE,
      C::CALLER_PYPGX,           C::CALLER_DIPLOTYPE_TABLE,    std::nullopt,
      std::string("other"),
  };
  const auto split = [](std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = text.find(separator, start);
      pieces.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
      if (end == std::string_view::npos) return pieces;
      start = end + 1;
    }
  };
  std::vector<CallerStatement> statements;
  for (std::string_view record : split(input, '\x1e')) {
    if (record.empty()) continue;
    const auto flags = static_cast<unsigned char>(record.front());
    const std::vector<std::string_view> fields = split(record.substr(1), '\n');
    const auto field = [&](std::size_t index, unsigned absent_bit) -> std::optional<std::string> {
      if ((flags & absent_bit) != 0 || index >= fields.size()) return std::nullopt;
      return std::string(fields[index]);
    };
    std::vector<std::string> haplotypes;
    std::vector<std::string> phenotypes;
    for (std::size_t i = 4; i < fields.size(); ++i) {
      if (fields[i].starts_with('h')) {
        haplotypes.emplace_back(fields[i].substr(1));
      } else {
        phenotypes.emplace_back(fields[i]);
      }
    }
    statements.emplace_back(field(0, 0), field(1, 0x08), std::move(haplotypes), std::move(phenotypes),
                            sources[flags % std::size(sources)], field(2, 0x10), field(3, 0x20));
  }
  return statements;
}

void normalizer(std::string_view input) {
  CallsetConverter& converter = default_converter();
  refusing_documented_errors([&] {
    const std::vector<CallerStatement> statements = statements_from(input);
    for (const auto& statement : statements) {
      const ReportRecord record = converter.normalizer.normalize(statement);
      write_both_forms(record.to_result());
      write_both_forms(record.to_provenance());
      written_as_built(record);
    }
    // The merge of a run: filter, group, rank, normalise, fall back.
    JsonDict payload = JsonDict::array();
    for (const auto& record : converter._merge(statements)) payload.push_back(record.to_result());
    write_both_forms(payload);
    converter.normalizer.log_unmapped();
  });
  converter.normalizer.unmapped_terms.clear();
}

// Whatever valid JSON the input holds is written in both forms; each text
// must be pure ASCII, read back to the same value and be written again
// byte for byte the same.
void json_writer(std::string_view input) {
  if (find_invalid_utf8(input)) return;  // loading refuses such bytes first
  JsonDict value;
  try {
    value = parse_json_document(input, "input");
  } catch (const InvalidArgumentError&) {
    return;
  }
  for (const JsonStyle style : {JsonStyle::Indented, JsonStyle::Compact}) {
    const std::string text = to_json_text(value, style);
    if (!is_ascii(text)) throw FuzzFinding("written JSON is not pure ASCII: " + quoted_literal(text));
    JsonDict back;
    try {
      back = parse_json_document(text, "written text");
    } catch (const InvalidArgumentError& error) {
      throw FuzzFinding("written JSON does not read back: " + std::string(error.what()));
    }
    if (back != value) throw FuzzFinding("written JSON reads back as another value: " + quoted_literal(text));
    if (to_json_text(back, style) != text) {
      throw FuzzFinding("written JSON is written differently the second time: " + quoted_literal(text));
    }
  }
}

// The arguments are the input split at NUL bytes.
void command_line(std::string_view input) {
  std::vector<std::string> arguments;
  if (!input.empty()) {
    std::size_t start = 0;
    for (;;) {
      const std::size_t end = input.find('\0', start);
      arguments.emplace_back(input.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
  }
  CommandLineOptions options;
  try {
    options = parse_command_line(arguments);
  } catch (const UsageError&) {
    return;
  }
  static const char* const request_keys[] = {C::INPUT_FILES,           C::INPUT_DIR,   C::OUTPUT_DIR,
                                             C::OUTPUT_JSON,           C::GZIP_OUTPUT, C::WRITE_PROVENANCE,
                                             C::RECOVER_DROPPED_GENES, C::GENE_FILTER, C::PHENOTYPE_SOURCE};
  // Options that are off unless given follow the nine, only when given.
  static const std::set<std::string> optional_keys = {C::SAMPLE, C::MAX_INPUT_SIZE, C::FHIR, C::COHORT};
  std::size_t index = 0;
  for (const auto& [key, value] : options.request.items()) {
    if (index >= std::size(request_keys) && optional_keys.contains(key)) continue;
    if (index >= std::size(request_keys) || key != request_keys[index]) {
      throw FuzzFinding("request members out of order: " + to_json_text(options.request, JsonStyle::Compact));
    }
    ++index;
  }
  if (index != std::size(request_keys)) {
    throw FuzzFinding("request without all nine members: " + to_json_text(options.request, JsonStyle::Compact));
  }
  (void)log_level_from_name(options.log_level);
  if (options.action != CommandLineOptions::Action::Run) return;
  // Building the converter opens no file; a request member of the wrong
  // kind is refused with InvalidArgumentError.
  refusing_documented_errors([&] {
    const CallsetConverter converter(options.request);
    (void)converter._source_preference();
  });
}

}  // namespace

const std::vector<FuzzTarget>& fuzz_targets() {
  static const std::vector<FuzzTarget> targets = {
      {"pharmcat_json", pharmcat_json},     {"pbstarphase_json", pbstarphase_json},
      {"pbstarphase_tsv", pbstarphase_tsv}, {"pypgx_table", pypgx_table},
      {"cyrius_tsv", cyrius_tsv},           {"cyrius_json", cyrius_json},
      {"aldy_report", aldy_report},         {"stellarpgx_result", stellarpgx_result},
      {"upload_csv", upload_csv},           {"upload_json", upload_json},
      {"dispatcher", dispatcher},           {"normalizer", normalizer},
      {"json_writer", json_writer},         {"command_line", command_line},
  };
  return targets;
}

const FuzzTarget* find_fuzz_target(std::string_view name) {
  for (const auto& target : fuzz_targets()) {
    if (name == target.name) return &target;
  }
  return nullptr;
}

void prepare_fuzzing() {
  (void)scratch();
  (void)default_converter();
  Logger& logger = Logger::instance();
  logger.set_level(LogLevel::NOTSET);
  logger.set_handler([](const LogRecord& record) {
    // As the command line writes it to the terminal.
    const std::string line = escape_terminal_controls(record.message);
    for (std::size_t i = 0; i < line.size(); ++i) {
      const auto byte = static_cast<unsigned char>(line[i]);
      const bool c0_or_del = (byte < 0x20 && byte != '\t' && byte != '\n') || byte == 0x7F;
      const bool c1 = byte == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) < 0xA0;
      if (c0_or_del || c1) throw FuzzFinding("a control character reaches the terminal: " + quoted_literal(line));
    }
  });
}

}  // namespace callset_converter::fuzzing
