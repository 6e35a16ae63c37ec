#include "CallsetConverter/CallsetConverter.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <new>
#include <system_error>
#include <type_traits>
#include <utility>

#include "CallsetConverter/Fhir/FhirBundle.h"
#include "CallsetConverter/GeneMerge.h"
#include "CallsetConverter/Mappings.h"
#include "CallsetConverter/OutputGuard.h"
#include "CallsetConverter/Parsers/FormatDispatcher.h"
#include "CallsetConverter/Parsers/SharedInputs.h"
#include "CallsetConverter/Support/Digest.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Gzip.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/OutputFiles.h"
#include "CallsetConverter/Support/Text.h"
#include "CallsetConverter/Support/Version.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

namespace {

// The request as an object: blank gives an empty object.
JsonDict request_object(const std::optional<JsonDict>& json_request) {
  if (!json_request || is_blank(*json_request)) return JsonDict::object();
  if (!json_request->is_object()) {
    throw InvalidArgumentError("The request must be a JSON object, not " + kind_name(*json_request));
  }
  // One converter is one sample; taking a cohort request for one would
  // convert whatever lies in the working directory.
  if (!is_blank(find_member(*json_request, C::COHORT))) {
    throw InvalidArgumentError(std::string("Request member ") + C::COHORT +
                               " asks for a cohort run: use run_cohort, not one converter");
  }
  return *json_request;
}

// A text member; null counts as absent.
std::string text_member(const JsonDict& request, const char* key, const std::string& fallback) {
  const JsonDict* value = find_member(request, key);
  if (value == nullptr || value->is_null()) return fallback;
  if (!value->is_string()) {
    throw InvalidArgumentError(std::string("Request member ") + key + " must be text, not " + kind_name(*value));
  }
  return value->get<std::string>();
}

// A list of texts; blank gives an empty list.
std::vector<std::string> text_list_member(const JsonDict& request, const char* key) {
  const JsonDict* value = find_member(request, key);
  if (is_blank(value)) return {};
  if (!value->is_array()) {
    throw InvalidArgumentError(std::string("Request member ") + key + " must be a list of texts, not " +
                               kind_name(*value));
  }
  std::vector<std::string> items;
  for (const auto& item : *value) {
    if (!item.is_string()) {
      throw InvalidArgumentError(std::string("Request member ") + key + " must be a list of texts; it holds a " +
                                 kind_name(item));
    }
    items.push_back(item.get<std::string>());
  }
  return items;
}

// A flag: the default only when absent, otherwise whether it is truthy
// (so a present null is off).
bool flag_member(const JsonDict& request, const char* key, bool fallback) {
  const JsonDict* value = find_member(request, key);
  if (value == nullptr) return fallback;
  return is_truthy(value);
}

std::uint64_t size_limit_member(const JsonDict& request) {
  const JsonDict* value = find_member(request, C::MAX_INPUT_SIZE);
  if (value == nullptr || value->is_null()) return kDefaultMaxInputSize;
  if (value->is_number_unsigned() && value->get<std::uint64_t>() > 0) return value->get<std::uint64_t>();
  if (value->is_number_integer() && value->get<std::int64_t>() > 0) {
    return static_cast<std::uint64_t>(value->get<std::int64_t>());
  }
  throw InvalidArgumentError(std::string("Request member ") + C::MAX_INPUT_SIZE +
                             " must be a positive whole number of bytes, not " +
                             to_json_text(*value, JsonStyle::Compact));
}

std::optional<std::string> phenotype_source_member(const JsonDict& request) {
  const JsonDict* value = find_member(request, C::PHENOTYPE_SOURCE);
  if (is_blank(value)) return std::nullopt;
  if (!value->is_string()) {
    throw InvalidArgumentError(std::string("Request member ") + C::PHENOTYPE_SOURCE + " must be text or null, not " +
                               kind_name(*value));
  }
  return value->get<std::string>();
}

// Text or null; empty text would select the rows without a sample name,
// which is never what a caller of --sample means.
std::optional<std::string> sample_member(const JsonDict& request) {
  const JsonDict* value = find_member(request, C::SAMPLE);
  if (value == nullptr || value->is_null()) return std::nullopt;
  if (!value->is_string() || value->get_ref<const std::string&>().empty()) {
    throw InvalidArgumentError(std::string("Request member ") + C::SAMPLE + " must be a non-empty text or null, not " +
                               (value->is_string() ? std::string("empty text") : kind_name(*value)));
  }
  return value->get<std::string>();
}

// The entries of a list-valued gene-rules member as texts; a blank member
// gives an empty list and non-text entries are left out.
std::vector<std::string> rules_text_list(const JsonDict& rules, const char* key) {
  std::vector<std::string> items;
  const JsonDict* value = find_member(rules, key);
  if (is_blank(value) || !value->is_array()) return items;
  for (const auto& item : *value) {
    if (item.is_string()) items.push_back(item.get<std::string>());
  }
  return items;
}

// The result path with one ".gz" and then one ".json" ending removed: the
// stem the sidecar and the FHIR Bundle are named after.
std::string output_stem(const std::string& out_path) {
  std::string base = out_path;
  if (ends_with(base, ".gz")) base.resize(base.size() - 3);
  if (ends_with(base, ".json")) base.resize(base.size() - 5);
  return base;
}

// A path holding a NUL character would reach the system cut short at the
// NUL, naming another place; it is refused before anything is created.
void refuse_nul(const std::string& path, const char* what) {
  if (path.find('\0') == std::string::npos) return;
  throw InvalidArgumentError(std::string("The ") + what + " " + quoted_literal(path) + " holds a NUL character");
}

// Whether the scan leaves `path` out as a result of an earlier run: a
// provenance sidecar, or a file whose sidecar (by the sidecar naming rule)
// lies beside it, whatever name the result was written under. Read back, its
// genes would re-enter the report as an uploaded table. Logged at INFO.
bool is_sidecar_or_recorded_result(const std::string& path) {
  if (ends_with(to_lower(base_name(path)), C::PROVENANCE_SUFFIX)) {
    log_info("Not reading %s: it is a provenance sidecar", path);
    return true;
  }
  const std::string sidecar = CallsetConverter::provenance_path(path);
  if (is_regular_file(sidecar)) {
    log_info("Not reading %s: the provenance sidecar %s records it as a result", path, base_name(sidecar));
    return true;
  }
  return false;
}

}  // namespace

