#pragma once

// The cohort part of the benchmark: a sheet of N samples sharing twenty
// PyPGx cohort tables of N rows, each with its own uploaded CSV, converted
// in one cohort run against N one-sample runs and against the floor of
// writing and syncing each sample's two files.

namespace callset_bench {

// `callset-bench --cohort [...]`: the arguments after the program name.
int cohort_main(int argc, char** argv);

}  // namespace callset_bench
