#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a temporary root and converts
# the example sample with the unpacked program.
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build_dir" && cpack -G DEB -B "$work/package" >/dev/null)
deb=$(ls "$work"/package/*.deb)
dpkg-deb --field "$deb" Depends | grep -q zlib1g
dpkg-deb --field "$deb" Depends | grep -q libssl3
dpkg-deb --field "$deb" Depends | grep -q libsimdjson
dpkg-deb -x "$deb" "$work/root"
for schema in result provenance request; do
  test -f "$work/root/usr/share/callset-converter/schemas/$schema.schema.json"
done
"$work/root/usr/bin/callset-converter" --fhir --input-dir "$source_dir/examples" \
  --output-dir "$work/out" 2>/dev/null
grep -q '"Id": "CYP2D6"' "$work/out/helvara_pgx.json"
test -f "$work/out/helvara_pgx.provenance.json"
grep -q '"resourceType": "Bundle"' "$work/out/helvara_pgx.fhir.json"
echo "debian package: ok"