CallsetConverter::CallsetConverter(const std::optional<JsonDict>& json_request)
    : CallsetConverter(request_object(json_request), 0) {}

// The member initialisers run in declaration order, which is the order in
// which the request is read; the normaliser exists before the phenotype
// source is resolved against its gene rules.
CallsetConverter::CallsetConverter(const JsonDict& request, int /*tag*/)
    : input_files(text_list_member(request, C::INPUT_FILES)),
      input_dir(text_member(request, C::INPUT_DIR, ".")),
      output_dir(text_member(request, C::OUTPUT_DIR, ".")),
      output_json(text_member(request, C::OUTPUT_JSON, C::DEFAULT_OUTPUT_JSON)),
      gzip_output(flag_member(request, C::GZIP_OUTPUT, false)),
      write_provenance(flag_member(request, C::WRITE_PROVENANCE, true)),
      recover_dropped_genes(flag_member(request, C::RECOVER_DROPPED_GENES, true)),
      gene_filter([&] {
        const auto genes = text_list_member(request, C::GENE_FILTER);
        return std::set<std::string>(genes.begin(), genes.end());
      }()),
      max_input_size(size_limit_member(request)),
      normalizer(max_input_size),
      phenotype_source(_resolve_phenotype_source(phenotype_source_member(request))),
      sample(sample_member(request)),
      fhir(flag_member(request, C::FHIR, false)),
      gene_table(fhir ? std::optional<GeneTable>(std::in_place, load_mapping(C::MAPPING_GENE_TABLE, max_input_size),
                                                 mapping_origin(C::MAPPING_GENE_TABLE))
                      : std::nullopt),
      provenance(JsonDict::object()) {}

