#include "CallsetConverter/Cohort.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <unordered_map>
#include <utility>

#include "CallsetConverter/CallsetConverter.h"
#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/SharedInputs.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/OutputFiles.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace C = HelvaraPgxConstants;

namespace {

constexpr const char* PYPGX_SAMPLE_COLUMN = "pypgx_sample";
// Samples whose files are flushed to disk together: each holds its lock and
// temporary files until the batch is renamed into place.
constexpr std::size_t kBatchSamples = 128;
constexpr std::size_t kProgressEvery = 1000;

// Ids become folder names: no separators, no leading ".".
bool is_sample_id(std::string_view id) {
  const auto allowed = [](char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
           (c == '.' && !first);
  };
  if (id.empty()) return false;
  for (std::size_t i = 0; i < id.size(); ++i) {
    if (!allowed(id[i], i == 0)) return false;
  }
  return true;
}

// The sheet entry as a path from the working directory, in normal form.
std::string sheet_path(const std::string& folder, const std::string& entry) {
  std::string normal = std::filesystem::path(join_path(folder, entry)).lexically_normal().string();
  while (normal.size() > 1 && normal.ends_with('/')) normal.pop_back();
  return normal.empty() ? "." : normal;
}

std::string escape_cell(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

// "[<sample>] " at the start of every line of each record logged while it
// is set, so that a cohort's log can be split by sample.
class SampleLogMark {
 public:
  SampleLogMark() : previous_(Logger::instance().handler()) {
    Logger::instance().set_handler([this](const LogRecord& record) {
      LogRecord marked{record.level, std::string()};
      if (mark_.empty()) {
        marked.message = record.message;
      } else {
        marked.message.reserve(mark_.size() + record.message.size());
        marked.message = mark_;
        for (std::size_t from = 0;;) {
          const std::size_t line_end = record.message.find('\n', from);
          if (line_end == std::string::npos) {
            marked.message.append(record.message, from);
            break;
          }
          marked.message.append(record.message, from, line_end + 1 - from).append(mark_);
          from = line_end + 1;
        }
      }
      if (previous_) {
        previous_(marked);
      } else if (static_cast<int>(marked.level) >= static_cast<int>(LogLevel::WARNING)) {
        std::fwrite(marked.message.data(), 1, marked.message.size(), stderr);
        std::fputc('\n', stderr);
      }
    });
  }
  ~SampleLogMark() { Logger::instance().set_handler(previous_); }
  SampleLogMark(const SampleLogMark&) = delete;
  SampleLogMark& operator=(const SampleLogMark&) = delete;

  void set(const std::string& sample) { mark_ = sample.empty() ? std::string() : "[" + sample + "] "; }

 private:
  LogHandler previous_;
  std::string mark_;
};

// A sample converted and waiting for its batch to be written.
struct PendingSample {
  std::size_t index;
  SampleOutputs outputs;
  std::string output_dir;
};

// The request for every sample: the cohort's members without the cohort.
JsonDict sample_request(const JsonDict& request) {
  for (const char* member : {C::INPUT_FILES, C::SAMPLE}) {
    const JsonDict* value = find_member(request, member);
    if (!is_blank(value)) {
      throw InvalidArgumentError(std::string("Request member ") + member + " cannot be given with " + C::COHORT +
                                 ": the sample sheet names each sample's inputs");
    }
  }
  const JsonDict* input_dir = find_member(request, C::INPUT_DIR);
  if (!is_blank(input_dir) && !(input_dir->is_string() && input_dir->get<std::string>() == ".")) {
    throw InvalidArgumentError(std::string("Request member ") + C::INPUT_DIR + " cannot be given with " + C::COHORT +
                               ": the sample sheet names each sample's inputs");
  }
  JsonDict copy = request;
  copy.erase(C::COHORT);
  return copy;
}

}  // namespace

SampleSheet SampleSheet::read(const std::string& path, std::uint64_t max_size) {
  std::string bytes;
  try {
    bytes = read_file_bytes(path, max_size);
  } catch (const std::exception& error) {
    throw SampleSheetError("Cannot read the sample sheet " + path + ": " + full_message(error));
  }
  std::string_view text = bytes;
  try {
    require_utf8(text, path);
  } catch (const std::exception& error) {
    throw SampleSheetError("The sample sheet " + full_message(error));
  }
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);

