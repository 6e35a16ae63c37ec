#include "CallsetConverter/Fhir/GeneTable.h"

#include <algorithm>
#include <string_view>

#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"

namespace callset_converter {

namespace {

// "HGNC:" and a whole number without leading zeros.
bool is_hgnc_id(std::string_view text) {
  constexpr std::string_view prefix = "HGNC:";
  if (!text.starts_with(prefix)) return false;
  const std::string_view number = text.substr(prefix.size());
  return !number.empty() && number.front() != '0' &&
         std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

GeneTable::GeneTable(const JsonDict& table, const std::string& origin) : version(nullptr) {
  if (const JsonDict* value = find_member(table, "version")) version = *value;
  const JsonDict* entries = find_member(table, "genes");
  if (entries == nullptr || !entries->is_object()) {
    throw InvalidArgumentError(origin + ": \"genes\" must be an object of gene symbols");
  }
  for (const auto& [gene, entry] : entries->items()) {
    const JsonDict* hgnc = entry.is_object() ? find_member(entry, "hgnc") : nullptr;
    const JsonDict* pharmvar = entry.is_object() ? find_member(entry, "pharmvar") : nullptr;
    if (hgnc == nullptr || !hgnc->is_string() || !is_hgnc_id(hgnc->get_ref<const std::string&>()) ||
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
