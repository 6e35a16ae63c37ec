#include "CallsetConverter/Parsers/SummaryJsonReader.h"

namespace callset_converter {

std::vector<CallerStatement> SummaryJsonReader::parse() const { return {}; }

std::string SummaryJsonReader::reader_source_name() const { return source_name; }

JsonDict SummaryJsonReader::read_versions() const { return JsonDict::object(); }

}  // namespace callset_converter
