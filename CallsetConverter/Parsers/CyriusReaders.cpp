#include "CallsetConverter/Parsers/CyriusReaders.h"

#include <algorithm>
#include <map>
#include <string_view>
#include <utility>

#include "CallsetConverter/Support/DelimitedText.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

constexpr const char* PASS = "PASS";
constexpr const char* LOW_QUALITY = "LowQ_high_CN";
constexpr const char* SEVERAL_GENOTYPES = "More_than_one_possible_genotype";
constexpr const char* NOT_ASSIGNED = "Not_assigned_to_haplotypes";
// Cyrius's own word for "no call", in both columns.
constexpr const char* NONE = "None";

// The distinct non-empty trimmed pieces of `text` between `separator`s, in
// order.
std::vector<std::string> distinct_pieces(std::string_view text, char separator) {
  std::vector<std::string> pieces;
  for (const auto& piece : split(text, separator)) {
    std::string value = trim(piece);
    if (!value.empty()) pieces.push_back(std::move(value));
  }
  return distinct_in_order(std::move(pieces));
}

// BCyrius's value for the whole call: one per candidate genotype,
// ";"-joined, "-" (or "n/a" in older releases) for none. Kept only when all
// candidates share it.
std::optional<std::string> one_value(const std::optional<std::string>& cell) {
  if (!cell) return std::nullopt;
  std::vector<std::string> values;
  for (auto& value : distinct_pieces(*cell, ';')) {
    if (value != "-" && value != "n/a") values.push_back(std::move(value));
  }
  if (values.size() != 1) return std::nullopt;
  return values.front();
}

std::vector<std::string> haplotypes_of(const std::string& diplotype) {
  std::vector<std::string> haplotypes;
  for (const auto& piece : split(diplotype, '/')) {
    std::string haplotype = trim(piece);
    if (!haplotype.empty()) haplotypes.push_back(std::move(haplotype));
  }
  return haplotypes;
}

std::string shown(const std::optional<std::string>& value) { return value ? *value : std::string("null"); }

}  // namespace

CallerStatement cyrius_statement(const std::optional<std::string>& genotype_cell,
                                 const std::optional<std::string>& filter_cell,
                                 const std::optional<std::string>& activity_cell,
                                 const std::optional<std::string>& phenotype_cell) {
  const std::optional<std::string> genotype = genotype_cell ? std::optional(trim(*genotype_cell)) : std::nullopt;
  const std::optional<std::string> filter = filter_cell ? std::optional(trim(*filter_cell)) : std::nullopt;
  CallerStatement statement(CyriusTsvReader::GENE);
  statement.source = CyriusTsvReader::source_name;
  if (!genotype || genotype->empty() || *genotype == NONE) {
    statement.warnings.push_back("no call from Cyrius: Genotype " + shown(genotype) + ", Filter " + shown(filter));
    return statement;
  }
  // Read from the genotype's shape as much as from the filter: a ";" always
  // joins several candidates and a genotype without "/" never is a
  // diplotype, whatever the filter says.
  const std::vector<std::string> candidates = distinct_pieces(*genotype, ';');
  if (candidates.size() > 1) {
    statement.warnings.push_back(ICallReader::_ambiguous_warning(candidates));
    if (auto phenotype = one_value(phenotype_cell)) statement.phenotypes.push_back(std::move(*phenotype));
    if (filter != SEVERAL_GENOTYPES) statement.warnings.push_back("Cyrius filter: " + shown(filter));
    if (!statement.phenotypes.empty()) statement.activity_score = one_value(activity_cell);
    return statement;
  }
  const std::string& diplotype = candidates.front();
  if (diplotype.find('/') == std::string::npos) {
    statement.warnings.push_back("alleles not assigned to haplotypes: " + diplotype);
    if (filter != NOT_ASSIGNED) statement.warnings.push_back("Cyrius filter: " + shown(filter));
    return statement;
  }
  statement.diplotype = diplotype;
  statement.haplotypes = haplotypes_of(diplotype);
  if (auto phenotype = one_value(phenotype_cell)) statement.phenotypes.push_back(std::move(*phenotype));
  statement.activity_score = one_value(activity_cell);
  if (filter == LOW_QUALITY) {
    statement.warnings.push_back(std::string("low quality call from Cyrius: ") + LOW_QUALITY);
  } else if (filter != PASS) {
    statement.warnings.push_back("Cyrius filter: " + shown(filter));
  }
  return statement;
}

// --- the table ---------------------------------------------------------------

CyriusTable::CyriusTable(const std::string& file_path, std::string_view text) {
  std::vector<TextRow> rows = read_delimited_rows(text, kTabSeparated);
  if (rows.empty() || !CyriusTsvReader::is_header(rows.front())) {
    throw InvalidArgumentError(
        file_path + ": not a Cyrius table - expected a header row starting " +
        join({CyriusTsvReader::LEADING_COLUMNS.begin(), CyriusTsvReader::LEADING_COLUMNS.end()}, ", "));
  }
  for (std::size_t i = 0; i < rows.front().size(); ++i) columns_.emplace(trim(rows.front()[i]), i);
  // BCyrius may append further tables after a blank line: only the first
  // is Cyrius's result.
  for (std::size_t i = 1; i < rows.size(); ++i) {
    TextRow& row = rows[i];
    if (row.empty() || (row.size() == 1 && trim(row.front()).empty())) break;
    rows_.push_back(std::move(row));
  }
  if (rows_.empty()) throw InvalidArgumentError(file_path + ": no result rows");
  std::vector<std::string_view> samples;
  samples.reserve(rows_.size());
  for (const TextRow& row : rows_) samples.emplace_back(row.front());
  by_sample_.emplace(std::move(samples), file_path);
}

