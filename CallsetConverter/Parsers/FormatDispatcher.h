#pragma once

#include <cstdint>
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
  // A new reader for `file_path`, owned by the caller, that reads at most
  // `max_input_size` bytes. `sample` is the sample to read from a
  // multi-sample table (PyPGx). Raises InvalidArgumentError "Unsupported file
  // type: <path>" for names that are neither .csv, .tsv nor .json, and
  // whatever the chosen reader's constructor raises. When the content
  // decides, the file is read here, once, and its bytes are handed to the
  // reader (a pipe can be read only once); a file larger than the limit
  // raises the size error here.
  static std::unique_ptr<ICallReader> get_parser(const std::string& file_path,
                                                 const std::optional<std::string>& sample = std::nullopt,
                                                 std::uint64_t max_input_size = kDefaultMaxInputSize);

  // The same reader for `file_path` whose bytes (`bytes`) were already read
  // within the limit: the file is not opened again.
  static std::unique_ptr<ICallReader> get_parser(const std::string& file_path, const std::optional<std::string>& sample,
                                                 std::uint64_t max_input_size, std::string bytes);

  // A reader for a JSON file recognised by its root members, or nothing.
  static std::unique_ptr<ICallReader> _sniff(const std::string& file_path);
  // The same for the bytes of `file_path`, already read.
  static std::unique_ptr<ICallReader> _sniff(const std::string& file_path, const std::string& bytes);

  // Whether tab-separated bytes start with PharmCAT's TSV banner line and
  // header row.
  static bool _is_pharmcat_tsv(std::string_view bytes);

  // Whether the first record of a tab-separated file is a PyPGx header.
  static bool _is_pypgx_tsv(const std::string& file_path);
  // The same for the bytes of `file_path`, already read.
  static bool _is_pypgx_tsv(const std::string& file_path, std::string_view bytes);

 private:
  static std::unique_ptr<ICallReader> choose_reader(const std::string& file_path,
                                                    const std::optional<std::string>& sample,
                                                    std::uint64_t max_input_size, std::optional<std::string> preread);
};

}  // namespace callset_converter
