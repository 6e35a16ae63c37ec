#include "CallsetConverter/CommandLine.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>

#include "CallsetConverter/CallsetConverter.h"
#include "CallsetConverter/Cohort.h"
#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"
#include "CallsetConverter/Support/Version.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

UsageError::UsageError(const std::string& message) : std::runtime_error(message), FullMessage(message) {}
UsageError::~UsageError() = default;

namespace {

enum class Takes { Nothing, OneValue, Values, Help, Version };

struct OptionEntry {
  const char* name;
  Takes takes;
  const char* metavar;
  const char* help;  // nullptr: listed without a help text
};

// In declaration order, which is the order of the help listing; the input
// paths are listed between help and the others.
constexpr OptionEntry OPTIONS[] = {
    {"--help", Takes::Help, nullptr, "show this help message and exit"},
    {"--input-dir", Takes::OneValue, "INPUT_DIR", "directory to scan when no files are given"},
    {"--output-dir", Takes::OneValue, "OUTPUT_DIR", nullptr},
    {"--output-json", Takes::OneValue, "OUTPUT_JSON", nullptr},
    {"--gzip", Takes::Nothing, nullptr, "gzip the output"},
    {"--no-provenance", Takes::Nothing, nullptr, nullptr},
    {"--no-recover", Takes::Nothing, nullptr, "do not recover genes PharmCAT dropped"},
    {"--genes", Takes::Values, "GENES", "restrict output to these genes"},
    {"--phenotype-source", Takes::OneValue, "PHENOTYPE_SOURCE",
     "preferred PharmCAT phenotype source (CPIC or DPWG). Falls back to the other source for genes the chosen one "
     "does not give a usable phenotype for. Defaults to CPIC."},
    {"--sample", Takes::OneValue, "SAMPLE",
     "the sample to read from files that hold several (PyPGx cohort tables, Cyrius and Aldy results): only its rows "
     "are read; a StellarPGx result must be named for it"},
    {"--cohort", Takes::OneValue, "SHEET",
     "convert every sample of this sample sheet, each into OUTPUT_DIR/<sample>/, and write "
     "OUTPUT_DIR/cohort-status.tsv"},
    {"--fhir", Takes::Nothing, nullptr,
     "also write the result as a FHIR R4 Genomics Reporting Bundle (<output name>.fhir.json)"},
    {"--log-level", Takes::OneValue, "LOG_LEVEL", nullptr},
    {"--max-input-size", Takes::OneValue, "BYTES",
     "the most bytes one input file or mapping table may hold (default: 1073741824, 1 GiB)"},
    {"--version", Takes::Version, nullptr, "show program's version number and exit"},
};

constexpr const char* INPUT_FILES_HELP = "input .json / .csv files";

// Whether `text` reads as a negative number, by the rule ^-\d+$|^-\d*\.\d+$:
// a minus sign and digits, or a minus sign, optional digits, a full stop and
// at least one digit ("-5." is not one, so it is an unknown option).
bool is_negative_number(const std::string& text) {
  if (text.size() < 2 || text[0] != '-') return false;
  const std::size_t point = text.find('.');
  const auto all_digits = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
  };
  if (point == std::string::npos) return all_digits(1, text.size());
  return point + 1 < text.size() && all_digits(1, point) && all_digits(point + 1, text.size());
}

// The --max-input-size value: a positive whole number of bytes.
std::uint64_t size_in_bytes(const std::string& value) {
  std::uint64_t number = 0;
  const char* end = value.data() + value.size();
  const auto [stop, error] = std::from_chars(value.data(), end, number);
  if (value.empty() || error != std::errc() || stop != end || number == 0) {
    throw UsageError("argument --max-input-size: expected a positive whole number of bytes, not " +
                     quoted_literal(value));
  }
  return number;
}

// One argument as the parser sees it.
struct Token {
  enum class Kind { Positional, EndOfOptions, Option, Unknown };
  Kind kind = Kind::Positional;
  const OptionEntry* option = nullptr;
  std::optional<std::string> explicit_value;  // the text after "="
};

