#include "CallsetConverter/Parsers/FormatDispatcher.h"

#include <exception>
#include <optional>
#include <utility>

#include "CallsetConverter/Parsers/AldyReader.h"
#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"
#include "CallsetConverter/Parsers/CyriusReaders.h"
#include "CallsetConverter/Parsers/PharmcatTsvReader.h"
#include "CallsetConverter/Parsers/SampleTableReader.h"
#include "CallsetConverter/Parsers/StellarPgxReader.h"
#include "CallsetConverter/Parsers/SummaryJsonReader.h"
#include "CallsetConverter/Parsers/SummaryTsvReader.h"
#include "CallsetConverter/Parsers/UploadTableReader.h"
#include "CallsetConverter/Support/DelimitedText.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/JsonLoading.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

bool contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

// The JSON parser's own description when it is attached as the cause,
// otherwise the error's message.
std::string description(const std::exception& error) {
  try {
    std::rethrow_if_nested(error);
  } catch (const std::exception& cause) {
    return cause.what();
  } catch (...) {
  }
  return error.what();
}

// The bytes of `file_path` for a decision by content, or nothing when the
// file cannot be opened or read (logged at debug level with `log_format`;
// the chosen reader reports the fault). A file beyond the size limit is an
// error here and now.
std::optional<std::string> read_for_dispatch(const std::string& file_path, std::uint64_t max_input_size,
                                             std::string_view log_format) {
  try {
    return read_file_bytes(file_path, max_input_size);
  } catch (const IoError& error) {
    log_debug(log_format, file_path, description(error));
    return std::nullopt;
  }
}

}  // namespace

std::unique_ptr<ICallReader> FormatDispatcher::get_parser(const std::string& file_path,
                                                          const std::optional<std::string>& sample,
                                                          std::uint64_t max_input_size) {
  return choose_reader(file_path, sample, max_input_size, std::nullopt);
}

std::unique_ptr<ICallReader> FormatDispatcher::get_parser(const std::string& file_path,
                                                          const std::optional<std::string>& sample,
                                                          std::uint64_t max_input_size, std::string bytes) {
  return choose_reader(file_path, sample, max_input_size, std::move(bytes));
}

std::unique_ptr<ICallReader> FormatDispatcher::choose_reader(const std::string& file_path,
                                                             const std::optional<std::string>& sample,
                                                             std::uint64_t max_input_size,
                                                             std::optional<std::string> preread) {
  const std::string name = to_lower(base_name(file_path));
  // The bytes, when the content had to be read to decide.
  std::optional<std::string> bytes;
  const auto read_bytes = [&](std::string_view log_format) {
    if (!preread) return read_for_dispatch(file_path, max_input_size, log_format);
    return std::exchange(preread, std::nullopt);
  };
  std::unique_ptr<ICallReader> reader;
  if (ends_with(name, ".csv")) {
    reader = std::make_unique<UploadTableReader>(file_path);
  } else if (ends_with(name, ".tsv")) {
    bytes = read_bytes("Could not read the header of %s: %s");
    if (bytes && _is_pharmcat_tsv(*bytes)) {
      reader = std::make_unique<PharmcatTsvReader>(file_path);
    } else if (bytes) {
      reader = _sniff_text(file_path, *bytes, sample);
    }
    if (!reader && bytes && _is_pypgx_tsv(file_path, *bytes)) {
      reader = std::make_unique<SampleTableReader>(file_path, sample);
    }
    if (!reader) reader = std::make_unique<SummaryTsvReader>(file_path);
  } else if (!ends_with(name, ".json")) {
    // Whatever the name, a known caller's text is read as that caller's.
    bytes = read_bytes("Could not read the start of %s: %s");
    if (bytes) reader = _sniff_text(file_path, *bytes, sample);
    // A missing file is reported as every reader reports one.
    if (!bytes && !file_path.empty() && !path_exists(file_path))
      throw FileNotFoundError("File not found: " + file_path);
    if (!reader) throw InvalidArgumentError("Unsupported file type: " + file_path);
  } else if (contains(name, "pharmcat") && contains(name, "report")) {
    reader = std::make_unique<PharmcatReportJsonParser>(file_path);
  } else if (contains(name, "pharmcat") && contains(name, "phenotype")) {
    reader = std::make_unique<PharmcatPhenotypeJsonParser>(file_path);
  } else if (contains(name, "starphase")) {
    reader = std::make_unique<SummaryJsonReader>(file_path);
  } else {
    bytes = read_bytes("Could not sniff %s: %s");
    if (bytes) reader = _sniff(file_path, *bytes, sample);
    if (!reader) reader = std::make_unique<UploadTableReader>(file_path);
  }
  reader->max_input_size = max_input_size;
  if (!bytes) bytes = std::move(preread);
  if (bytes) reader->_adopt_bytes(std::move(*bytes));
  return reader;
}