CyriusTsvReader::CyriusTsvReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id)
    : ICallReader(file_path_), sample(std::move(sample_id)) {}

CyriusTsvReader::CyriusTsvReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id,
                                 std::shared_ptr<const CyriusTable> table)
    : ICallReader(file_path_, ContentHeld{}), sample(std::move(sample_id)), table_(std::move(table)) {}

bool CyriusTsvReader::is_header(const std::vector<std::string>& header) {
  if (header.size() < LEADING_COLUMNS.size()) return false;
  return std::equal(LEADING_COLUMNS.begin(), LEADING_COLUMNS.end(), header.begin(),
                    [](const char* name, const std::string& cell) { return trim(cell) == name; });
}

std::string CyriusTsvReader::reader_source_name() const { return source_name; }

ICallReader::SampleReaderMaker CyriusTsvReader::_prepare_for_samples() {
  auto table = std::make_shared<const CyriusTable>(file_path, _text(/*skip_bom=*/true));
  _take_bytes();  // the table holds what the samples read
  return _maker_on<CyriusTsvReader>(std::move(table));
}

std::vector<CallerStatement> CyriusTsvReader::parse() const {
  std::optional<CyriusTable> own;
  const CyriusTable& table = table_ ? *table_ : own.emplace(file_path, _text(/*skip_bom=*/true));
  const std::vector<SampleRows::Row> rows = _rows_of_chosen_sample(table.by_sample(), sample);
  const TextRow& found = table.row(rows.front());
  if (rows.size() > 1) {
    throw InvalidArgumentError(file_path + ": sample " + quoted_literal(found.front()) + " has more than one row for " +
                               GENE);
  }
  const std::array<const char*, 1> genotype_column = {LEADING_COLUMNS[1]};
  const std::array<const char*, 1> filter_column = {LEADING_COLUMNS[2]};
  return {cyrius_statement(table.cell(found, genotype_column), table.cell(found, filter_column),
                           table.cell(found, ACTIVITY_COLUMNS), table.cell(found, PHENOTYPE_COLUMNS))};
}

// --- the JSON result ---------------------------------------------------------

CyriusResults::CyriusResults(const std::string& file_path, JsonDict root) : root_(std::move(root)) {
  if (!root_.is_object() || root_.empty()) {
    throw InvalidArgumentError(file_path + ": not a Cyrius result - expected a JSON object keyed by sample id");
  }
  std::vector<std::string_view> samples;
  samples.reserve(root_.size());
  for (const auto& member : root_.items()) samples.emplace_back(member.key());
  by_sample_.emplace(std::move(samples), file_path);
}

const JsonDict& CyriusResults::result(SampleRows::Row number) const {
  // The object keeps its members in document order, one after another.
  return (root_.get_ref<const JsonDict::object_t&>().begin() + number)->second;
}

CyriusJsonReader::CyriusJsonReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id)
    : ICallReader(file_path_), sample(std::move(sample_id)) {}

CyriusJsonReader::CyriusJsonReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id,
                                   std::shared_ptr<const CyriusResults> results)
    : ICallReader(file_path_, ContentHeld{}), sample(std::move(sample_id)), results_(std::move(results)) {}

bool CyriusJsonReader::is_sample_result(const JsonDict& value) {
  return value.is_object() && find_member(value, "Genotype") != nullptr && find_member(value, "Filter") != nullptr;
}

std::string CyriusJsonReader::reader_source_name() const { return source_name; }

ICallReader::SampleReaderMaker CyriusJsonReader::_prepare_for_samples() {
  auto results = std::make_shared<const CyriusResults>(file_path, _load_json());
  _take_bytes();  // the document holds what the samples read
  return _maker_on<CyriusJsonReader>(std::move(results));
}

std::vector<CallerStatement> CyriusJsonReader::parse() const {
  std::optional<CyriusResults> own;
  const CyriusResults& results = results_ ? *results_ : own.emplace(file_path, _load_json());
  const SampleRows::Row row = _rows_of_chosen_sample(results.by_sample(), sample).front();
  const std::string chosen(results.by_sample().names()[row]);
  const JsonDict& result = results.result(row);
  const auto fail = [&](const std::string& what, const JsonDict& found, const char* expected) {
    throw MalformedStructureError(file_path + ": " + what + " of sample " + quoted_literal(chosen) + " is " +
                                  kind_name(found) + ", expected " + expected);
  };
  if (!is_sample_result(result)) fail("the result", result, "an object with Genotype and Filter");
  const auto text = [&](const char* key) -> std::optional<std::string> {
    const JsonDict& value = *find_member(result, key);
    if (value.is_null()) return std::nullopt;
    if (!value.is_string()) fail(std::string("\"") + key + "\"", value, "text or null");
    return value.get<std::string>();
  };
  return {cyrius_statement(text("Genotype"), text("Filter"))};
}

}  // namespace callset_converter