Token classify(const std::string& argument) {
  Token token;
  if (!argument.starts_with('-') || argument == "-") return token;
  if (argument == "--") {
    token.kind = Token::Kind::EndOfOptions;
    return token;
  }
  if (argument == "-h") {
    token.kind = Token::Kind::Option;
    token.option = &OPTIONS[0];
    return token;
  }
  if (argument.starts_with("--")) {
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    if (equals != std::string::npos) token.explicit_value = argument.substr(equals + 1);
    std::vector<const OptionEntry*> matches;
    for (const auto& option : OPTIONS) {
      if (name == option.name) {
        matches = {&option};
        break;
      }
      if (std::string_view(option.name).starts_with(name)) matches.push_back(&option);
    }
    if (matches.size() > 1) {
      std::vector<std::string> names;
      names.reserve(matches.size());
      for (const auto* match : matches) names.emplace_back(match->name);
      throw UsageError("ambiguous option: " + name + " could match " + join(names, ", "));
    }
    if (matches.size() == 1) {
      token.kind = Token::Kind::Option;
      token.option = matches.front();
      return token;
    }
    token.explicit_value.reset();
  }
  // Negative numbers and texts with spaces are values, not options.
  if (is_negative_number(argument) || argument.find(' ') != std::string::npos) return token;
  token.kind = Token::Kind::Unknown;
  return token;
}

JsonDict default_request() {
  JsonDict request = JsonDict::object();
  request[C::INPUT_FILES] = JsonDict::array();
  request[C::INPUT_DIR] = ".";
  request[C::OUTPUT_DIR] = ".";
  request[C::OUTPUT_JSON] = C::DEFAULT_OUTPUT_JSON;
  request[C::GZIP_OUTPUT] = false;
  request[C::WRITE_PROVENANCE] = true;
  request[C::RECOVER_DROPPED_GENES] = true;
  request[C::GENE_FILTER] = nullptr;
  request[C::PHENOTYPE_SOURCE] = nullptr;
  return request;
}

std::string invocation(const OptionEntry& option) {
  std::string text = option.takes == Takes::Help ? std::string("-h, --help") : std::string(option.name);
  if (option.takes == Takes::OneValue) text += std::string(" ") + option.metavar;
  if (option.takes == Takes::Values) text += std::string(" [") + option.metavar + " ...]";
  return text;
}

// "  <invocation>  <help>" with the help texts aligned in one column; an
// invocation too wide for the column puts its help on the next line.
void append_help_entry(std::string& out, const std::string& invocation_text, const char* help) {
  constexpr std::size_t column = 24;
  std::string line = "  " + invocation_text;
  if (help != nullptr) {
    if (line.size() + 2 <= column) {
      line.append(column - line.size(), ' ');
    } else {
      line += "\n" + std::string(column, ' ');
    }
    line += help;
  }
  out += line + "\n";
}

// `flush_each`: every record reaches standard error at once; otherwise
// records are written as the stream's buffer fills (a cohort logs tens of
// lines a sample, and a system call for each would cost more than the
// sample's conversion).
void configure_logging(const std::string& level_name_text, bool flush_each) {
  Logger& logger = Logger::instance();
  logger.set_level(log_level_from_name(level_name_text));
  // The record keeps its exact message; only what reaches the terminal has
  // its control characters escaped, so that a gene name or table row from a
  // crafted input cannot drive the operator's terminal.
  // One line buffer for the run: a cohort logs a few lines per sample.
  logger.set_handler([flush_each, line = std::string()](const LogRecord& record) mutable {
    line.assign(level_name(record.level)).append(" ");
    append_terminal_safe(line, record.message);
    line.append("\n");
    std::fwrite(line.data(), 1, line.size(), stderr);
    if (flush_each) std::fflush(stderr);
  });
}

// An error's whole reason (past any NUL it quotes) on one line: the error
// line is the program's last, and a line break from a file name or gene in
// it would let that text pass for a line of its own.
std::string terminal_reason(const std::exception& error) {
  return escape_terminal_controls(escape_line_breaks(full_message(error)));
}

