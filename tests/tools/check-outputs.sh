#!/usr/bin/env bash
# Runs the converter with --fhir over the bundled example (plain, gzipped,
# filtered, without sidecar) and over every real PharmCAT output when that
# folder is present, then checks every Bundle written, and the golden
# Bundles, against the FHIR R4 schema and the Genomics Reporting rules, and
# every result, sidecar and example request against the published schemas.
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
