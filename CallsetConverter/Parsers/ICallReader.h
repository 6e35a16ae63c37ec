#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/Models/CallerStatement.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Parsers/SampleRows.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/JsonLoading.h"

namespace callset_converter {

// The abstract reader: one object per input file, turning that file into
// caller statements in the caller's own vocabulary. Readers select (the
// first of several candidates, non-blank entries) but never translate.
//
// Each reader class has one fixed caller identifier: the class constant
// `source_name`, also reachable through any reader object as
// reader_source_name().
class ICallReader {
 public:
  static constexpr const char* source_name = "unknown";

  // The path exactly as given; used to open the file and in messages.
  const std::string file_path;
  // The most bytes the file may hold (see read_file_bytes); the dispatcher
  // sets the run's limit.
  std::uint64_t max_input_size = kDefaultMaxInputSize;

  // Checks, in order and without opening anything: an absent or empty path
  // raises InvalidArgumentError "file_path cannot be empty"; a path where
  // nothing exists raises FileNotFoundError "File not found: <path>" (any
  // existing entry passes, a directory included); a path that cannot be
  // checked raises IoError (see path_exists).
  explicit ICallReader(const std::optional<std::string>& file_path);
  // The same checks; a null pointer counts as an absent path.
  explicit ICallReader(const char* file_path);
  // A reader of content already read for the run (a cohort's shared table):
  // only the empty path is refused, the file is not looked at again.
  struct ContentHeld {};
  ICallReader(const std::optional<std::string>& file_path, ContentHeld);
  virtual ~ICallReader();

  ICallReader(const ICallReader&) = delete;
  ICallReader& operator=(const ICallReader&) = delete;

  // The statements of the file.
  virtual std::vector<CallerStatement> parse() const = 0;

  // The class's source_name, through the object.
  virtual std::string reader_source_name() const;

  // The versions the file carries, as members of the sidecar's callers
  // object; an empty object for a format that carries none.
  virtual JsonDict read_versions() const;

  // Makes the reader of one sample (--sample) of a file that many samples
  // of one run read, on what was prepared once from the whole file.
  using SampleReaderMaker = std::function<std::unique_ptr<ICallReader>(const std::optional<std::string>& sample)>;
  // For a file that many samples of one run read: prepares once what each
  // sample's reader needs (a multi-sample format's rows indexed by sample),
  // taking this reader's bytes, and returns the maker of those readers;
  // nothing when the format has nothing to prepare (each sample's reader
  // then reads the bytes whole). Raises what parse raises for a file that
  // cannot be prepared.
  virtual SampleReaderMaker _prepare_for_samples();
  // The maker of readers `Reader(file_path, sample, prepared)` with this
  // reader's size limit, for _prepare_for_samples.
  template <typename Reader, typename Prepared>
  SampleReaderMaker _maker_on(std::shared_ptr<const Prepared> prepared) const {
    return [path = file_path, limit = max_input_size, prepared](const std::optional<std::string>& sample) {
      auto reader = std::make_unique<Reader>(path, sample, prepared);
      reader->max_input_size = limit;
      return std::unique_ptr<ICallReader>(std::move(reader));
    };
  }

  // The SHA-256 (hex) of the file's bytes: the digest handed over by
  // _adopt_content_sha256 (a file read once for a run), else taken here.
  std::string _content_sha256() const;
  void _adopt_content_sha256(std::string digest) { content_sha256_ = std::move(digest); }

  // The file's bytes. The file is opened and read once, on first use (or
  // handed over by _adopt_bytes); parse, read_versions and every later call
  // share these bytes, so a named pipe that can be read only once works like
  // a regular file. Raises what read_file_bytes raises.
  const std::string& _bytes() const;
  // Gives the reader the bytes of file_path, already read by whoever chose
  // it, so the file is not opened a second time.
  void _adopt_bytes(std::string bytes);
  // Hands the bytes (read now if they were not) over to the caller; a later
  // use reads the file again.
  std::string _take_bytes();
  // The bytes as UTF-8 text (TextDecodeError naming file_path otherwise),
  // without a leading byte-order mark when `skip_bom` is set.
  std::string_view _text(bool skip_bom) const;

  // The file as one JSON document, whatever its root. File-system failures
  // and undecodable bytes pass unchanged; invalid JSON (a leading byte-order
  // mark included) raises InvalidArgumentError "<path> is not valid JSON:
  // <parser description>" with the parser's error nested as its cause.
  // Documents nested more than 1000 levels deep are refused the same way.
  JsonDict _load_json() const;
  // The same load, validating the whole file with the same errors, but
  // building only the parts `selection` names (see JsonSelection): a reader
  // that looks at a few members of a large document pays for one scan of it.
  JsonDict _load_json(const JsonSelection& selection) const;
  // The same load, parsed at the first call only: later calls with the same
  // `selection`, which must outlive the reader (a static), get a copy of
  // that document. A reader whose calls and versions read one document
  // parses a large file once.
  JsonDict _load_json_once(const JsonSelection& selection) const;

  // One WARNING record "Skipping <gene>: <reason>".
  static void _log_skip(const std::string& gene, const std::string& reason);

  // The warning of a call the caller could not narrow to one diplotype:
  // "ambiguous: N possible diplotypes: a, b", candidates as given.
  static std::string _ambiguous_warning(const std::vector<std::string>& candidates);

  // "N sample(s): 'A', 'B', ..." for the distinct `samples` in order of
  // first appearance, the first five named.
  static std::string _samples_held(const std::vector<std::string_view>& samples);

  // The sample whose calls a file that may hold several is read for:
  // `samples` are the sample names of its rows in file order (repeats
  // allowed). The chosen one (--sample) when given, else the only one. So
  // that no patient's call is taken for another's, InvalidArgumentError
  // naming file_path when the chosen sample has no row, or when none is
  // chosen and the rows name more than one sample.
  std::string _choose_sample(const std::vector<std::string_view>& samples,
                             const std::optional<std::string>& chosen) const;
  // The same over a table's index of rows by sample: the chosen sample's
  // rows in file order (none when the table has no rows).
  std::vector<SampleRows::Row> _rows_of_chosen_sample(const SampleRows& rows,
                                                      const std::optional<std::string>& chosen) const;

 private:
  mutable std::optional<std::string> bytes_;
  std::optional<std::string> content_sha256_;
  mutable bool checked_utf8_ = false;
  mutable const JsonSelection* document_selection_ = nullptr;
  mutable std::optional<JsonDict> document_;
};

}  // namespace callset_converter