std::optional<JsonDict> CallsetConverter::run(bool return_list) {
  const std::vector<std::string> files = _resolve_input_files();
  if (return_list) {
    JsonDict payload = JsonDict::array();
    for (const auto& record : parse_files(files)) payload.push_back(record.to_result());
    return payload;
  }
  const SampleOutputs outputs = convert_sample(files);
  CreatedDirectories created(output_dir);
  const std::vector<std::string> removed = write_files_together(outputs.files.files, outputs.files.remove_after);
  created.keep();
  log_written(outputs, removed);
  return std::nullopt;
}

SampleOutputs CallsetConverter::convert_sample(const std::vector<std::string>& files) {
  refuse_nul(output_dir, "output directory");
  refuse_nul(output_json, "output file name");
  const std::string out_path = _result_path();
  const std::string sidecar_path = provenance_path(out_path);
  // The sidecar path counts also without a sidecar: the run removes what
  // lies there.
  std::vector<std::string> destinations{out_path, sidecar_path};
  if (fhir) destinations.push_back(fhir_path(out_path));
  refuse_outputs_over_inputs(files, destinations, known_files);
  const std::vector<ReportRecord> results = parse_files(files);
  // The result and sidecar are written as text straight from the records;
  // a cohort writes thousands.
  JsonTextWriter result(gzip_output ? JsonStyle::Compact : JsonStyle::Indented, 4096);
  result.begin_array();
  for (const auto& record : results) record.write_result(result);
  result.end();

  SampleOutputs outputs;
  outputs.gene_count = results.size();
  std::vector<OutputFile>& written = outputs.files.files;
  written.push_back({out_path, gzip_output ? gzip_compress(result.take(), out_path) : result.take()});
  const std::string result_sha256 = sha256_hex(written.front().content);
  if (write_provenance) written.push_back({sidecar_path, _provenance_text(results, result_sha256)});
  if (fhir) {
    const JsonDict sidecar = _provenance_document(results, result_sha256);
    const JsonDict bundle = _fhir_bundle(results, sidecar, fhir_instant(std::chrono::system_clock::now()));
    written.push_back({fhir_path(out_path), to_json_text(bundle, JsonStyle::Indented)});
  }
  // Without a sidecar of its own, the run removes an earlier one, which
  // would describe a result that is no longer there.
  if (!write_provenance) outputs.files.remove_after.push_back(sidecar_path);
  return outputs;
}

void CallsetConverter::log_written(const SampleOutputs& outputs, const std::vector<std::string>& removed) const {
  // The paths come with the outputs: a cohort writes a sample's files after
  // the converter has moved on to later samples.
  const std::vector<OutputFile>& files = outputs.files.files;
  log_info("Wrote %d gene results to %s", outputs.gene_count, files.front().path);
  if (write_provenance) log_info("Wrote provenance to %s", files[1].path);
  if (fhir) log_info("Wrote FHIR bundle to %s", files.back().path);
  for (const auto& path : removed) log_info("Removed %s, the sidecar of an earlier result", path);
}

void CallsetConverter::forget_earlier_runs() {
  provenance = JsonDict::object();
  normalizer.unmapped_terms.clear();
  files_read.clear();
}

std::string CallsetConverter::_result_path() const {
  const std::string path = join_path(output_dir, output_json);
  return gzip_output && !ends_with(path, ".gz") ? path + ".gz" : path;
}

std::vector<ReportRecord> CallsetConverter::parse_files() { return parse_files(_resolve_input_files()); }

