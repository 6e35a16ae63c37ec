#pragma once

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Cyrius's table read whole once: its columns by name and the rows of its
// first table (BCyrius may append others after a blank line), indexed by
// sample, so that a cohort's samples each find their row without reading
// the table again.
class CyriusTable {
 public:
  // InvalidArgumentError naming `file_path` when the header is not Cyrius's
  // or the first table has no rows.
  CyriusTable(const std::string& file_path, std::string_view text);
  // The index holds views of its own rows' sample cells.
  CyriusTable(const CyriusTable&) = delete;
  CyriusTable& operator=(const CyriusTable&) = delete;

  const SampleRows& by_sample() const { return *by_sample_; }
  const std::vector<std::string>& row(SampleRows::Row number) const { return rows_[number]; }
  // The row's cell under the first of `names` the header has; nothing when
  // the header has none of them or the row is too short to reach it.
  template <std::size_t N>
  std::optional<std::string> cell(const std::vector<std::string>& row, const std::array<const char*, N>& names) const {
    for (const char* name : names) {
      if (const auto found = columns_.find(name); found != columns_.end()) {
        return found->second < row.size() ? std::optional(row[found->second]) : std::nullopt;
      }
    }
    return std::nullopt;
  }

 private:
  std::map<std::string, std::size_t, std::less<>> columns_;
  std::vector<std::vector<std::string>> rows_;
  std::optional<SampleRows> by_sample_;
};

// Reads Cyrius's CYP2D6 result table (Sample, Genotype, Filter; one row per
// sample), including the BCyrius fork's Activity score and Predicted
// phenotype columns. The Filter decides what the Genotype is: a call, a low
// quality call, several candidate diplotypes (";"-joined) or alleles that
// could not be put on haplotypes ("_"-joined). Cyrius names no gene and no
// version: every statement is CYP2D6's.
class CyriusTsvReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_CYRIUS;
  static constexpr const char* GENE = "CYP2D6";
  static constexpr std::array<const char*, 3> LEADING_COLUMNS = {"Sample", "Genotype", "Filter"};
  // BCyrius's columns; older releases write the names without a space.
  static constexpr std::array<const char*, 2> ACTIVITY_COLUMNS = {"Activity score", "ActivityScore"};
  static constexpr std::array<const char*, 2> PHENOTYPE_COLUMNS = {"Predicted phenotype", "PredictedPhenotype"};

  // The sample to read (--sample); without it the file must name one only.
  const std::optional<std::string> sample;

  using ICallReader::ICallReader;
  CyriusTsvReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id);
  // A reader of a table already read for the run (shared by its samples).
  CyriusTsvReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id,
                  std::shared_ptr<const CyriusTable> table);

  // Whether a first row (cells as read) is Cyrius's header: its first three
  // cells, trimmed, are Sample, Genotype and Filter.
  static bool is_header(const std::vector<std::string>& header);

  // The chosen sample's statement. InvalidArgumentError naming the file
  // when the header is not Cyrius's, when the sample cannot be chosen (see
  // _choose_sample) or has more than one row.
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;
  // Reads the table once for all samples (see CyriusTable).
  SampleReaderMaker _prepare_for_samples() override;

 private:
  std::shared_ptr<const CyriusTable> table_;
};

// Cyrius's JSON result read whole once: the root object, its members
// indexed by sample id.
class CyriusResults {
 public:
  // InvalidArgumentError naming `file_path` when the root is not an object
  // with at least one member.
  CyriusResults(const std::string& file_path, JsonDict root);
  // The index holds views of the root's member names.
  CyriusResults(const CyriusResults&) = delete;
  CyriusResults& operator=(const CyriusResults&) = delete;

  const SampleRows& by_sample() const { return *by_sample_; }
  // The value of the root's member number `number`, in document order.
  const JsonDict& result(SampleRows::Row number) const;

 private:
  JsonDict root_;
  std::optional<SampleRows> by_sample_;
};

// Reads Cyrius's JSON result: one object keyed by sample id, each value an
// object with Genotype and Filter (null for a no-call) among other members;
// read by the rules of the table.
class CyriusJsonReader : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_CYRIUS;

  const std::optional<std::string> sample;

  using ICallReader::ICallReader;
  CyriusJsonReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id);
  // A reader of a result already read for the run (shared by its samples).
  CyriusJsonReader(const std::optional<std::string>& file_path, std::optional<std::string> sample_id,
                   std::shared_ptr<const CyriusResults> results);

  // Whether a root member's value looks like Cyrius's: an object holding
  // both Genotype and Filter.
  static bool is_sample_result(const JsonDict& value);

  // As CyriusTsvReader::parse; MalformedStructureError naming the file when
  // a sample's value, Genotype or Filter is not what Cyrius writes.
  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;
  // Reads the result once for all samples (see CyriusResults).
  SampleReaderMaker _prepare_for_samples() override;

 private:
  std::shared_ptr<const CyriusResults> results_;
};

// The statement of one Cyrius result: its Genotype and Filter as written
// (nothing for JSON null), and BCyrius's activity score and predicted
// phenotype cells.
CallerStatement cyrius_statement(const std::optional<std::string>& genotype_cell,
                                 const std::optional<std::string>& filter_cell,
                                 const std::optional<std::string>& activity_cell = std::nullopt,
                                 const std::optional<std::string>& phenotype_cell = std::nullopt);

}  // namespace callset_converter