  const std::string folder = [&] {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
  }();
  SampleSheet sheet;
  std::unordered_map<std::string, std::uint32_t> path_numbers;    // by normal form
  std::unordered_map<std::string, std::uint32_t> number_of_cell;  // by the cell as written
  std::unordered_map<std::string, std::size_t> first_line_of;
  bool header_seen = false;
  bool has_pypgx_column = false;
  std::size_t number = 0;
  for (std::size_t from = 0; from <= text.size();) {
    const std::size_t end = std::min(text.find('\n', from), text.size());
    std::string_view line = text.substr(from, end - from);
    from = end + 1;
    ++number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (trim(line).empty() || line.starts_with('#')) continue;
    std::vector<std::string> cells = split(line, '\t');
    for (auto& cell : cells) cell = trim(cell);
    const std::string where = path + ", line " + std::to_string(number);
    if (!header_seen) {
      if (to_lower(cells.front()) != "sample") {
        throw SampleSheetError(where + ": the header must start with the column \"sample\", not " +
                               quoted_literal(cells.front()));
      }
      header_seen = true;
      has_pypgx_column = cells.size() > 1 && to_lower(cells[1]) == PYPGX_SAMPLE_COLUMN;
      continue;
    }
    Sample sample;
    if (has_pypgx_column) {
      if (cells.size() > 1 && !cells[1].empty()) sample.pypgx_sample = cells[1];
      if (cells.size() > 1) cells.erase(cells.begin() + 1);
    }
    sample.id = cells.front();
    if (!is_sample_id(sample.id)) {
      throw SampleSheetError(where + ": sample id " + quoted_literal(sample.id) +
                             " must be letters, digits, '.', '_' or '-', not starting with '.'");
    }
    if (const auto found = first_line_of.find(sample.id); found != first_line_of.end()) {
      throw SampleSheetError(where + ": sample " + sample.id + " is listed twice (first on line " +
                             std::to_string(found->second) + ")");
    }
    for (std::size_t i = 1; i < cells.size(); ++i) {
      if (cells[i].empty()) continue;
      // A shared table is written the same way on every line: its path is
      // put in normal form once.
      auto known = number_of_cell.find(cells[i]);
      if (known == number_of_cell.end()) {
        const auto [slot, added] =
            path_numbers.emplace(sheet_path(folder, cells[i]), static_cast<std::uint32_t>(sheet.paths.size()));
        if (added) {
          sheet.paths.push_back(slot->first);
          sheet.uses.push_back(0);
        }
        known = number_of_cell.emplace(cells[i], slot->second).first;
      }
      ++sheet.uses[known->second];
      sample.inputs.push_back(known->second);
    }
    if (sample.inputs.empty())
      throw SampleSheetError(where + ": sample " + sample.id + " lists no input file or directory");
    first_line_of.emplace(sample.id, number);
    sheet.samples.push_back(std::move(sample));
  }
  if (!header_seen) {
    throw SampleSheetError(path + ": no header line; the first line must start with the column \"sample\"");
  }
  if (sheet.samples.empty()) throw SampleSheetError(path + " lists no samples");
  return sheet;
}

std::string cohort_status_text(const std::vector<CohortSampleStatus>& statuses) {
  std::string text = "sample\tstatus\terror\n";
  for (const auto& status : statuses) {
    text += escape_cell(status.sample) + "\t" + (status.ok ? "ok" : "failed") + "\t" + escape_cell(status.error) + "\n";
  }
  return text;
}

