#include "CallsetConverter/Parsers/FormatDispatcher.h"

#include <exception>

#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"
#include "CallsetConverter/Parsers/PharmcatTsvReader.h"
#include "CallsetConverter/Parsers/SampleTableReader.h"
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

}  // namespace

std::unique_ptr<ICallReader> FormatDispatcher::get_parser(const std::string& file_path,
                                                          const std::optional<std::string>& sample) {
  const std::string name = to_lower(base_name(file_path));
  if (ends_with(name, ".csv")) return std::make_unique<UploadTableReader>(file_path);
  if (ends_with(name, ".tsv")) {
    if (_is_pharmcat_tsv(file_path)) return std::make_unique<PharmcatTsvReader>(file_path);
    if (_is_pypgx_tsv(file_path)) return std::make_unique<SampleTableReader>(file_path, sample);
    return std::make_unique<SummaryTsvReader>(file_path);
  }
  if (!ends_with(name, ".json")) throw InvalidArgumentError("Unsupported file type: " + file_path);
  if (contains(name, "pharmcat") && contains(name, "report")) {
    return std::make_unique<PharmcatReportJsonParser>(file_path);
  }
  if (contains(name, "pharmcat") && contains(name, "phenotype")) {
    return std::make_unique<PharmcatPhenotypeJsonParser>(file_path);
  }
  if (contains(name, "starphase")) return std::make_unique<SummaryJsonReader>(file_path);
  if (auto sniffed = _sniff(file_path)) return sniffed;
  return std::make_unique<UploadTableReader>(file_path);
}

std::unique_ptr<ICallReader> FormatDispatcher::_sniff(const std::string& file_path) {
  JsonDict root;
  try {
    // Only the root's member names decide; their values are never built.
    root = load_json_file(file_path, JsonSelection::member_names());
  } catch (const TextDecodeError&) {
    // Undecodable bytes are the user's fault to see, not a format question.
    throw;
  } catch (const InvalidArgumentError& error) {
    log_debug("Could not sniff %s: %s", file_path, description(error));
    return nullptr;
  } catch (const IoError& error) {
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
  return nullptr;
}

bool FormatDispatcher::_is_pharmcat_tsv(const std::string& file_path) {
  try {
    // The banner alone is cheap to read; the header is looked at only
    // behind it.
    if (!PharmcatTsvReader::is_banner(read_first_row(file_path, kTabSeparated))) return false;
    const std::vector<TextRow> rows = read_delimited_file(file_path, kTabSeparated);
    return rows.size() >= 2 && PharmcatTsvReader::is_header(rows[1]);
  } catch (const IoError&) {
    // The PyPGx check reads the same first row next and logs the fault.
    return false;
  }
}

bool FormatDispatcher::_is_pypgx_tsv(const std::string& file_path) {
  TextRow header;
  try {
    header = read_first_row(file_path, kTabSeparated);
  } catch (const IoError& error) {
    log_debug("Could not read the header of %s: %s", file_path, description(error));
    return false;
  }
  return SampleTableReader::is_pypgx_table(header);
}

}  // namespace callset_converter
