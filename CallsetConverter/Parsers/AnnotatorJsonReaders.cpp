#include "CallsetConverter/Parsers/AnnotatorJsonReaders.h"

#include "CallsetConverter/Support/Errors.h"

namespace callset_converter {

std::vector<CallerStatement> PharmcatPhenotypeJsonParser::parse() const { return {}; }

std::string PharmcatPhenotypeJsonParser::reader_source_name() const { return source_name; }

const JsonDict& PharmcatPhenotypeJsonParser::_extract_genes_by_source(const JsonDict& root) const {
  throw InvalidArgumentError(file_path + ": no gene reports found");
  return root;
}

std::vector<const JsonDict*> PharmcatPhenotypeJsonParser::_iterate_genes(const std::optional<std::string>&,
                                                                          const JsonDict&) const {
  return {};
}

std::optional<CallerStatement> PharmcatPhenotypeJsonParser::_to_caller_statement(
    const JsonDict&, const std::optional<std::string>&) const {
  return std::nullopt;
}

std::vector<std::string> PharmcatPhenotypeJsonParser::_haplotype_names(const JsonDict&) { return {}; }

std::optional<std::string> PharmcatPhenotypeJsonParser::_as_text(const JsonDict&) { return std::nullopt; }

std::string PharmcatReportJsonParser::reader_source_name() const { return source_name; }

JsonDict PharmcatReportJsonParser::read_versions() const { return JsonDict::object(); }

}  // namespace callset_converter
