#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

// A sample sheet that cannot be used; the message names the sheet and,
// where there is one, the line. Nothing of the cohort is written.
class SampleSheetError : public InvalidArgumentError {
 public:
  using InvalidArgumentError::InvalidArgumentError;
};

// A cohort's sample sheet: tab-separated text whose first line (after blank
// lines and lines starting with "#") is a header starting with the column
// "sample" (in any case), optionally followed by "pypgx_sample"; then one
// line per sample: its id (letters, digits, ".", "_", "-", not starting with
// "."), its row name in PyPGx cohort tables when the header has that column
// (an empty cell names none), then one directory or the input files. Cells
// are trimmed, empty ones skipped; paths are taken from the sheet's folder.
// Each path is held once, however many samples name it.
struct SampleSheet {
  struct Sample {
    std::string id;
    std::optional<std::string> pypgx_sample;
    std::vector<std::uint32_t> inputs;  // into `paths`
  };

  std::vector<Sample> samples;  // in sheet order
  std::vector<std::string> paths;
  // How many sample lines name each path.
  std::vector<std::uint32_t> uses;

  // SampleSheetError for a sheet that cannot be read, is not UTF-8, has no
  // header, an invalid or repeated id, a sample without inputs, or no sample.
  static SampleSheet read(const std::string& path, std::uint64_t max_size);
};

// How one sample of a cohort ended.
struct CohortSampleStatus {
  std::string sample;
  bool ok = false;
  // The error's whole reason when it failed.
  std::string error;
};

// Converts every sample of the sheet named by the request member "cohort",
// each as a run with the request's other members and
// output_dir/<sample> as its output directory would, except that every
// input file is read once for the whole run. A sample that fails does not
// stop the others; its directory gets no result. At the end
// <output_dir>/cohort-status.tsv (sample, status ok or failed, error) is
// written in one piece. While a sample is converted, every log record is
// marked with "[<sample>] " at the start of each of its lines.
//
// Raises SampleSheetError for a bad sheet, InvalidArgumentError for a
// request that also names inputs or a sample, before anything is written.
std::vector<CohortSampleStatus> run_cohort(const JsonDict& request);

// The status file's text for `statuses`; cells escaped as the workflow's
// cohort table escapes them (\\, \t, \n, \r).
std::string cohort_status_text(const std::vector<CohortSampleStatus>& statuses);

inline constexpr const char* COHORT_STATUS_FILE = "cohort-status.tsv";

}  // namespace callset_converter