// The cohort run: each failed sample's error line, marked with the sample
// as its log records are, then 0 when every sample succeeded and 1 when any
// failed; 2, with the error line, for a sheet that cannot be used.
int run_cohort_from_cli(const JsonDict& request) {
  std::vector<CohortSampleStatus> statuses;
  try {
    statuses = run_cohort(request);
  } catch (const SampleSheetError& error) {
    const std::string text = std::string(PROGRAM_NAME) + ": error: " + terminal_reason(error) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    return 2;
  }
  int status = 0;
  for (const auto& sample : statuses) {
    if (sample.ok) continue;
    const std::string text = "[" + sample.sample + "] " + PROGRAM_NAME +
                             ": error: " + escape_terminal_controls(escape_line_breaks(sample.error)) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    status = 1;
  }
  return status;
}

}  // namespace

CommandLineOptions parse_command_line(const std::vector<std::string>& arguments) {
  // Every argument is classified first, so an ambiguous option is refused
  // before anything else happens.
  std::vector<Token> tokens;
  bool options_ended = false;
  for (const auto& argument : arguments) {
    if (options_ended) {
      tokens.emplace_back();
      continue;
    }
    tokens.push_back(classify(argument));
    if (tokens.back().kind == Token::Kind::EndOfOptions) options_ended = true;
  }

  CommandLineOptions options;
  options.request = default_request();
  std::vector<std::string> unknown;
  const auto is_value = [&](std::size_t index) {
    return index < tokens.size() && tokens[index].kind == Token::Kind::Positional;
  };

  for (std::size_t i = 0; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    switch (token.kind) {
      case Token::Kind::Positional:
        options.request[C::INPUT_FILES].push_back(arguments[i]);
        continue;
      case Token::Kind::EndOfOptions:
        continue;
      case Token::Kind::Unknown:
        unknown.push_back(arguments[i]);
        continue;
      case Token::Kind::Option:
        break;
    }
    const OptionEntry& option = *token.option;
    const std::string name = option.name;
    if ((option.takes == Takes::Nothing || option.takes == Takes::Help || option.takes == Takes::Version) &&
        token.explicit_value) {
      throw UsageError("argument " + name + ": ignored explicit argument " + quoted_literal(*token.explicit_value));
    }
    if (option.takes == Takes::Help) {
      options.action = CommandLineOptions::Action::Help;
      return options;
    }
    if (option.takes == Takes::Version) {
      options.action = CommandLineOptions::Action::Version;
      return options;
    }
    if (option.takes == Takes::Nothing) {
      if (name == "--gzip") options.request[C::GZIP_OUTPUT] = true;
      if (name == "--no-provenance") options.request[C::WRITE_PROVENANCE] = false;
      if (name == "--no-recover") options.request[C::RECOVER_DROPPED_GENES] = false;
      if (name == "--fhir") options.request[C::FHIR] = true;
      continue;
    }
    if (option.takes == Takes::Values) {
      JsonDict genes = JsonDict::array();
      if (token.explicit_value) {
        genes.push_back(*token.explicit_value);
      } else {
        while (is_value(i + 1)) genes.push_back(arguments[++i]);
      }
      options.request[C::GENE_FILTER] = std::move(genes);
      continue;
    }
    std::string value;
    if (token.explicit_value) {
      value = *token.explicit_value;
    } else if (is_value(i + 1)) {
      value = arguments[++i];
    } else {
      throw UsageError("argument " + name + ": expected one argument");
    }
    if (name == "--input-dir") options.request[C::INPUT_DIR] = value;
    if (name == "--output-dir") options.request[C::OUTPUT_DIR] = value;
    if (name == "--output-json") options.request[C::OUTPUT_JSON] = value;
    if (name == "--phenotype-source") options.request[C::PHENOTYPE_SOURCE] = value;
    if (name == "--sample") options.request[C::SAMPLE] = value;
    if (name == "--cohort") options.request[C::COHORT] = value;
    if (name == "--log-level") options.log_level = value;
    if (name == "--max-input-size") options.request[C::MAX_INPUT_SIZE] = size_in_bytes(value);
  }
  if (!unknown.empty()) throw UsageError("unrecognized arguments: " + join(unknown, " "));
  if (options.request.contains(C::COHORT)) {
    // The sheet names every sample's inputs and row name.
    const char* conflict = nullptr;
    if (options.request.contains(C::SAMPLE)) conflict = "--sample";
    if (options.request[C::INPUT_DIR] != ".") conflict = "--input-dir";
    if (!options.request[C::INPUT_FILES].empty()) conflict = "input files";
    if (conflict != nullptr) {
      throw UsageError(std::string("argument --cohort: not allowed with ") + conflict +
                       ": the sample sheet names each sample's inputs");
    }
  }
  return options;
}

