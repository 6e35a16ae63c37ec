#!/usr/bin/env bash
# Runs the converter with --fhir over the bundled example (plain, gzipped,
# filtered, without sidecar), over a table of edge cases, and over every real
# PharmCAT output and one sample of the PyPGx cohort table when that folder
# is present, then checks every Bundle written, and the golden Bundles,
# against the FHIR R4 schema and the Genomics Reporting rules (and each
# against the result and sidecar beside it), and every result, sidecar and
# example request against the published schemas.
# Reports itself skipped (77) when node or the npm packages of tests/ are
# missing; scripts/run-tests installs them.
# Usage: check-outputs.sh CONVERTER SOURCE_DIR REALDATA_DIR
set -euo pipefail
converter=$1
source_dir=$2
realdata=$3
tools=$source_dir/tests/tools

if ! command -v node >/dev/null 2>&1 || [ ! -d "$source_dir/tests/node_modules/fhirpath" ]; then
  echo "skipped: node or the test packages are missing (cd tests && npm ci --ignore-scripts)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

convert() {
  local name=$1
  shift
  if ! "$converter" --fhir --output-dir "$work/$name" "$@" 2>"$work/$name.log"; then
    echo "conversion failed: $*" >&2
    cat "$work/$name.log" >&2
    exit 1
  fi
}

convert example --input-dir "$source_dir/examples"
convert example-gzip --gzip --input-dir "$source_dir/examples"
convert example-filtered --genes CYP2D6 HLA-B --input-dir "$source_dir/examples"
convert example-no-sidecar --no-provenance --input-dir "$source_dir/examples"
# edge NAME FILE CONTENT [FILE CONTENT]...: one run over hand-made inputs.
edge() {
  local name=$1
  shift
  mkdir -p "$work/in-$name"
  while [ $# -gt 0 ]; do
    printf '%b' "$2" >"$work/in-$name/$1"
    shift 2
  done
  convert "$name" --input-dir "$work/in-$name"
}
edge phenotype-only upload.csv 'Gene,Diplotype,Phenotype\nCYP2C9,Unknown/Unknown,Poor Metabolizer\n'
edge neither upload.csv 'Gene,Diplotype,Phenotype\nTPMT,Unknown/Unknown,\nCYP2D6,*1/*1,Normal Metabolizer\n'
edge null-activity upload.csv 'Gene,Diplotype,Phenotype\nCYP4F2,*1/*1,\nVKORC1,-1639 GG/-1639 GG,no such term\n'
edge one-field-hla upload.csv 'Gene,Diplotype,Phenotype\nHLA-B,*57/*58,*57:01 positive\nHLA-A,*31:01/*02:01,*31:01 negative\n'
edge discordant-pair calls.tsv '#gene\tdiplotype\nCYP2D6\t*1/*4\n' \
  upload.csv 'Gene,Diplotype,Phenotype\nCYP2D6,*1/*2,Normal Metabolizer\nCYP2C19,*1/*17,Rapid Metabolizer\n'
edge markup upload.csv 'Gene,Diplotype,Phenotype\nDPYD,<b>c.1905+1G>A</b>&amp;/Reference\x01,Normal Metabolizer\n'
if [ -f "$realdata/pypgx/cohort-0.16.0/CYP2D6.tsv" ]; then
  convert pypgx-cohort --sample NA07019_PyPGx "$realdata/pypgx/cohort-0.16.0/CYP2D6.tsv"
fi
if [ -d "$realdata/pharmcat" ]; then
  for file in "$realdata"/pharmcat/*.json; do
    convert "real-$(basename "$file" .json)" "$file"
  done
fi

node "$tools/check-fhir-bundles.js" "$work"/*/*.fhir.json "$source_dir"/tests/data/fhir/*.fhir.json
node "$tools/check-json-schemas.js" "$source_dir/schemas" \
  result "$work"/*/helvara_pgx.json \
  provenance "$work"/*/helvara_pgx.provenance.json \
  request "$source_dir/tests/data/schemas/request.examples.json" \
  result "$source_dir/tests/data/schemas/result.examples.json" \
  provenance "$source_dir/tests/data/schemas/provenance.examples.json"
