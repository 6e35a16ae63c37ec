#include "CallsetConverter/Parsers/SharedInputs.h"

#include <exception>
#include <utility>

#include "CallsetConverter/Parsers/FormatDispatcher.h"
#include "CallsetConverter/Support/Digest.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Log.h"

namespace callset_converter {

bool SharedInputs::keep(const std::string& path) {
  if (kept_.contains(path)) return true;
  try {
    std::string bytes = read_file_bytes(path, max_input_size_);
    Kept kept;
    kept.size = bytes.size();
    if (digests_) kept.sha256 = sha256_hex(bytes);
    // Chosen as for any sample (the format does not depend on which), and
    // prepared once for all of them where the format allows.
    const std::unique_ptr<ICallReader> reader =
        FormatDispatcher::get_parser(path, std::nullopt, max_input_size_, bytes);
    kept.reader_for = reader->_prepare_for_samples();
    if (!kept.reader_for) kept.bytes = std::move(bytes);
    kept_.emplace(path, std::move(kept));
    return true;
  } catch (const std::exception& error) {
    log_debug("Not keeping %s for the run: %s", path, std::string(error.what()));
    return false;
  }
}

std::unique_ptr<ICallReader> SharedInputs::get_parser(const std::string& path,
                                                      const std::optional<std::string>& sample) const {
  const auto found = kept_.find(path);
  if (found == kept_.end()) return FormatDispatcher::get_parser(path, sample, max_input_size_);
  const Kept& kept = found->second;
  std::unique_ptr<ICallReader> reader = kept.reader_for
                                            ? kept.reader_for(sample)
                                            : FormatDispatcher::get_parser(path, sample, max_input_size_, kept.bytes);
  if (digests_) reader->_adopt_content_sha256(kept.sha256);
  return reader;
}

std::size_t SharedInputs::kept_size() const {
  std::size_t total = 0;
  for (const auto& [path, kept] : kept_) total += kept.size;
  return total;
}

}  // namespace callset_converter
