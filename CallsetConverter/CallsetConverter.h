#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CallsetConverter/Fhir/GeneTable.h"
#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Models/CallerStatement.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Models/ReportRecord.h"
#include "CallsetConverter/OutputGuard.h"
#include "CallsetConverter/Parsers/ICallReader.h"
#include "CallsetConverter/Parsers/TermHarmonizer.h"
#include "CallsetConverter/Support/OutputFiles.h"

namespace callset_converter {

class SharedInputs;

// One sample's converted files, built and not yet written.
struct SampleOutputs {
  // The result, then (as asked) the sidecar and the FHIR Bundle.
  FileSet files;
  std::size_t gene_count = 0;
};

// The converter: built from one request, it reads every input file through
// the reader the dispatcher picks, merges the caller statements into one
// report record per gene and writes the result array (plain or gzipped)
// followed by the provenance sidecar, or hands the array back.
class CallsetConverter {
 public:
  // File-name endings the directory scan accepts (compared lower-cased).
  static constexpr std::array<const char*, 5> INPUT_SUFFIXES = {".json", ".csv", ".tsv", ".aldy", ".alleles"};

  std::vector<std::string> input_files;
  std::string input_dir;
  std::string output_dir;
  std::string output_json;
  bool gzip_output;
  bool write_provenance;
  bool recover_dropped_genes;
  std::set<std::string> gene_filter;
  // The most bytes one input file or mapping table may hold: the request's
  // "max_input_size" (a positive integer), kDefaultMaxInputSize when absent
  // or null. Declared before the normaliser, which loads the tables with it.
  std::uint64_t max_input_size;
  TermHarmonizer normalizer;
  std::optional<std::string> phenotype_source;
  // The sample to read from multi-sample files (PyPGx cohort tables, Cyrius
  // and Aldy results) and the one a StellarPGx file must be named for;
  // recorded in the sidecar.
  std::optional<std::string> sample;
  // Whether a run also writes the FHIR Bundle; the gene table is loaded
  // only then.
  bool fhir;
  std::optional<GeneTable> gene_table;
  // The input files the last parse_files read, in reading order.
  std::vector<std::string> files_read;
  // With `fhir`, the SHA-256 (hex) of each of files_read, taken from the
  // bytes its reader read: an input may be a pipe that cannot be read again.
  std::vector<std::string> input_sha256;
  // The callers' version information gathered while reading; kept across
  // runs, later values replacing earlier ones under the same key.
  JsonDict provenance;
  // Files read once for many samples of a cohort run (not owned); absent,
  // each reader reads its own file.
  const SharedInputs* shared_inputs = nullptr;
  // The device and inode of those files, found once for the run (not owned).
  const KnownFiles* known_files = nullptr;

  // An absent, null or empty request gives every default. A request with a
  // "cohort" member is refused (see run_cohort in Cohort.h). "gzip_output",
  // "write_provenance" and "recover_dropped_genes" take their default only
  // when absent; otherwise they are on when truthy. A request that is not an
  // object, or a member of the wrong kind, raises InvalidArgumentError
  // naming the member. Mapping-table loading failures pass unchanged.
  explicit CallsetConverter(const std::optional<JsonDict>& json_request = std::nullopt);

  // Reads and merges every input. With `return_list` the result array is
  // returned and nothing is written; otherwise the result file, (when
  // `write_provenance` is set) the sidecar and (when `fhir` is set) the FHIR
  // Bundle are written together, or none of them, and nothing is returned. A
  // result or sidecar path that is an input file raises InvalidArgumentError
  // before anything is read.
  std::optional<JsonDict> run(bool return_list = false);

  // Converting one sample: reads and merges `files` (resolved) and builds
  // the files run() writes, writing nothing. Raises as run() does,
  // InvalidArgumentError when an output path would be one of `files`.
  SampleOutputs convert_sample(const std::vector<std::string>& files);

  // Logs what writing `outputs` did, as run() does after writing.
  void log_written(const SampleOutputs& outputs, const std::vector<std::string>& removed) const;

  // Forgets what earlier runs gathered (callers' versions, unmapped terms),
  // so that the next run reports only its own.
  void forget_earlier_runs();

  // One report record per gene, in ascending gene-name order.
  std::vector<ReportRecord> parse_files();
  // The same for the input files already resolved.
  std::vector<ReportRecord> parse_files(const std::vector<std::string>& files);

  // The listed files (as given, else under input_dir); when none of them
  // exists, the regular files with one of INPUT_SUFFIXES directly inside input_dir,
  // ordered by their names decoded as text, leaving out provenance sidecars,
  // the result files they record, every file that is a result of this
  // converter (see is_earlier_result), whatever its name, and FHIR Bundles;
  // a listed file is taken as given. A listed file that cannot be checked raises IoError: the
  // scan would convert some other file in its place.
  std::vector<std::string> _resolve_input_files() const;

  // Filters, groups, ranks and normalises the statements of a run.
  std::vector<ReportRecord> _merge(const std::vector<CallerStatement>& calls);

  // Warns when a phenotype source was asked for that reorders the default
  // and a PharmCAT file (`caller`) carries no per-source phenotypes at all.
  void _warn_unused_phenotype_source(const std::string& path, const std::string& caller,
                                     const std::vector<CallerStatement>& file_calls) const;

  // The PharmCAT phenotype sources in order of preference.
  std::vector<std::string> _source_preference() const;

  // The known phenotype source matching `requested` (trimmed,
  // case-insensitive), spelled as the gene rules spell it; nothing when
  // blank or unknown (the latter with a warning).
  std::optional<std::string> _resolve_phenotype_source(const std::optional<std::string>& requested) const;

  // Merges the versions the reader finds in its file into `provenance`; a
  // failure to read them is logged and skipped.
  void _collect_versions(const ICallReader& reader);

  // The sidecar object for the run's records and the SHA-256 (hex) of the
  // result file's bytes as written.
  JsonDict _provenance_document(const std::vector<ReportRecord>& results, const std::string& result_sha256) const;
  // The same object as indented JSON text, written without building it.
  std::string _provenance_text(const std::vector<ReportRecord>& results, const std::string& result_sha256) const;
  // The sidecar's members in order, each given to `member(name, value)`:
  // the one place the sidecar's layout is written down.
  template <typename Member>
  void _provenance_members(const std::vector<ReportRecord>& results, const std::string& result_sha256,
                           Member&& member) const;

  // Where the result file goes: output_json under output_dir, with ".gz"
  // appended when gzipped and not already there.
  std::string _result_path() const;

  // The FHIR Bundle of a run with these records and its sidecar document
  // (see FhirBundleBuilder), issued at `run_time` (a FHIR instant). Needs the
  // gene table (`fhir` set).
  JsonDict _fhir_bundle(const std::vector<ReportRecord>& results, const JsonDict& sidecar,
                        const std::string& run_time) const;

  // The sidecar path for the result file `out_path`: one ".gz" and then one
  // ".json" ending removed, then the provenance suffix appended.
  static std::string provenance_path(const std::string& out_path);

  // The FHIR Bundle path for the result file `out_path`: named like the
  // sidecar, with the FHIR suffix.
  static std::string fhir_path(const std::string& out_path);

 private:
  // Reads the members from a request already checked to be an object.
  CallsetConverter(const JsonDict& request, int /*checked*/);
};

}  // namespace callset_converter