std::vector<CohortSampleStatus> run_cohort(const JsonDict& request) {
  const auto start = std::chrono::steady_clock::now();
  const JsonDict* sheet_member = find_member(request, C::COHORT);
  if (is_blank(sheet_member) || !sheet_member->is_string()) {
    throw InvalidArgumentError(std::string("Request member ") + C::COHORT + " must be the sample sheet's path");
  }
  CallsetConverter converter(sample_request(request));
  const SampleSheet sheet = SampleSheet::read(sheet_member->get<std::string>(), converter.max_input_size);
  const std::string cohort_dir = converter.output_dir;

  // Every file named by more than one sample is read once, up front, and
  // looked at once: each sample's run takes its identity from here.
  SharedInputs shared(converter.max_input_size, converter.fhir);
  KnownFiles known;
  const auto share = [&](const std::string& path) {
    struct stat info {};
    if (known.contains(path) || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return;
    if (shared.keep(path)) known.emplace(path, std::pair{info.st_dev, info.st_ino});
  };
  for (std::size_t i = 0; i < sheet.paths.size(); ++i) {
    if (sheet.uses[i] > 1) share(sheet.paths[i]);
  }
  converter.shared_inputs = &shared;
  converter.known_files = &known;
  log_debug("Holding %d bytes of shared inputs", shared.kept_size());

  std::vector<CohortSampleStatus> statuses(sheet.samples.size());
  std::size_t failed = 0;
  SampleLogMark mark;
  const auto fail = [&](std::size_t index, const std::exception& error) {
    statuses[index].ok = false;
    statuses[index].error = full_message(error);
    ++failed;
    log_debug("Sample %s failed", sheet.samples[index].id);
  };

  std::vector<PendingSample> pending;
  // Each batch's renames reach the disk with the next batch's files.
  UnflushedRenames renames;
  const auto write_batch = [&] {
    std::vector<FileSet> sets;
    std::vector<std::unique_ptr<CreatedDirectories>> created(pending.size());
    for (std::size_t p = 0; p < pending.size(); ++p) {
      try {
        created[p] = std::make_unique<CreatedDirectories>(pending[p].output_dir);
        sets.push_back(std::move(pending[p].outputs.files));
        sets.back().in_new_directory = created[p]->made();
      } catch (const std::exception& error) {
        fail(pending[p].index, error);
        sets.emplace_back();
      }
    }
    // The batch holds the status file's lock throughout and lends it to its
    // samples: a second cohort run into the same folder takes turns with it.
    const std::vector<FileSetOutcome> outcomes =
        write_file_sets(sets, join_path(cohort_dir, COHORT_STATUS_FILE), &renames);
    for (std::size_t p = 0; p < pending.size(); ++p) {
      if (!created[p]) continue;
      const std::size_t index = pending[p].index;
      mark.set(sheet.samples[index].id);
      try {
        if (outcomes[p].error) std::rethrow_exception(outcomes[p].error);
        created[p]->keep();
        pending[p].outputs.files = std::move(sets[p]);
        converter.log_written(pending[p].outputs, outcomes[p].removed);
        statuses[index].ok = true;
      } catch (const std::exception& error) {
        mark.set("");
        fail(index, error);
      }
      mark.set("");
    }
    pending.clear();
  };

  for (std::size_t index = 0; index < sheet.samples.size(); ++index) {
    const SampleSheet::Sample& sample = sheet.samples[index];
    statuses[index].sample = sample.id;
    mark.set(sample.id);
    // The sample's own files are looked at once, here, and known for its run.
    std::vector<std::string> own_files;
    const auto forget_own_files = [&] {
      for (const auto& file : own_files) known.erase(file);
    };
    try {
      std::vector<std::string> inputs;
      bool one_directory = false;
      for (const std::uint32_t number : sample.inputs) {
        const std::string& input = sheet.paths[number];
        inputs.push_back(input);
        if (known.contains(input)) continue;
        struct stat info {};
        if (::stat(input.c_str(), &info) != 0) {
          // As a one-sample run checks it (a path that cannot be checked is
          // an error of its own).
          if (!path_exists(input)) throw FileNotFoundError("File not found: " + input);
          continue;
        }
        if (S_ISREG(info.st_mode) && known.emplace(input, std::pair{info.st_dev, info.st_ino}).second) {
          own_files.push_back(input);
        }
        // One directory is scanned, as --input-dir; anything else is the
        // list, every file of which is there.
        one_directory = sample.inputs.size() == 1 && S_ISDIR(info.st_mode);
      }
      converter.input_dir = one_directory ? inputs.front() : ".";
      // A list goes to the sample's run as it is; only a directory is resolved.
      converter.input_files.clear();
      converter.output_dir = join_path(cohort_dir, sample.id);
      converter.sample = sample.pypgx_sample;
      converter.forget_earlier_runs();
      const std::vector<std::string> files = one_directory ? converter._resolve_input_files() : std::move(inputs);
      // The files of a folder that several samples name are read once too,
      // when the first of them reaches it.
      if (one_directory && sheet.uses[sample.inputs.front()] > 1) {
        for (const auto& file : files) share(file);
      }
      SampleOutputs outputs = converter.convert_sample(files);
      pending.push_back({index, std::move(outputs), converter.output_dir});
      mark.set("");
      log_debug("Sample %s converted", sample.id);
    } catch (const std::exception& error) {
      mark.set("");
      fail(index, error);
    }
    forget_own_files();
    if (pending.size() >= kBatchSamples) write_batch();
    if ((index + 1) % kProgressEvery == 0) {
      log_info("Cohort: %d of %d samples done, %d failed", index + 1, sheet.samples.size(), failed);
    }
  }
  write_batch();
  // Every result is on disk before the status file says so.
  renames.flush();

  CreatedDirectories created(cohort_dir);
  write_files_together({{join_path(cohort_dir, COHORT_STATUS_FILE), cohort_status_text(statuses)}});
  created.keep();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.2f", seconds);
  log_info("Cohort of %d samples: %d converted, %d failed in %s s; status in %s", statuses.size(),
           statuses.size() - failed, failed, elapsed, join_path(cohort_dir, COHORT_STATUS_FILE));
  return statuses;
}

}  // namespace callset_converter
