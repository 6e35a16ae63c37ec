#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

class SampleTableIndex;

// The input files that several samples of one run read, each read once: a
// PyPGx cohort table is indexed by sample once, so that each sample's reader
// parses only its own rows; any other file's bytes are kept and handed to
// each reader. Files kept nowhere are read by their reader as usual.
class SharedInputs {
 public:
  explicit SharedInputs(std::uint64_t max_input_size) : max_input_size_(max_input_size) {}

  // Reads `path` and keeps it for the run; whether it is kept. A file that
  // cannot be read or indexed is not kept: each sample's reader meets the
  // fault itself and reports it as a run of that sample alone would.
  bool keep(const std::string& path);

  // The reader for `path` and `sample`, as FormatDispatcher::get_parser
  // chooses it, on the kept content when the file is kept.
  std::unique_ptr<ICallReader> get_parser(const std::string& path, const std::optional<std::string>& sample) const;

  // The bytes the kept files and their indexes hold.
  std::size_t memory_bytes() const;

 private:
  struct Kept {
    std::shared_ptr<const SampleTableIndex> table;  // a PyPGx table
    std::string bytes;                              // any other file
  };

  std::uint64_t max_input_size_;
  std::unordered_map<std::string, Kept> kept_;
};

}  // namespace callset_converter
