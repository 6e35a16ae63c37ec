#include "CallsetConverter/Parsers/SummaryTsvReader.h"

#include <utility>

#include "CallsetConverter/Support/DelimitedText.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

// The pieces of a diplotype between its "/" separators, empty pieces left
// out, each piece as written.
std::vector<std::string> split_haplotypes(const std::string& diplotype) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= diplotype.size()) {
    std::size_t end = diplotype.find('/', start);
    if (end == std::string::npos) end = diplotype.size();
    if (end > start) pieces.push_back(diplotype.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

}  // namespace

std::vector<CallerStatement> SummaryTsvReader::parse() const {
  std::vector<CallerStatement> statements;
  for (const TextRow& row : read_delimited_rows(_text(/*skip_bom=*/true), kTabSeparated)) {
    if (row.empty()) continue;
    std::string gene = trim(row[0]);
    // Header ("#gene") and comment rows, and rows without a gene.
    if (gene.empty() || gene.front() == '#') continue;
    std::string diplotype = row.size() >= 2 ? trim(row[1]) : std::string();
    if (diplotype.empty()) {
      _log_skip(gene, "no diplotype called");
      continue;
    }
    std::vector<std::string> haplotypes = split_haplotypes(diplotype);
    statements.emplace_back(std::move(gene), std::move(diplotype), std::move(haplotypes), std::vector<std::string>{},
                            reader_source_name());
  }
  if (statements.empty()) throw InvalidArgumentError(file_path + ": no usable rows");
  return statements;
}

std::string SummaryTsvReader::reader_source_name() const { return source_name; }

}  // namespace callset_converter
