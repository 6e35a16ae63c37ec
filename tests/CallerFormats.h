#pragma once

// The smallest files of the CYP2D6 specialists' formats that carry one call:
// given a sample, gene, diplotype and phenotype, the file's text as the
// caller writes it.

#include <string>

namespace callset_converter::testing {

// Cyrius's table (BCyrius's columns when a phenotype is given). Cyrius
// calls CYP2D6 only: `gene` is not written.
inline std::string cyrius_tsv(const std::string& sample, const std::string& /*gene*/, const std::string& diplotype,
                              const std::string& phenotype = "") {
  if (phenotype.empty()) return "Sample\tGenotype\tFilter\n" + sample + "\t" + diplotype + "\tPASS\n";
  return "Sample\tGenotype\tFilter\tActivity score\tPredicted phenotype\n" + sample + "\t" + diplotype + "\tPASS\t-\t" +
         phenotype + "\n";
}

// Aldy's .aldy report with one solution (the cpic= member only with a
// phenotype), two gene copies, one with a variant.
inline std::string aldy_report(const std::string& sample, const std::string& gene, const std::string& diplotype,
                               const std::string& phenotype = "") {
  std::string text =
      "#Sample\tGene\tSolutionID\tMajor\tMinor\tCopy\tAllele\tLocation\tType\tCoverage\tEffect\tdbSNP\tCode\tStatus\n"
      "#Solution 1: *1.001, *4.001";
  if (!phenotype.empty()) text += "; gene=" + gene + "-pharmvar-6.2.14 (2025-07-20); cpic=" + phenotype;
  text += "\n";
  const std::string lead = sample + "\t" + gene + "\t1\t" + diplotype + "\t1.001;4.001\t";
  text += lead + "0\t1.001\t\t\t\t\t\t\n";
  text += lead + "1\t4.001\t42128945\tC>T\t31\tsplicing defect\trs3892097\t1846G>A\tnormal\n";
  return text;
}

// StellarPGx's <sample>_<gene>.alleles: the sample is in the file name only.
inline std::string stellarpgx_file_name(const std::string& sample, const std::string& gene) {
  return sample + "_" + gene + ".alleles";
}
inline std::string stellarpgx_result(const std::string& /*sample*/, const std::string& gene,
                                     const std::string& diplotype, const std::string& phenotype = "") {
  return "--------------------------------------------\n\n" + gene +
         " Star Allele Calling with StellarPGx\n\n--------------------------------------------\n\n"
         "Initially computed CN = 2\n\n\nSample core variants:\n42126611~C>G~1/1\n\n\nCandidate "
         "alleles:\n['1.v1_4.v1']\n\n\n"
         "Result:\n" +
         diplotype + "\n\n\nActivity score:\n1.0\n\n\nMetaboliser status:\n" + phenotype + "\n";
}

}  // namespace callset_converter::testing
