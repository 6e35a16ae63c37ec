#include "CallsetConverter/Parsers/TermHarmonizer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string_view>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Mappings.h"
#include "CallsetConverter/Support/Errors.h"
#include "CallsetConverter/Support/Json.h"
#include "CallsetConverter/Support/Log.h"
#include "CallsetConverter/Support/Text.h"

namespace callset_converter {

namespace {

// The core allele of a sub-allele such as *2.001: a star and digits (the
// core, *2), a full stop and more digits, nothing else; allele numbers are
// ASCII. Nothing when `allele` is not shaped so. Matched by hand: the
// standard regular-expression engine recurses once per character and would
// exhaust the stack on a long diplotype.
std::optional<std::string_view> suballele_core(std::string_view allele) {
  const auto digits_from = [&](std::size_t start) {
    std::size_t end = start;
    while (end < allele.size() && allele[end] >= '0' && allele[end] <= '9') ++end;
    return end;
  };
  if (allele.empty() || allele.front() != '*') return std::nullopt;
  const std::size_t point = digits_from(1);
  if (point == 1 || point == allele.size() || allele[point] != '.') return std::nullopt;
  const std::size_t end = digits_from(point + 1);
  if (end == point + 1 || end != allele.size()) return std::nullopt;
  return allele.substr(0, point);
}

constexpr std::size_t DEFAULT_HLA_FIELDS = 2;
constexpr const char* DEFAULT_HLA_SEPARATOR = "; ";

// The member `key` of `table` as an object, or nullptr when it is missing,
// blank or not an object: such a member maps nothing.
const JsonDict* object_member(const JsonDict* table, std::string_view key) {
  if (table == nullptr) return nullptr;
  const JsonDict* value = find_member(*table, key);
  if (is_blank(value) || !value->is_object()) return nullptr;
  return value;
}

// The text entries of the list member `key`, for exact, case-sensitive
// lookups; a blank or non-list member holds nothing.
std::set<std::string, std::less<>> text_set(const JsonDict& table, std::string_view key) {
  std::set<std::string, std::less<>> items;
  const JsonDict* list = find_member(table, key);
  if (is_blank(list) || !list->is_array()) return items;
  for (const auto& item : *list) {
    if (item.is_string()) items.insert(item.get<std::string>());
  }
  return items;
}

JsonDict load_gene_rules(std::uint64_t max_input_size) {
  log_mappings_source();
  return load_mapping(HelvaraPgxConstants::MAPPING_GENE_RULES, max_input_size);
}

// The quoted literal of a text (std::string converts to both the text and
// the optional overloads, so pick the text one).
std::string literal(std::string_view text) { return quoted_literal(text); }

// The text a mapping entry holds: absent for null. Any other kind is a fault
// of the table that would otherwise reach the report in a wrong form.
std::optional<std::string> mapped_text(const JsonDict& value, const char* table, const std::string& where,
                                       const std::string& key) {
  if (value.is_null()) return std::nullopt;
  if (value.is_string()) return value.get<std::string>();
  throw InvalidArgumentError(std::string(table) + ": " + where + " maps " + literal(key) + " to " +
                             to_json_text(value, JsonStyle::Compact) + "; a mapped term must be text or null");
}

std::string unmapped_entry(const std::string& gene, const std::string& term) { return gene + "\t" + term; }

std::string using_the_first(std::size_t count) {
  return std::to_string(count) + " phenotypes reported; using the first";
}

std::string value_text(const JsonDict& value) {
  return value.is_string() ? literal(value.get_ref<const std::string&>()) : to_json_text(value, JsonStyle::Compact);
}

// hla_allele_fields read as a positive integer (a number or the text of
// one); blank gives the default. Anything else is a configuration fault that
// would silently change the reported alleles, so it is raised.
std::size_t hla_allele_fields(const JsonDict& rules) {
  constexpr const char* member = "hla_allele_fields";
  const JsonDict* value = find_member(rules, member);
  if (is_blank(value)) return DEFAULT_HLA_FIELDS;
  constexpr auto most = std::numeric_limits<std::size_t>::max();
  if (value->is_number_unsigned()) {
    const auto number = value->get<std::uint64_t>();
    return number > most ? most : static_cast<std::size_t>(number);
  }
  if (value->is_number_integer()) {
    const auto number = value->get<std::int64_t>();
    if (number > 0) return static_cast<std::size_t>(number);
  } else if (value->is_number_float()) {
    const double number = value->get<double>();
    if (std::isfinite(number) && number >= 1 && number == std::floor(number)) {
      return number >= static_cast<double>(most) ? most : static_cast<std::size_t>(number);
    }
  } else if (const auto exact = exact_integer_text(*value)) {
    // Beyond 64 bits: larger than any allele has fields.
    if (!exact->starts_with('-')) return most;
  } else if (value->is_string()) {
    const std::string text = trim(value->get_ref<const std::string&>());
    std::size_t number = 0;
    bool digits = !text.empty();
    for (const char c : text) {
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      const auto digit = static_cast<std::size_t>(c - '0');
      number = number > (most - digit) / 10 ? most : number * 10 + digit;
    }
    if (digits && number > 0) return number;
  }
  throw InvalidArgumentError(std::string(HelvaraPgxConstants::MAPPING_GENE_RULES) + ": " + member +
                             " must be a positive integer or the text of one, not " + value_text(*value));
}

std::string hla_separator(const JsonDict& rules) {
  constexpr const char* member = "hla_join_phenotypes_with";
  const JsonDict* value = find_member(rules, member);
  if (is_blank(value)) return DEFAULT_HLA_SEPARATOR;
  if (value->is_string()) return value->get<std::string>();
  throw InvalidArgumentError(std::string(HelvaraPgxConstants::MAPPING_GENE_RULES) + ": " + member +
                             " must be text, not " + value_text(*value));
}

}  // namespace

TermHarmonizer::TermHarmonizer() : TermHarmonizer(kDefaultMaxInputSize) {}

TermHarmonizer::TermHarmonizer(std::uint64_t max_input_size)
    : rules(load_gene_rules(max_input_size)),
      phenotype_terms(load_mapping(HelvaraPgxConstants::MAPPING_PHENOTYPE_TERMS, max_input_size)),
      genotype_terms(load_mapping(HelvaraPgxConstants::MAPPING_GENOTYPE_TERMS, max_input_size)),
      rule_sets_(_rule_sets(rules)) {}

TermHarmonizer::RuleSets TermHarmonizer::_rule_sets(const JsonDict& rules) {
  return RuleSets{text_set(rules, "passthrough_sources"), text_set(rules, "no_call_tokens"),
                  text_set(rules, "single_allele_genes"), text_set(rules, "genotype_guided_genes"),
                  text_set(rules, "hla_genes")};
}

JsonDict TermHarmonizer::mapping_versions() const {
  const auto version = [](const JsonDict& table) {
    const JsonDict* value = find_member(table, "version");
    return value == nullptr ? JsonDict(nullptr) : *value;
  };
  JsonDict versions = JsonDict::object();
  versions[HelvaraPgxConstants::MAPPING_GENE_RULES] = version(rules);
  versions[HelvaraPgxConstants::MAPPING_PHENOTYPE_TERMS] = version(phenotype_terms);
  versions[HelvaraPgxConstants::MAPPING_GENOTYPE_TERMS] = version(genotype_terms);
  return versions;
}

ReportRecord TermHarmonizer::normalize(const CallerStatement& call) {
  ReportRecord result(call.gene, std::nullopt, std::nullopt, call.source, call.phenotype_source);
  result.input_file = call.input_file;
  for (const auto& warning : call.warnings) result.add_warning(warning);
  if (is_passthrough(call.source)) return _passthrough(call, result);
  // The star allele is settled before the activity, which may read it, so
  // star-allele warnings come first on the record.
  if (_is_genotype_guided(call.gene)) {
    result.star_allele = _genotype_guided_star_allele(call, result);
    result.activity = _genotype_guided_activity(call.gene, result);
  } else if (_is_hla(call.gene)) {
    result.star_allele = _hla_star_allele(call);
    result.activity = _map_phenotypes(call, result, true);
  } else {
    result.star_allele = _star_allele(call, result);
    result.activity = _map_phenotypes(call, result);
  }
  return result;
}

std::string TermHarmonizer::hla_phenotype_separator() const { return hla_separator(rules); }

bool TermHarmonizer::is_passthrough(const std::optional<std::string>& source) const {
  if (!source || source->empty()) return false;
  return rule_sets_.passthrough_sources.contains(*source);
}

bool TermHarmonizer::is_no_call(const std::optional<std::string>& value) const {
  if (!value) return true;
  return rule_sets_.no_call_tokens.contains(trim(*value));
}

void TermHarmonizer::log_unmapped() const {
  if (unmapped_terms.empty()) return;
  // std::set keeps its entries in byte order, which for UTF-8 is code-point
  // order.
  std::vector<std::string> lines;
  lines.reserve(unmapped_terms.size());
  for (const auto& entry : unmapped_terms) lines.push_back("  " + entry);
  log_warning("%d term(s) have no Helvara mapping yet:\n%s", unmapped_terms.size(), LogArg::lines(std::move(lines)));
}

ReportRecord& TermHarmonizer::_passthrough(const CallerStatement& call, ReportRecord& result) const {
  // The caller already speaks the report's vocabulary: its values are kept
  // exactly as written.
  result.star_allele = call.diplotype;
  result.activity = call.phenotypes.empty() ? std::nullopt : std::optional<std::string>(call.phenotypes.front());
  if (call.phenotypes.size() > 1) result.add_warning(using_the_first(call.phenotypes.size()));
  return result;
}

std::vector<std::string> TermHarmonizer::_split(const std::string& diplotype) const {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  while (start <= diplotype.size()) {
    std::size_t end = diplotype.find('/', start);
    if (end == std::string::npos) end = diplotype.size();
    std::string piece = trim(std::string_view(diplotype).substr(start, end - start));
    if (!piece.empty()) pieces.push_back(std::move(piece));
    start = end + 1;
  }
  return pieces;
}

std::string TermHarmonizer::_strip_suballele(const std::string& allele) const {
  if (is_blank(find_member(rules, "strip_suballele_suffix"))) return allele;
  // A "+" combination (pbStarPhase 2.0 writes *68+*4.001) names several
  // alleles; each loses its own suffix, so that the same call reads alike
  // from every caller.
  if (allele.find('+') != std::string::npos) {
    std::vector<std::string> parts;
    for (auto& part : split(allele, '+')) {
      const std::string trimmed = trim(part);
      const auto core = suballele_core(trimmed);
      parts.push_back(core ? std::string(*core) : std::move(part));
    }
    return join(parts, "+");
  }
  const std::string trimmed = trim(allele);
  if (const auto core = suballele_core(trimmed)) return std::string(*core);
  return allele;
}

std::optional<std::string> TermHarmonizer::_star_allele(const CallerStatement& call, ReportRecord& result) const {
  if (is_no_call(call.diplotype)) {
    result.add_warning("no diplotype called");
    return std::nullopt;
  }
  std::vector<std::string> alleles;
  for (const auto& piece : _split(*call.diplotype)) alleles.push_back(_strip_suballele(piece));
  if (alleles.empty()) {
    result.add_warning("unparsable diplotype " + quoted_literal(call.diplotype));
    return std::nullopt;
  }
  if (rule_sets_.single_allele_genes.contains(call.gene)) {
    std::vector<std::string> distinct;
    for (const auto& allele : alleles) {
      if (std::find(distinct.begin(), distinct.end(), allele) == distinct.end()) distinct.push_back(allele);
    }
    if (distinct.size() > 1) {
      result.add_warning("single-allele gene reported as a diplotype: " + quoted_literal(call.diplotype));
    }
    return distinct.front();
  }
  return join(alleles, "/");
}

std::optional<std::string> TermHarmonizer::_map_phenotypes(const CallerStatement& call, ReportRecord& result,
                                                           bool join_all) {
  std::vector<std::string> phenotypes;
  for (const auto& phenotype : call.phenotypes) {
    if (!is_no_call(phenotype)) phenotypes.push_back(phenotype);
  }
  if (phenotypes.empty()) {
    const bool has_phenotype_source = call.phenotype_source && !call.phenotype_source->empty();
    result.add_warning("no phenotype from " +
                       (has_phenotype_source ? *call.phenotype_source : text_or_none(call.source)));
    return std::nullopt;
  }
  if (phenotypes.size() > 1 && !join_all) {
    result.add_warning(using_the_first(phenotypes.size()));
    phenotypes.resize(1);
  }
  std::vector<std::string> mapped;
  for (const auto& phenotype : phenotypes) {
    auto term = _lookup_phenotype(call.gene, phenotype);
    if (!term) {
      unmapped_terms.insert(unmapped_entry(call.gene, phenotype));
      result.add_warning("unmapped phenotype term " + literal(phenotype));
      continue;
    }
    mapped.push_back(std::move(*term));
  }
  if (mapped.empty()) return std::nullopt;
  if (!join_all) return mapped.front();
  return join(mapped, hla_separator(rules));
}

std::optional<std::string> TermHarmonizer::_lookup_phenotype(const std::string& gene,
                                                             const std::string& phenotype) const {
  const char* table = HelvaraPgxConstants::MAPPING_PHENOTYPE_TERMS;
  // A term the gene's own mapping lists is decided there, even when it maps
  // to null: a per-gene null deliberately hides the global term.
  if (const JsonDict* per_gene = object_member(object_member(&phenotype_terms, "genes"), gene)) {
    if (const JsonDict* value = find_member(*per_gene, phenotype)) {
      return mapped_text(*value, table, "genes." + gene, phenotype);
    }
  }
  if (const JsonDict* global = object_member(&phenotype_terms, "global")) {
    if (const JsonDict* value = find_member(*global, phenotype)) return mapped_text(*value, table, "global", phenotype);
  }
  return std::nullopt;
}

bool TermHarmonizer::_is_genotype_guided(const std::string& gene) const {
  return rule_sets_.genotype_guided_genes.contains(gene);
}

bool TermHarmonizer::_is_hla(const std::string& gene) const { return rule_sets_.hla_genes.contains(gene); }

std::optional<std::string> TermHarmonizer::_genotype_guided_star_allele(const CallerStatement& call,
                                                                        ReportRecord& result) {
  if (is_no_call(call.diplotype)) {
    result.add_warning("no diplotype called");
    return std::nullopt;
  }
  const JsonDict* allele_map = object_member(object_member(&genotype_terms, "alleles"), call.gene);
  std::vector<std::string> rewritten;
  for (const auto& piece : _split(*call.diplotype)) {
    const JsonDict* value = allele_map == nullptr ? nullptr : find_member(*allele_map, piece);
    const auto name = value == nullptr ? std::nullopt
                                       : mapped_text(*value, HelvaraPgxConstants::MAPPING_GENOTYPE_TERMS,
                                                     "alleles." + call.gene, piece);
    if (!name) {
      // The first unmapped allele ends the rewrite: the diplotype cannot be
      // named, so later alleles are not looked up.
      unmapped_terms.insert(unmapped_entry(call.gene, piece));
      result.add_warning("unmapped allele name " + literal(piece));
      return std::nullopt;
    }
    rewritten.push_back(*name);
  }
  if (rewritten.empty()) return std::nullopt;
  return join(rewritten, "/");
}

std::optional<std::string> TermHarmonizer::_genotype_guided_activity(const std::string& gene, ReportRecord& result) {
  // Without a star allele the star-allele step has already said why.
  if (!result.star_allele || result.star_allele->empty()) return std::nullopt;
  const std::string& diplotype = *result.star_allele;
  const JsonDict* table = object_member(object_member(&genotype_terms, "diplotype_activity"), gene);
  const JsonDict* value = table == nullptr ? nullptr : find_member(*table, diplotype);
  if (value == nullptr) {
    unmapped_terms.insert(unmapped_entry(gene, diplotype));
    result.add_warning("unmapped genotype-guided diplotype " + literal(diplotype));
    return std::nullopt;
  }
  auto activity =
      mapped_text(*value, HelvaraPgxConstants::MAPPING_GENOTYPE_TERMS, "diplotype_activity." + gene, diplotype);
  if (!activity) {
    unmapped_terms.insert(unmapped_entry(gene, diplotype));
    result.add_warning("genotype-guided diplotype " + literal(diplotype) + " has no Helvara term yet");
  }
  return activity;
}

std::optional<std::string> TermHarmonizer::_hla_star_allele(const CallerStatement& call) const {
  if (is_no_call(call.diplotype)) return std::nullopt;
  const std::size_t fields = hla_allele_fields(rules);
  std::vector<std::string> pieces;
  for (const auto& piece : _split(*call.diplotype)) {
    // Only star-led alleles are cut to their fields; an allele written with
    // its gene name in front is kept whole. pbStarPhase's summary JSON writes
    // its HLA alleles without the star (01:01:01:01), its TSV with it: both
    // read alike.
    const bool starless_pbstarphase =
        call.source == HelvaraPgxConstants::CALLER_PBSTARPHASE && piece.front() >= '0' && piece.front() <= '9';
    if (piece.front() != '*' && !starless_pbstarphase) {
      pieces.push_back(piece);
      continue;
    }
    const std::size_t first = piece.find_first_not_of('*');
    const std::string_view rest =
        first == std::string::npos ? std::string_view() : std::string_view(piece).substr(first);
    std::string truncated = "*";
    std::size_t start = 0;
    for (std::size_t kept = 0; kept < fields; ++kept) {
      const std::size_t colon = rest.find(':', start);
      if (kept > 0) truncated += ':';
      truncated += rest.substr(start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
      if (colon == std::string_view::npos) break;
      start = colon + 1;
    }
    pieces.push_back(std::move(truncated));
  }
  if (pieces.empty()) return std::nullopt;
  return join(pieces, "/");
}

}  // namespace callset_converter
