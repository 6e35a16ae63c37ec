#include "CallsetConverter/Parsers/UploadTableReader.h"

#include <map>
#include <string_view>
#include <utility>

#include "CallsetConverter/Support/DelimitedText.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

// How much of a CSV file the dialect is guessed from, in characters.
constexpr std::size_t kSampleCharacters = 4096;

// The first `count` characters of UTF-8 `text`.
std::string_view leading_characters(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t seen = 0; pos < text.size() && seen < count; ++seen) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80) ++pos;
  }
  return text.substr(0, pos);
}

// The name as the alias lists write it: trimmed, lower-cased, without
// spaces, "-" as "_".
std::string normalised_name(const std::string& name) {
  std::string out;
  for (const char c : to_lower(trim(name))) {
    if (c == ' ') continue;
    out += c == '-' ? '_' : c;
  }
  return out;
}

std::string value_repr(const JsonDict& value) {
  if (value.is_string()) return quoted_literal(value.get<std::string>());
  if (value.is_null()) return "None";
  return scalar_text(value).value_or("None");
}

// Keeps the object members of `items`, in order.
std::vector<UploadTableReader::Row> object_rows(const JsonDict& items) {
  std::vector<UploadTableReader::Row> rows;
  for (const auto& item : items) {
    if (item.is_object()) rows.push_back(UploadTableReader::Row{item, {}});
  }
  return rows;
}

}  // namespace

std::string UploadTableReader::Row::repr() const {
  std::string out = "{";
  for (const auto& [name, value] : members.items()) {
    if (out.size() > 1) out += ", ";
    out += quoted_literal(name) + ": " + value_repr(value);
  }
  if (!unnamed.empty()) {
    if (out.size() > 1) out += ", ";
    out += "None: " + quoted_literal(unnamed);
  }
  return out + "}";
}

std::string UploadTableReader::reader_source_name() const { return source_name; }

std::optional<std::string> UploadTableReader::_pick(const Row& row, const std::vector<std::string>& aliases) {
  // Of two names that normalise alike the later member wins.
  std::map<std::string, const JsonDict*> view;
  for (const auto& [name, value] : row.members.items()) view[normalised_name(name)] = &value;
  for (const auto& alias : aliases) {
    const auto found = view.find(alias);
    if (found == view.end()) continue;
    const JsonDict& value = *found->second;
    if (value.is_null() || (value.is_string() && value.get_ref<const std::string&>().empty())) continue;
    return scalar_text(value);
  }
  return std::nullopt;
}

std::vector<UploadTableReader::Row> UploadTableReader::_read_csv() const {
  const std::string_view text = _text(/*skip_bom=*/true);
  std::string_view sample = leading_characters(text, kSampleCharacters);
  if (sample.size() < text.size()) {
    // Guess from whole lines only: a cut-off last line would look ragged.
    const std::size_t last_break = sample.find_last_of("\r\n");
    if (last_break != std::string_view::npos) sample = sample.substr(0, last_break + 1);
  }
  const std::vector<TextRow> lines = read_delimited_rows(text, detect_csv_dialect(sample));
  std::vector<Row> rows;
  if (lines.empty()) return rows;
  const TextRow& header = lines.front();
  // Each distinct header name once, at its first place, with the column
  // whose cell it takes: the last column of that name. Worked out once, so a
  // row of many columns is built in one pass, not by a search per cell.
  std::vector<std::pair<std::string, std::size_t>> slots;
  {
    std::map<std::string_view, std::size_t> slot_of;
    for (std::size_t column = 0; column < header.size(); ++column) {
      const auto [found, added] = slot_of.emplace(header[column], slots.size());
      if (added) {
        slots.emplace_back(header[column], column);
      } else {
        slots[found->second].second = column;
      }
    }
  }
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const TextRow& cells = lines[i];
    if (cells.empty()) continue;
    Row row;
    // The ordered object is a vector of members underneath; the names are
    // distinct already, so they are appended without a lookup.
    auto& members = static_cast<JsonDict::object_t::Container&>(row.members.get_ref<JsonDict::object_t&>());
    members.reserve(slots.size());
    for (const auto& [name, column] : slots) {
      // A column the row does not reach holds null, so it counts as absent
      // and, under a repeated name, still overrides the earlier column.
      members.emplace_back(name, column < cells.size() ? JsonDict(cells[column]) : JsonDict(nullptr));
    }
    for (std::size_t column = header.size(); column < cells.size(); ++column) row.unnamed.push_back(cells[column]);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<UploadTableReader::Row> UploadTableReader::_flatten(const JsonDict& mapping) {
  std::vector<Row> rows;
  for (const auto& [name, value] : mapping.items()) {
    if (value.is_string()) {
      Row row;
      row.members["gene"] = name;
      row.members["diplotype"] = value;
      rows.push_back(std::move(row));
    } else if (value.is_object()) {
      Row row{value, {}};
      if (!row.members.contains("gene")) row.members["gene"] = name;
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

std::vector<UploadTableReader::Row> UploadTableReader::_read_json() const {
  const JsonDict root = _load_json();
  if (root.is_array()) return object_rows(root);
  if (!root.is_object()) throw InvalidArgumentError(file_path + ": unsupported JSON shape");
  for (const char* key : SECTION_KEYS) {
    const JsonDict* section = find_member(root, key);
    if (section == nullptr) continue;
    if (section->is_array()) return object_rows(*section);
    if (section->is_object()) return _flatten(*section);
  }
  return _flatten(root);
}

std::vector<CallerStatement> UploadTableReader::parse() const {
  const std::vector<Row> rows = ends_with(to_lower(file_path), ".csv") ? _read_csv() : _read_json();
  std::vector<CallerStatement> statements;
  for (const Row& row : rows) {
    const std::optional<std::string> gene = _pick(row, GENE_ALIASES);
    if (!gene) {
      log_warning("Row without a gene column in %s: %s", file_path, row.repr());
      continue;
    }
    const std::optional<std::string> diplotype = _pick(row, DIPLOTYPE_ALIASES);
    if (!diplotype) {
      _log_skip(*gene, "no diplotype column");
      continue;
    }
    const std::optional<std::string> phenotype = _pick(row, PHENOTYPE_ALIASES);
    std::vector<std::string> phenotypes;
    if (phenotype) phenotypes.push_back(trim(*phenotype));
    statements.emplace_back(trim(*gene), trim(*diplotype), std::vector<std::string>{}, std::move(phenotypes),
                            source_name);
  }
  if (statements.empty()) {
    throw InvalidArgumentError(file_path + ": no usable rows - the minimum is a Gene and a Diplotype per row");
  }
  return statements;
}

}  // namespace callset_converter