std::vector<ReportRecord> CallsetConverter::parse_files(const std::vector<std::string>& files) {
  if (files.empty()) {
    throw InvalidArgumentError(
        "No input files found. Provide input_files or an input_dir containing .json/.csv PGx output.");
  }
  files_read = files;
  input_sha256.clear();
  std::vector<CallerStatement> calls;
  // Room for a gene or two a file, taken at once rather than by doubling.
  calls.reserve(2 * files.size());
  for (const auto& path : files) {
    try {
      const std::unique_ptr<ICallReader> reader = shared_inputs != nullptr
                                                      ? shared_inputs->get_parser(path, sample)
                                                      : FormatDispatcher::get_parser(path, sample, max_input_size);
      std::vector<CallerStatement> file_calls = reader->parse();
      log_info("%s: %d gene call(s) from %s", base_name(path), file_calls.size(), reader->reader_source_name());
      _warn_unused_phenotype_source(path, reader->reader_source_name(), file_calls);
      for (auto& call : file_calls) call.input_file = path;
      if (fhir) input_sha256.push_back(reader->_content_sha256());
      calls.insert(calls.end(), std::make_move_iterator(file_calls.begin()), std::make_move_iterator(file_calls.end()));
      _collect_versions(*reader);
    } catch (const std::bad_alloc&) {
      // The reader's bytes and document are gone by now, so there is room
      // for the message; a bare "std::bad_alloc" would name nothing.
      throw OutOfMemoryError("out of memory while reading " + path);
    }
  }
  std::vector<ReportRecord> results = _merge(calls);
  normalizer.log_unmapped();
  return results;
}

