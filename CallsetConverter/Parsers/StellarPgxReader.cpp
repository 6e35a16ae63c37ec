#include "CallsetConverter/Parsers/StellarPgxReader.h"

#include <algorithm>
#include <array>
#include <map>
#include <utility>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

constexpr const char* RESULT = "Result:";
constexpr const char* ACTIVITY_SCORE = "Activity score:";
constexpr const char* METABOLISER_STATUS = "Metaboliser status:";
// Every label StellarPGx writes; a section's value runs to the next one.
// "Core variants:" is the older releases' name of the sample's variants.
constexpr std::array<std::string_view, 6> LABELS = {
    "Sample core variants:", "Core variants:", "Candidate alleles:", RESULT, ACTIVITY_SCORE, METABOLISER_STATUS};
constexpr std::string_view COPY_NUMBER_LABEL = "Initially computed CN";
// The banner sits among the first lines, after a rule of dashes.
constexpr std::size_t BANNER_LINES = 8;

std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  for_each_line(text, [&](std::size_t, std::string_view line) { lines.push_back(line); });
  return lines;
}

std::optional<std::string> banner_gene(std::string_view line) {
  const std::string text = trim(line);
  if (!ends_with(text, StellarPgxReader::BANNER_END)) return std::nullopt;
  std::string gene = trim(std::string_view(text).substr(0, text.size() - StellarPgxReader::BANNER_END.size()));
  if (gene.empty() || gene.find_first_of(" \t") != std::string::npos) return std::nullopt;
  return gene;
}

bool is_label(const std::string& line) {
  return std::find(LABELS.begin(), LABELS.end(), line) != LABELS.end() || starts_with(line, COPY_NUMBER_LABEL);
}

// A diplotype as StellarPGx writes one: "/"-joined alleles, no spaces.
bool is_diplotype(std::string_view text) {
  return !text.empty() && text.find('/') != std::string_view::npos && text.find(' ') == std::string_view::npos;
}

}  // namespace

StellarPgxReader::StellarPgxReader(const std::optional<std::string>& file_path_, std::optional<std::string> sample_id)
    : ICallReader(file_path_), sample(std::move(sample_id)) {}

bool StellarPgxReader::is_stellarpgx_result(std::string_view bytes) {
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  const std::vector<std::string_view> lines = lines_of(bytes.substr(0, 4096));
  for (std::size_t i = 0; i < lines.size() && i < BANNER_LINES; ++i) {
    if (banner_gene(lines[i])) return true;
  }
  return false;
}

std::string StellarPgxReader::reader_source_name() const { return source_name; }

std::vector<CallerStatement> StellarPgxReader::parse() const {
  const std::vector<std::string_view> lines = lines_of(_text(/*skip_bom=*/true));
  std::optional<std::string> gene;
  std::size_t line = 0;
  for (; line < lines.size() && line < BANNER_LINES && !gene; ++line) gene = banner_gene(lines[line]);
  if (!gene) {
    throw InvalidArgumentError(file_path + ": not a StellarPGx result - expected a line \"<GENE>" +
                               std::string(BANNER_END) + "\" at the top");
  }
  if (sample) {
    // A file name is bytes; undecodable ones become lone surrogates.
    const std::string name = decode_file_name(base_name(file_path));
    if (!starts_with(name, *sample + "_")) {
      throw InvalidArgumentError(file_path + ": the file name is another sample's than " + quoted_literal(*sample) +
                                 " - StellarPGx names its results <sample>_<gene>.alleles");
    }
  }
  // Each section's non-blank value lines, by label; of a repeated label the
  // first counts.
  std::map<std::string, std::vector<std::string>, std::less<>> sections;
  std::vector<std::string>* current = nullptr;
  for (; line < lines.size(); ++line) {
    const std::string text = trim(lines[line]);
    if (is_label(text)) {
      const auto [entry, added] = sections.try_emplace(text);
      current = added ? &entry->second : nullptr;
      continue;
    }
    if (current != nullptr && !text.empty()) current->push_back(trim(lines[line]));
  }
  const auto first_value = [&](const char* label) -> std::optional<std::string> {
    const auto found = sections.find(label);
    if (found == sections.end() || found->second.empty()) return std::nullopt;
    return found->second.front();
  };

  CallerStatement statement(*gene);
  statement.source = source_name;
  const std::optional<std::string> result = first_value(RESULT);
  if (!result) {
    statement.warnings.emplace_back("no result in the file");
    return {statement};
  }
  // "<diplotype>\t<note>": the note is about the call, never part of it.
  const std::size_t tab = result->find('\t');
  const std::string call = trim(std::string_view(*result).substr(0, tab));
  const std::optional<std::string> note =
      tab == std::string::npos ? std::nullopt : std::optional(trim(std::string_view(*result).substr(tab + 1)));
  std::vector<std::string> candidates;
  for (auto& piece : split(call, ' ')) {
    if (!piece.empty() && piece != "or") candidates.push_back(std::move(piece));
  }
  candidates = distinct_in_order(std::move(candidates));
  const bool alternatives =
      call.find(" or ") != std::string::npos && std::all_of(candidates.begin(), candidates.end(), is_diplotype);
  if (!alternatives && !is_diplotype(call)) {
    // A sentence in place of a diplotype: StellarPGx could not call.
    statement.warnings.push_back(*result);
    return {statement};
  }
  if (alternatives && candidates.size() > 1) {
    statement.warnings.push_back(_ambiguous_warning(candidates));
  } else {
    statement.diplotype = alternatives ? candidates.front() : call;
    for (const auto& piece : split(*statement.diplotype, '/')) {
      if (!trim(piece).empty()) statement.haplotypes.push_back(trim(piece));
    }
  }
  if (note && !note->empty()) statement.warnings.push_back(*note);
  const std::optional<std::string> status = first_value(METABOLISER_STATUS);
  if (statement.diplotype) {
    if (status) statement.phenotypes.push_back(*status);
    statement.activity_score = first_value(ACTIVITY_SCORE);
  } else if (status) {
    statement.warnings.push_back("metaboliser status of an ambiguous call not used: " + *status);
  }
  return {statement};
}

}  // namespace callset_converter
