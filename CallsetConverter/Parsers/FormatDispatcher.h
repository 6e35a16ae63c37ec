#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Chooses and constructs the reader for one input file: by the lower-cased
// file name first, by the content second. A .tsv file is told by its
// content: PharmCAT's TSV report, a Cyrius table, an Aldy report, a
// StellarPGx result, a PyPGx table, else pbStarPhase's table. A file with
// any other name but .csv and .json is read when its content is one of
// Cyrius's, Aldy's or StellarPGx's.
class FormatDispatcher {
 public:
  // A new reader for `file_path`, owned by the caller, that reads at most
  // `max_input_size` bytes. `sample` is the sample to read from a
  // multi-sample file (PyPGx, Cyrius, Aldy) or the sample a StellarPGx file
  // must be named for. Raises InvalidArgumentError "Unsupported file type:
  // <path>" for a file that is neither .csv, .tsv nor .json whose content no
  // reader recognises, and
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

  // A reader for a JSON file recognised by its root members (or, for
  // Cyrius's results keyed by sample id, by its first member's value), or
  // nothing.
  static std::unique_ptr<ICallReader> _sniff(const std::string& file_path);
  // The same for the bytes of `file_path`, already read; `sample` goes to a
  // Cyrius reader.
  static std::unique_ptr<ICallReader> _sniff(const std::string& file_path, const std::string& bytes,
                                             const std::optional<std::string>& sample);

  // A reader for the text of an Aldy report, a StellarPGx result or a Cyrius
  // table, told by its first lines, or nothing.
  static std::unique_ptr<ICallReader> _sniff_text(const std::string& file_path, std::string_view bytes,
                                                  const std::optional<std::string>& sample);

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