std::vector<std::string> CallsetConverter::_resolve_input_files() const {
  std::vector<std::string> taken;
  for (const auto& entry : input_files) {
    if (path_exists(entry)) {
      taken.push_back(entry);
      continue;
    }
    const std::string joined = join_path(input_dir, entry);
    if (path_exists(joined)) {
      taken.push_back(joined);
      continue;
    }
    log_warning("Input file not found, skipping: %s", entry);
  }
  if (!taken.empty()) return taken;
  if (!is_directory(input_dir)) return {};

  // The converter's own result and sidecar files (plain or gzipped) may lie
  // in the scanned directory from an earlier run, and so may results written
  // under other names; read back as inputs they would re-enter the report as
  // uploaded calls, so the scan leaves them out. A file at a result path is
  // left out only when it is such a result: any other file there is the
  // user's, an input that the run then refuses to write over.
  const std::string plain_out = join_path(output_dir, output_json);
  const std::string gzip_out = ends_with(plain_out, ".gz") ? plain_out : plain_out + ".gz";
  const std::vector<std::string> own_sidecars = {provenance_path(plain_out), provenance_path(gzip_out)};
  const auto is_own_output = [&](const std::string& path) {
    return std::any_of(own_sidecars.begin(), own_sidecars.end(),
                       [&](const std::string& own) { return same_file(path, own); });
  };
  const auto is_result_path = [&](const std::string& path) {
    return same_file(path, plain_out) || same_file(path, gzip_out);
  };

  // Sorted by the decoded name, each with the path to open.
  std::vector<std::pair<std::string, std::string>> found;
  std::error_code error;
  for (std::filesystem::directory_iterator it(input_dir, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const std::string lowered = to_lower(name);
    const bool suffix_ok = std::any_of(INPUT_SUFFIXES.begin(), INPUT_SUFFIXES.end(),
                                       [&](const char* suffix) { return ends_with(lowered, suffix); });
    // A FHIR Bundle is never a caller's output; read back it would fail
    // the run or, worse, be taken for an uploaded table.
    if (!suffix_ok || ends_with(lowered, C::FHIR_SUFFIX)) continue;
    const std::string joined = join_path(input_dir, name);
    if (!is_regular_file(joined)) continue;
    if (is_own_output(joined)) {
      log_debug("Not reading the converter's own output %s", joined);
      continue;
    }
    const bool at_result_path = is_result_path(joined);
    if (at_result_path && is_earlier_result(joined, max_input_size)) {
      log_info("Not reading %s, the converter's own earlier result", joined);
      continue;
    }
    if (is_sidecar_or_recorded_result(joined)) continue;
    if (!at_result_path && is_earlier_result(joined, max_input_size)) {
      log_info("Not reading %s: it is a result of this converter", joined);
      continue;
    }
    found.emplace_back(decode_file_name(joined), joined);
  }
  if (error) throw IoError("Cannot list directory " + input_dir + ": " + error.message());
  // std::string compares as unsigned bytes, which for UTF-8 is code-point
  // order; a name that is not UTF-8 sorts by its decoded form.
  std::sort(found.begin(), found.end());
  std::vector<std::string> paths;
  paths.reserve(found.size());
  for (auto& [decoded, path] : found) paths.push_back(std::move(path));
  return paths;
}

void CallsetConverter::_warn_unused_phenotype_source(const std::string& path, const std::string& caller,
                                                     const std::vector<CallerStatement>& file_calls) const {
  if (!phenotype_source || (caller != C::CALLER_PHARMCAT_REPORT && caller != C::CALLER_PHARMCAT_PHENOTYPE)) return;
  // A request for the source already first in the default order changes
  // nothing, so there is nothing to warn about.
  const std::vector<std::string> defaults = rules_text_list(normalizer.rules, "phenotype_source_preference");
  if (!defaults.empty() && defaults.front() == *phenotype_source) return;
  // PharmCAT 3.1 and later write one phenotype per gene, with no source.
  const bool per_source = std::any_of(file_calls.begin(), file_calls.end(), [](const CallerStatement& call) {
    return call.phenotype_source && !call.phenotype_source->empty();
  });
  if (per_source || file_calls.empty()) return;
  log_warning("%s: PharmCAT wrote no per-source phenotypes; the requested phenotype source %s does not apply to it",
              path, *phenotype_source);
}

std::vector<std::string> CallsetConverter::_source_preference() const {
  std::vector<std::string> preference = rules_text_list(normalizer.rules, "phenotype_source_preference");
  if (!phenotype_source || phenotype_source->empty()) return preference;
  std::vector<std::string> ordered{*phenotype_source};
  for (const auto& source : preference) {
    if (source != *phenotype_source) ordered.push_back(source);
  }
  return ordered;
}

std::optional<std::string> CallsetConverter::_resolve_phenotype_source(
    const std::optional<std::string>& requested) const {
  if (!requested || requested->empty()) return std::nullopt;
  const std::vector<std::string> known = rules_text_list(normalizer.rules, "phenotype_source_preference");
  const std::string key = to_upper(trim(*requested));
  for (const auto& source : known) {
    if (to_upper(source) == key) return source;
  }
  log_warning("Unknown phenotype source %r; using the default order %s", *requested, join(known, ", "));
  return std::nullopt;
}

std::vector<ReportRecord> CallsetConverter::_merge(const std::vector<CallerStatement>& calls) {
  const std::vector<std::string> recoverable = rules_text_list(normalizer.rules, "recoverable_genes");
  GeneMergeRules rules{_source_preference(),
                       is_truthy(find_member(normalizer.rules, "allow_source_fallback")),
                       std::set<std::string>(recoverable.begin(), recoverable.end()),
                       recover_dropped_genes,
                       gene_filter,
                       known_files};
  return GeneMerge(normalizer, std::move(rules)).merge(calls);
}

void CallsetConverter::_collect_versions(const ICallReader& reader) {
  JsonDict versions;
  try {
    versions = reader.read_versions();
  } catch (const IoError& error) {
    log_warning("Could not read versions from %s: %s", reader.file_path, std::string(error.what()));
    return;
  } catch (const std::invalid_argument& error) {
    log_warning("Could not read versions from %s: %s", reader.file_path, std::string(error.what()));
    return;
  }
  if (!versions.is_object()) return;
  for (const auto& [key, value] : versions.items()) provenance[key] = value;
}

std::string CallsetConverter::provenance_path(const std::string& out_path) {
  return output_stem(out_path) + C::PROVENANCE_SUFFIX;
}

std::string CallsetConverter::fhir_path(const std::string& out_path) { return output_stem(out_path) + C::FHIR_SUFFIX; }

namespace {

// The records of a run, as the sidecar's "genes" member.
struct GeneEntries {
  const std::vector<ReportRecord>& records;
};

}  // namespace

template <typename Member>
void CallsetConverter::_provenance_members(const std::vector<ReportRecord>& results, const std::string& result_sha256,
                                           Member&& member) const {
  JsonDict passthrough = JsonDict::array();
  const JsonDict* configured = find_member(normalizer.rules, "passthrough_sources");
  if (!is_blank(configured)) {
    if (configured->is_array()) {
      passthrough = *configured;
      // Texts compare as unsigned bytes: code-point order.
      std::sort(passthrough.begin(), passthrough.end());
    } else {
      passthrough.push_back(*configured);
    }
  }
  JsonDict mapping_versions = normalizer.mapping_versions();
  if (gene_table) mapping_versions[C::MAPPING_GENE_TABLE] = gene_table->version;

  member("parserVersion", package_version());
  member("resultSha256", result_sha256);
  if (sample) member(C::SAMPLE, *sample);
  member("phenotypeSourcePreference", _source_preference());
  member("mappingVersions", mapping_versions);
  member("passthroughSources", passthrough);
  static const JsonDict no_callers = JsonDict::object();
  member("callers", provenance.is_object() ? provenance : no_callers);
  // A std::set iterates in unsigned-byte order: code-point order.
  member("unmappedTerms", std::vector<std::string>(normalizer.unmapped_terms.begin(), normalizer.unmapped_terms.end()));
  member("genes", GeneEntries{results});
}

JsonDict CallsetConverter::_provenance_document(const std::vector<ReportRecord>& results,
                                                const std::string& result_sha256) const {
  JsonDict document = json_object(10);
  _provenance_members(results, result_sha256, [&](const char* name, const auto& value) {
    using Value = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<Value, GeneEntries>) {
      JsonDict genes = JsonDict::array();
      genes.get_ref<JsonDict::array_t&>().reserve(value.records.size());
      for (const auto& record : value.records) genes.push_back(record.to_provenance());
      document[name] = std::move(genes);
    } else {
      document[name] = JsonDict(value);
    }
  });
  return document;
}

