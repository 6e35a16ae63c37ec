#include "CallsetConverter/Parsers/SummaryTsvReader.h"

namespace callset_converter {

std::vector<CallerStatement> SummaryTsvReader::parse() const { return {}; }

std::string SummaryTsvReader::reader_source_name() const { return source_name; }

}  // namespace callset_converter
