#pragma once

#include <memory>
#include <optional>
#include <string>

#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Chooses and constructs the reader for one input file: by the lower-cased
// file name first, by the content second. A .tsv file is told by its
// content: PharmCAT's TSV report, a PyPGx table, else pbStarPhase's table.
class FormatDispatcher {
 public:
  // A new reader for `file_path`, owned by the caller. `sample` is the
  // sample to read from a multi-sample table (PyPGx). Raises
  // InvalidArgumentError "Unsupported file type: <path>" for names that are
  // neither .csv, .tsv nor .json, and whatever the chosen reader's
  // constructor raises.
  static std::unique_ptr<ICallReader> get_parser(const std::string& file_path,
                                                 const std::optional<std::string>& sample = std::nullopt);

  // A reader for a JSON file recognised by its root members, or nothing.
  static std::unique_ptr<ICallReader> _sniff(const std::string& file_path);

  // Whether a tab-separated file starts with PharmCAT's TSV banner line and
  // header row.
  static bool _is_pharmcat_tsv(const std::string& file_path);

  // Whether the first record of a tab-separated file is a PyPGx header.
  static bool _is_pypgx_tsv(const std::string& file_path);
};

}  // namespace callset_converter