std::string CallsetConverter::_provenance_text(const std::vector<ReportRecord>& results,
                                               const std::string& result_sha256) const {
  JsonTextWriter writer(JsonStyle::Indented, 4096);
  writer.begin_object();
  _provenance_members(results, result_sha256, [&](const char* name, const auto& value) {
    writer.key(name);
    using Value = std::decay_t<decltype(value)>;
    if constexpr (std::is_same_v<Value, GeneEntries>) {
      writer.begin_array();
      for (const auto& record : value.records) record.write_provenance(writer);
      writer.end();
    } else {
      writer.value(value);
    }
  });
  writer.end();
  return writer.take();
}

JsonDict CallsetConverter::_fhir_bundle(const std::vector<ReportRecord>& results, const JsonDict& sidecar,
                                        const std::string& run_time) const {
  FhirBundleBuilder builder;
  builder.records = results;
  builder.sidecar = sidecar;
  for (std::size_t i = 0; i < files_read.size(); ++i) {
    builder.inputs.push_back({files_read[i], i < input_sha256.size() ? input_sha256[i] : std::string()});
  }
  builder.run_time = run_time;
  builder.program_version = package_version();
  builder.sample = sample;
  builder.gene_table = gene_table ? &*gene_table : nullptr;
  builder.hla_separator = normalizer.hla_phenotype_separator();
  return builder.build();
}

}  // namespace callset_converter
