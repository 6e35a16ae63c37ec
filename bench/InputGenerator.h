#pragma once

// Realistic large inputs for the benchmark, written with a fixed seed so
// that every run of a scale produces the same bytes.

#include <cstddef>
#include <string>
#include <vector>

namespace callset_bench {

// How large the generated inputs are.
struct Scale {
  std::string name;
  // Sizes of the PharmCAT reports, each written in both layouts.
  std::vector<std::size_t> report_bytes;
  // Genes of the pbStarPhase summaries: a real-sized one, then half and full.
  std::size_t summary_genes_real = 35;
  std::size_t summary_genes_half = 0;
  std::size_t summary_genes_full = 0;
  // Sample rows of the PyPGx table and rows of the upload CSV: half, full.
  std::size_t rows_half = 0;
  std::size_t rows_full = 0;
  // Small sample files in the directory input.
  std::size_t directory_files = 0;
};

// 1, 10 and 100 MB reports, 20,000 genes, 100,000 rows, 1,000 files.
Scale full_scale();
// Inputs small enough for a check that the benchmark works, in seconds.
Scale smoke_scale();

// What one converter run reads.
enum class InputKind {
  Report,         // a PharmCAT report JSON, dispatched by its name
  SniffedReport,  // the same report under a name that says nothing
  Summary,        // a pbStarPhase summary JSON
  SampleTable,    // a PyPGx per-gene sample table
  UploadCsv,      // an uploaded Gene/Diplotype CSV
  UploadJson,     // an uploaded JSON object keyed by gene, content sniffed
  Directory,      // a directory of small sample files
};

struct InputCase {
  std::string name;
  InputKind kind;
  // The file, or the directory for InputKind::Directory.
  std::string path;
  // Bytes read by the run (all files of a directory).
  std::size_t bytes = 0;
};

// The sample the benchmark reads (--sample) from its PyPGx cohort tables:
// the name of their first row. Every row is still read and compared.
inline constexpr const char* PYPGX_SAMPLE = "NA000000_PyPGx";

// The inputs of `scale` under `dir`, writing each one that is missing or
// was left incomplete. Returns them in benchmark order.
std::vector<InputCase> prepare_inputs(const std::string& dir, const Scale& scale);

}  // namespace callset_bench