std::unique_ptr<ICallReader> FormatDispatcher::_sniff(const std::string& file_path) {
  std::optional<std::string> bytes = read_for_dispatch(file_path, kDefaultMaxInputSize, "Could not sniff %s: %s");
  if (!bytes) return nullptr;
  std::unique_ptr<ICallReader> reader = _sniff(file_path, *bytes, std::nullopt);
  if (reader) reader->_adopt_bytes(std::move(*bytes));
  return reader;
}

std::unique_ptr<ICallReader> FormatDispatcher::_sniff(const std::string& file_path, const std::string& bytes,
                                                      const std::optional<std::string>& sample) {
  // Undecodable bytes are the user's fault to see, not a format question.
  require_utf8(bytes, file_path);
  JsonDict root;
  try {
    // Only the root's member names decide; their values are never built.
    root = parse_json_document(bytes, file_path, JsonSelection::member_names());
  } catch (const InvalidArgumentError& error) {
    log_debug("Could not sniff %s: %s", file_path, description(error));
    return nullptr;
  }
  if (!root.is_object()) return nullptr;
  if (root.contains("pharmcatVersion") || root.contains("drugs")) {
    return std::make_unique<PharmcatReportJsonParser>(file_path);
  }
  if (root.contains("geneReports")) return std::make_unique<PharmcatPhenotypeJsonParser>(file_path);
  if (root.contains("gene_details") || root.contains("pbstarphase_version")) {
    return std::make_unique<SummaryJsonReader>(file_path);
  }
  // Cyrius keys its results by sample id: the first one's value decides.
  if (!root.empty()) {
    const std::string first = root.begin().key();
    JsonSelection first_value = JsonSelection::member_names();
    first_value.keep({first});
    const JsonDict opened = parse_json_document(bytes, file_path, first_value);
    if (CyriusJsonReader::is_sample_result(opened.at(first))) {
      return std::make_unique<CyriusJsonReader>(file_path, sample);
    }
  }
  return nullptr;
}

std::unique_ptr<ICallReader> FormatDispatcher::_sniff_text(const std::string& file_path, std::string_view bytes,
                                                           const std::optional<std::string>& sample) {
  if (AldyReader::is_aldy_report(bytes)) return std::make_unique<AldyReader>(file_path, sample);
  if (StellarPgxReader::is_stellarpgx_result(bytes)) return std::make_unique<StellarPgxReader>(file_path, sample);
  try {
    if (CyriusTsvReader::is_header(first_row_of(bytes, kTabSeparated, ""))) {
      return std::make_unique<CyriusTsvReader>(file_path, sample);
    }
  } catch (const TextDecodeError&) {
    // Not this table's text; the reader chosen instead names the fault.
  }
  return nullptr;
}

bool FormatDispatcher::_is_pharmcat_tsv(std::string_view bytes) {
  try {
    if (!PharmcatTsvReader::is_banner(first_row_of(bytes, kTabSeparated, ""))) return false;
    // The banner line holds no quotes, so the header starts after its end.
    const std::size_t end = bytes.find('\n');
    return end != std::string_view::npos &&
           PharmcatTsvReader::is_header(first_row_of(bytes.substr(end + 1), kTabSeparated, ""));
  } catch (const TextDecodeError&) {
    // Not this table's text; the reader chosen instead names the fault.
    return false;
  }
}

bool FormatDispatcher::_is_pypgx_tsv(const std::string& file_path) {
  const std::optional<std::string> bytes =
      read_for_dispatch(file_path, kDefaultMaxInputSize, "Could not read the header of %s: %s");
  return bytes && _is_pypgx_tsv(file_path, *bytes);
}

bool FormatDispatcher::_is_pypgx_tsv(const std::string& file_path, std::string_view bytes) {
  return SampleTableReader::is_pypgx_table(first_row_of(bytes, kTabSeparated, file_path));
}

}  // namespace callset_converter
