#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "CallsetConverter/Fhir/GeneTable.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Models/ReportRecord.h"

namespace callset_converter {

// Builds the FHIR R4 (4.0.1) Bundle of one run, following the HL7 Genomics
// Reporting implementation guide STU3 (3.0.0): a "collection" with one
// Patient, one genomic-report DiagnosticReport, per gene with a star allele
// one genotype Observation, per gene with a star allele and an activity one
// therapeutic-implication Observation, and one Provenance. Every entry has a
// urn:uuid fullUrl derived from the run's content, never from a clock or a
// random source, so the same inputs give the same Bundle apart from the
// run time.
class FhirBundleBuilder {
 public:
  // The run's records, in result order.
  std::vector<ReportRecord> records;
  // The run's sidecar document: its "mappingVersions" and "callers" members
  // become Provenance entities.
  JsonDict sidecar;
  // The input files, as given.
  std::vector<std::string> input_paths;
  // The run time as a FHIR instant (see fhir_instant).
  std::string run_time;
  // The converter's version, named in the Provenance agent.
  std::string program_version;
  // The sample ID: the Patient's identifier when present.
  std::optional<std::string> sample;
  const GeneTable* gene_table = nullptr;

  // The Bundle. A gene missing from the gene table is coded by its symbol
  // only, with a warning in the log.
  JsonDict build() const;
};

// `time` in UTC as a FHIR instant, to the second: "2026-12-08T09:30:00Z".
std::string fhir_instant(std::chrono::system_clock::time_point time);

// A name-based UUID (RFC 9562 version 8) for `name`: the same name always
// gives the same UUID.
std::string content_uuid(std::string_view name);

// The coding of the Genomics Reporting value set
// GeneticTherapeuticImplicationsVS whose display equals `activity` ignoring
// case, as {"system", "code", "display"}; nothing when the value set has no
// such answer.
std::optional<JsonDict> therapeutic_implication_coding(std::string_view activity);

}  // namespace callset_converter
