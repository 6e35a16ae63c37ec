#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "CallsetConverter/Models/JsonDict.h"

namespace callset_converter {

// How the FHIR export codes one gene.
struct GeneCodes {
  std::string hgnc_id;  // "HGNC:<number>"
  // PharmVar names this gene's star alleles. Still read, so operators'
  // tables load as before; the Bundle writes no PharmVar code, since one
  // names a single allele, never a gene or a diplotype.
  bool pharmvar_named;
};

// The gene table: per gene symbol its HGNC id and whether PharmVar names its
// alleles. Mapping data like the term tables, but read only for the FHIR
// export, so that an operator's folder of the other tables keeps working
// without it.
class GeneTable {
 public:
  // The table's "version" member, null when it has none.
  JsonDict version;
  std::map<std::string, GeneCodes, std::less<>> genes;

  // Reads {"version": ..., "genes": {SYMBOL: {"hgnc": "HGNC:n", "pharmvar":
  // bool}}}. A malformed entry is an InvalidArgumentError naming `origin`
  // and the gene: a wrong id must never reach a report unnoticed.
  GeneTable(const JsonDict& table, const std::string& origin);

  // The codes for `gene`, or nullptr when the table does not list it.
  const GeneCodes* find(std::string_view gene) const;
};

}  // namespace callset_converter
