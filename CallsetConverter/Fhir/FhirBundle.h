#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CallsetConverter/Fhir/GeneTable.h"
#include "CallsetConverter/Models/JsonDict.h"
#include "CallsetConverter/Models/ReportRecord.h"

namespace callset_converter {

// One input file of a run: the path as the run named it, matched against
// ReportRecord::input_file and never written to the Bundle (folders often
// carry patient or project names), and the SHA-256 (hex) of its bytes.
struct BundleInput {
  std::string path;
  std::string sha256;
};

// Builds the FHIR R4 (4.0.1) Bundle of one run, following the HL7 Genomics
// Reporting implementation guide STU3 (3.0.0): a "collection" with one
// Patient, one genomic-report DiagnosticReport, per gene with a star allele
// or an activity one genotype Observation, per gene with an activity one
// therapeutic-implication Observation, one run-level Provenance and one
// Provenance per input file that supplied an Observation's record. Every
// resource carries a generated XHTML narrative. Every entry has a urn:uuid
// fullUrl derived from the run's content (the inputs' digests, the sample,
// the result), never from a path, a clock or a random source, so the same
// inputs give the same Bundle apart from the run time, wherever they lie.
class FhirBundleBuilder {
 public:
  // The run's records, in result order; their warnings become notes.
  std::vector<ReportRecord> records;
  // The run's sidecar document: its "mappingVersions" and "callers" members
  // become Provenance entities (null values left out), "callers.hlaVersion"
  // the version of the GL String codes of pbStarPhase's HLA calls, and "unmappedTerms" ("GENE\tterm")
  // the reason a genotype has no phenotype.
  JsonDict sidecar;
  // The input files, in reading order.
  std::vector<BundleInput> inputs;
  // The run time as a FHIR instant (see fhir_instant).
  std::string run_time;
  // The converter's version, named in the Provenance agent.
  std::string program_version;
  // The sample ID: the Patient's identifier when present.
  std::optional<std::string> sample;
  const GeneTable* gene_table = nullptr;
  // What joins an HLA gene's findings in its activity; each finding becomes
  // a component of its own.
  std::string hla_separator = "; ";

  // The Bundle. A gene missing from the gene table is coded by its symbol
  // only, with a warning in the log.
  JsonDict build() const;
};

// `text` as XHTML character data: the markup characters as entities, and
// the characters XML cannot carry or that are control characters (C0, DEL,
// C1, U+FFFE, U+FFFF) as U+FFFD, so that no input value can break or
// smuggle markup into a narrative.
std::string xhtml_escape(std::string_view text);

// `time` in UTC as a FHIR instant, to the second: "2026-12-08T09:30:00Z".
std::string fhir_instant(std::chrono::system_clock::time_point time);

// A name-based UUID (RFC 9562 version 8, from the SHA-256 of `name`): the
// same name always gives the same UUID.
std::string content_uuid(std::string_view name);

// The coding of the Genomics Reporting value set
// GeneticTherapeuticImplicationsVS whose display equals `activity` ignoring
// case, as {"system", "code", "display"}; nothing when the value set has no
// such answer.
std::optional<JsonDict> therapeutic_implication_coding(std::string_view activity);

}  // namespace callset_converter
