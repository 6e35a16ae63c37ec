#pragma once

// The named constants of the system. Every module refers to these values by
// name only. The caller identifiers and provenance member names appear in
// the provenance sidecar, so they are part of its format.

namespace callset_converter::HelvaraPgxConstants {

// Caller identifiers: a reader's source_name, the source of its statements
// and records, and the keys of the merge ranks.
inline constexpr const char* CALLER_PHARMCAT_REPORT = "pharmcat_report";
inline constexpr const char* CALLER_PHARMCAT_PHENOTYPE = "pharmcat_phenotype";
inline constexpr const char* CALLER_PBSTARPHASE = "pbstarphase";
inline constexpr const char* CALLER_PYPGX = "pypgx";
inline constexpr const char* CALLER_DIPLOTYPE_TABLE = "diplotype_table";
inline constexpr const char* CALLER_CYRIUS = "cyrius";
inline constexpr const char* CALLER_ALDY = "aldy";
inline constexpr const char* CALLER_STELLARPGX = "stellarpgx";

// Request keys, in request order.
inline constexpr const char* INPUT_FILES = "input_files";
inline constexpr const char* INPUT_DIR = "input_dir";
inline constexpr const char* OUTPUT_DIR = "output_dir";
inline constexpr const char* OUTPUT_JSON = "output_json";
inline constexpr const char* GZIP_OUTPUT = "gzip_output";
inline constexpr const char* WRITE_PROVENANCE = "write_provenance";
inline constexpr const char* RECOVER_DROPPED_GENES = "recover_dropped_genes";
inline constexpr const char* GENE_FILTER = "gene_filter";
inline constexpr const char* PHENOTYPE_SOURCE = "phenotype_source";
inline constexpr const char* SAMPLE = "sample";
inline constexpr const char* FHIR = "fhir";
// Optional: the sample sheet of a cohort run.
inline constexpr const char* COHORT = "cohort";
// Optional: the most bytes one input file or mapping table may hold.
inline constexpr const char* MAX_INPUT_SIZE = "max_input_size";

// Member names of the result object: a hard contract with the consumer.
inline constexpr const char* ID = "Id";
inline constexpr const char* NAME = "Name";
inline constexpr const char* STAR_ALLELE = "StarAllele";
inline constexpr const char* ACTIVITY = "Activity";

// Member names of the per-gene provenance object after ID.
inline constexpr const char* SOURCE = "source";
inline constexpr const char* PROVENANCE_PHENOTYPE_SOURCE = "phenotypeSource";
inline constexpr const char* WARNINGS = "warnings";

// Mapping-table identifiers (also the table file names without ".json").
inline constexpr const char* MAPPING_GENE_RULES = "gene_rules";
inline constexpr const char* MAPPING_PHENOTYPE_TERMS = "phenotype_terms";
inline constexpr const char* MAPPING_GENOTYPE_TERMS = "genotype_terms";
// Read only for the FHIR export.
inline constexpr const char* MAPPING_GENE_TABLE = "gene_table";

// Default file names.
inline constexpr const char* DEFAULT_OUTPUT_JSON = "helvara_pgx.json";
inline constexpr const char* PROVENANCE_SUFFIX = ".provenance.json";
inline constexpr const char* FHIR_SUFFIX = ".fhir.json";

}  // namespace callset_converter::HelvaraPgxConstants
