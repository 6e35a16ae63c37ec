#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Reads the minimal table a user uploads: CSV (comma, semicolon or tab)
// with a header row, or JSON (an array of row objects, an object keyed by
// gene, or either under a section member). Column and member names match
// the alias lists loosely: case, surrounding and inner spaces do not count
// and "-" counts as "_". Gene and Diplotype are required per row; the
// values stay in the user's words.
class UploadTableReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_DIPLOTYPE_TABLE;
  // Normalised names, tried in this order.
  static constexpr std::array<const char*, 6> GENE_ALIASES = {"gene",   "genesymbol", "gene_symbol",
                                                              "symbol", "id",         "name"};
  static constexpr std::array<const char*, 6> DIPLOTYPE_ALIASES = {"diplotype", "starallele", "star_allele",
                                                                   "genotype",  "call",       "label"};
  static constexpr std::array<const char*, 5> PHENOTYPE_ALIASES = {"phenotype", "activity", "metabolizer",
                                                                   "metaboliser", "status"};
  // Members of a JSON object that may hold the rows, in the order tried.
  static constexpr std::array<const char*, 4> SECTION_KEYS = {"genes", "results", "diplotypes", "data"};

  // One row: named values in row order (text for CSV, any JSON value for
  // JSON; of two equal names the later value counts, kept at the first
  // name's place), plus the nameless CSV cells beyond the header.
  struct Row {
    JsonDict members = JsonDict::object();
    std::vector<std::string> unnamed;

    // The row for messages: {'name': 'value', ...}, nameless cells under None.
    std::string repr() const;
  };

  using ICallReader::ICallReader;

  // Statements in row order. InvalidArgumentError when no row is usable or
  // the JSON root is neither an array nor an object.
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;

  std::vector<Row> _read_csv() const;
  std::vector<Row> _read_json() const;
  // Rows from an object keyed by gene: a text value gives {gene, diplotype};
  // an object value gives a copy, with "gene" added when it has none.
  static std::vector<Row> _flatten(const JsonDict& mapping);
  // The first alias whose normalised name holds a value that is not null
  // and not empty text, as text; nothing when no alias does.
  template <std::size_t N>
  static std::optional<std::string> _pick(const Row& row, const std::array<const char*, N>& aliases) {
    return _pick(row, std::vector<std::string>(aliases.begin(), aliases.end()));
  }
  static std::optional<std::string> _pick(const Row& row, const std::vector<std::string>& aliases);
};

}  // namespace callset_converter
