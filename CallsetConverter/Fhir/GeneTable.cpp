#include "CallsetConverter/Fhir/GeneTable.h"

#include <regex>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"

namespace callset_converter {

GeneTable::GeneTable(const JsonDict& table, const std::string& origin) : version(nullptr) {
  if (const JsonDict* value = find_member(table, "version")) version = *value;
  const JsonDict* entries = find_member(table, "genes");
  if (entries == nullptr || !entries->is_object()) {
    throw InvalidArgumentError(origin + ": \"genes\" must be an object of gene symbols");
  }
  static const std::regex hgnc_id("HGNC:[1-9][0-9]*");
  for (const auto& [gene, entry] : entries->items()) {
    const JsonDict* hgnc = entry.is_object() ? find_member(entry, "hgnc") : nullptr;
    const JsonDict* pharmvar = entry.is_object() ? find_member(entry, "pharmvar") : nullptr;
    if (hgnc == nullptr || !hgnc->is_string() || !std::regex_match(hgnc->get<std::string>(), hgnc_id) ||
        pharmvar == nullptr || !pharmvar->is_boolean()) {
      std::string message = origin;
      message += ": gene " + gene;
      message += R"( needs "hgnc" (text such as "HGNC:2625") and "pharmvar" (true or false))";
      throw InvalidArgumentError(message);
    }
    genes.emplace(gene, GeneCodes{hgnc->get<std::string>(), pharmvar->get<bool>()});
  }
}

const GeneCodes* GeneTable::find(std::string_view gene) const {
  const auto found = genes.find(gene);
  return found == genes.end() ? nullptr : &found->second;
}

}  // namespace callset_converter
