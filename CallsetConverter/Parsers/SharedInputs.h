#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>

#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// The input files that several samples of one run read, each read once:
// a multi-sample file is prepared for its samples once (a PyPGx cohort table
// or a Cyrius result indexed by sample), so that each sample's reader finds
// only its own rows; any other file's bytes are kept and handed to each
// reader. With digests on (FHIR), each file's SHA-256 is taken once too.
// Files kept nowhere are read by their reader as usual.
class SharedInputs {
 public:
  SharedInputs(std::uint64_t max_input_size, bool digests) : max_input_size_(max_input_size), digests_(digests) {}

  // Reads `path` and keeps it for the run; whether it is kept. A file that
  // cannot be read or prepared is not kept: each sample's reader meets the
  // fault itself and reports it as a run of that sample alone would.
  bool keep(const std::string& path);

  // The reader for `path` and `sample`, as FormatDispatcher::get_parser
  // chooses it, on the kept content when the file is kept.
  std::unique_ptr<ICallReader> get_parser(const std::string& path, const std::optional<std::string>& sample) const;

  // The size of the files kept, which is the order of what they hold in
  // memory (bytes, or rows indexed by sample).
  std::size_t kept_size() const;

 private:
  struct Kept {
    ICallReader::SampleReaderMaker reader_for;  // a file prepared for its samples
    std::string bytes;                          // any other file
    std::size_t size = 0;                       // the file's
    std::string sha256;                         // with digests on
  };

  std::uint64_t max_input_size_;
  bool digests_;
  std::unordered_map<std::string, Kept> kept_;
};

}  // namespace callset_converter
