#!/usr/bin/env bash
# Installs the built tree into a temporary prefix, builds the small consumer
# project against the installed CMake package and runs it on the example
# sample; the installed tables must be there and the libraries must sit in
# the package's own folder.
set -euo pipefail
build_dir=$1
source_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
test -x "$work/prefix/bin/callset-converter"
test -f "$work/prefix/share/callset-converter/mappings/gene_rules.json"
for schema in result provenance request; do
  test -f "$work/prefix/share/callset-converter/schemas/$schema.schema.json"
done
ls "$work/prefix"/lib*/callset-converter/libCallsetConverter.so >/dev/null
if ls "$work/prefix"/lib*/lib*.so >/dev/null 2>&1; then
  echo "libraries installed into the generic library folder" >&2
  exit 1
fi

cmake -S "$source_dir/tests/install/consumer" -B "$work/consumer" \
  -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/consumer" >/dev/null
"$work/consumer/consumer" "$source_dir/examples" > "$work/result.json"
grep -q '"Id": "CYP2D6"' "$work/result.json"

"$work/prefix/bin/callset-converter" --version | grep -q '^callset-converter '
echo "install and consumer build: ok"
