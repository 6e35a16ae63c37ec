#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "CallsetConverter/HelvaraPgxConstants.h"
#include "CallsetConverter/Parsers/ICallReader.h"

namespace callset_converter {

// Reads <sample>.pharmcat.phenotype.json: one statement per usable gene
// report and phenotype source, in PharmCAT's own words.
//
// The gene container comes in two shapes. Up to PharmCAT 3.0 its members
// are phenotype sources ("CPIC", "DPWG"), each holding a gene collection (an
// object or an array of gene reports). From PharmCAT 3.1 its members are the
// gene reports themselves, keyed by gene symbol, without a source level.
// Each member is read by its own shape, so a container mixing both works.
// The statements of the root's unannotatedGeneCalls follow those of the
// container.
class PharmcatPhenotypeJsonParser : public ICallReader {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_PHARMCAT_PHENOTYPE;
  // Root members that may hold the gene container, in the order tried.
  static constexpr std::array<const char*, 2> _root_keys = {"geneReports", "genes"};
  // Root member (PharmCAT 3.0 and later) listing the gene reports of genes
  // called without a guideline annotation.
  static constexpr const char* UNANNOTATED_KEY = "unannotatedGeneCalls";

  using ICallReader::ICallReader;

  std::vector<CallerStatement> parse() const override;
  std::string reader_source_name() const override;

  // The statements of `root`, the file's document: parse gives those of
  // the parts of it that they are read from, loaded without the rest.
  std::vector<CallerStatement> _statements_of(const JsonDict& root) const;

  // The gene container (an object) under "geneReports", "genes" or
  // "report"."genes". InvalidArgumentError when the root is not an object or
  // no container is found.
  const JsonDict& _extract_genes_by_source(const JsonDict& root) const;
  // Whether a container member is itself one gene report (an object with a
  // "geneSymbol" member) rather than a phenotype source's gene collection.
  static bool _is_gene_report(const JsonDict& member_value);
  // The object-valued gene reports of one gene collection, in order.
  std::vector<const JsonDict*> _iterate_genes(const std::optional<std::string>& phenotype_source,
                                              const JsonDict& genes) const;
  // One statement from a gene report, or nothing when the report is
  // dropped (logged). `phenotype_source` names the container member the
  // report came from; it is absent for a report keyed by gene symbol.
  // Several source diplotypes with exactly one recommendation diplotype (an
  // unphased call) give the recommendation diplotype; otherwise the first
  // source diplotype, with an "ambiguous: ..." warning when there are
  // several. MalformedStructureError when the report's diplotypes are not
  // shaped as PharmCAT writes them.
  std::optional<CallerStatement> _to_caller_statement(const JsonDict& gene_report,
                                                      const std::optional<std::string>& phenotype_source) const;
  // Appends the statements of the root's unannotated gene calls, read as
  // gene reports of this reader, marked unannotated and without a phenotype
  // source. MalformedStructureError when the member is not a list.
  void _add_unannotated_calls(const JsonDict& root, std::vector<CallerStatement>& statements) const;
  // Logs that the first of several source diplotypes of `gene` is used and
  // returns the statement's warning naming all their `labels`.
  static std::string _first_of_several(const std::string& gene, const std::optional<std::string>& phenotype_source,
                                       const std::vector<std::string>& labels);
  // The non-blank "name" of "allele1" and then "allele2".
  static std::vector<std::string> _haplotype_names(const JsonDict& diplotype);
  // Text unchanged, null as nothing, any other value as its text form
  // (2, 2.0, 1e-05, True; arrays and objects as compact JSON).
  static std::optional<std::string> _as_text(const JsonDict& value);
};

// Reads <sample>.pharmcat.report.json: the same gene reports, plus the
// versions of PharmCAT and its data.
class PharmcatReportJsonParser : public PharmcatPhenotypeJsonParser {
 public:
  static constexpr const char* source_name = HelvaraPgxConstants::CALLER_PHARMCAT_REPORT;

  using PharmcatPhenotypeJsonParser::PharmcatPhenotypeJsonParser;

  std::string reader_source_name() const override;

  // {"pharmcatVersion", "dataVersion", "title", "timestamp"}, each copied
  // from the root (null when absent; "timestamp" from "generatedOn" when the
  // root has no "timestamp" member), then "pharmcatCpicVersion" and
  // "pharmcatDpwgVersion" from "cpicVersion" and "dpwgVersion" where the
  // root holds them (not null). MalformedStructureError when the root is not
  // an object.
  JsonDict read_versions() const override;
};

}  // namespace callset_converter
