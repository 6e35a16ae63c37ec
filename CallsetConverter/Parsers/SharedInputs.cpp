#include "CallsetConverter/Parsers/SharedInputs.h"

#include <exception>
#include <utility>

#include "CallsetConverter/Parsers/FormatDispatcher.h"
#include "CallsetConverter/Parsers/SampleTableIndex.h"
#include "CallsetConverter/Support/Files.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

bool SharedInputs::keep(const std::string& path) {
  if (kept_.contains(path)) return true;
  try {
    std::string bytes = read_file_bytes(path, max_input_size_);
    Kept kept;
    if (ends_with(to_lower(base_name(path)), ".tsv") && !FormatDispatcher::_is_pharmcat_tsv(bytes) &&
        FormatDispatcher::_is_pypgx_tsv(path, bytes)) {
      kept.table = std::make_shared<const SampleTableIndex>(path, std::move(bytes));
    } else {
      kept.bytes = std::move(bytes);
    }
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
  if (!found->second.table) return FormatDispatcher::get_parser(path, sample, max_input_size_, found->second.bytes);
  auto reader = std::make_unique<SampleTableReader>(path, sample, found->second.table);
  reader->max_input_size = max_input_size_;
  return reader;
}

std::size_t SharedInputs::memory_bytes() const {
  std::size_t total = 0;
  for (const auto& [path, kept] : kept_) total += kept.table ? kept.table->memory_bytes() : kept.bytes.capacity();
  return total;
}

}  // namespace callset_converter