LogLevel log_level_from_name(std::string_view name) {
  const std::string key = to_upper(name);
  if (key == "DEBUG") return LogLevel::DEBUG;
  if (key == "INFO") return LogLevel::INFO;
  if (key == "WARNING" || key == "WARN") return LogLevel::WARNING;
  if (key == "ERROR") return LogLevel::ERROR;
  if (key == "CRITICAL" || key == "FATAL") return LogLevel::CRITICAL;
  if (key == "NOTSET") return LogLevel::NOTSET;
  return LogLevel::INFO;
}

std::string usage_text() {
  // Usage items wrapped at 78 columns under the program name.
  std::vector<std::string> items{"[-h]"};
  for (const auto& option : OPTIONS) {
    if (option.takes == Takes::Help) continue;
    items.push_back("[" + invocation(option) + "]");
  }
  items.emplace_back("[input_files ...]");
  const std::string lead = std::string("usage: ") + PROGRAM_NAME + " ";
  const std::string indent(lead.size(), ' ');
  std::string out = lead;
  std::size_t width = lead.size();
  bool first_on_line = true;
  for (const auto& item : items) {
    if (!first_on_line && width + 1 + item.size() > 78) {
      out += "\n" + indent;
      width = indent.size();
      first_on_line = true;
    }
    if (!first_on_line) {
      out += " ";
      ++width;
    }
    out += item;
    width += item.size();
    first_on_line = false;
  }
  return out + "\n";
}

std::string help_text() {
  std::string out = usage_text();
  out += "\n";
  out += PROGRAM_DESCRIPTION;
  out += "\n\npositional arguments:\n";
  append_help_entry(out, "input_files", INPUT_FILES_HELP);
  out += "\noptions:\n";
  for (const auto& option : OPTIONS) append_help_entry(out, invocation(option), option.help);
  return out;
}

int from_cli(int argc, char** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);

  CommandLineOptions options;
  try {
    options = parse_command_line(arguments);
  } catch (const UsageError& error) {
    const std::string text = usage_text() + PROGRAM_NAME + ": error: " + terminal_reason(error) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    return 2;
  }
  if (options.action == CommandLineOptions::Action::Help) {
    const std::string text = help_text();
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }
  if (options.action == CommandLineOptions::Action::Version) {
    const std::string text = std::string(PROGRAM_NAME) + " " + package_version() + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
  }

  const bool cohort = options.request.contains(C::COHORT);
  if (cohort) std::setvbuf(stderr, nullptr, _IOFBF, std::size_t{1} << 16);
  configure_logging(options.log_level, /*flush_each=*/!cohort);
  try {
    if (options.request.contains(C::COHORT)) return run_cohort_from_cli(options.request);
    CallsetConverter converter(options.request);
    converter.run(false);
  } catch (const std::exception& error) {
    const std::string text = std::string(PROGRAM_NAME) + ": error: " + terminal_reason(error) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    return 1;
  } catch (...) {
    const std::string text = std::string(PROGRAM_NAME) + ": error: unexpected failure\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
    return 1;
  }
  return 0;
}

}  // namespace callset_converter
